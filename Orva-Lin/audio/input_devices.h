// The waveform input devices the member can choose from.
#pragma once

#include <cstdint>

inline constexpr int kInputDeviceEntries = 15;

struct InputDeviceEntry {
  std::int32_t waveInId;
  std::int32_t endpointIndex;
  wchar_t iconModule[260];
  wchar_t displayName[256];
  wchar_t productName[256];
};

extern InputDeviceEntry inputDevices[kInputDeviceEntries];
extern std::int32_t inputDeviceIndex;  // -1: the system default device

// Every entry back to "Windows Driver" with no device; the default selected.
void resetInputDeviceTable();
