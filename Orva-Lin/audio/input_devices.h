// The waveform input devices the member can choose from.
#pragma once

#include <atomic>
#include <cstdint>

#include "Orva-Lin/audio/endpoint_description.h"

inline constexpr int kInputDeviceEntries = 15;

struct InputDeviceEntry {
  std::int32_t waveInId;
  std::int32_t endpointIndex;
  wchar_t iconModule[kIconModuleUnits];
  wchar_t displayName[kFriendlyNameUnits];
  wchar_t productName[kFriendlyNameUnits];
};

extern InputDeviceEntry inputDevices[kInputDeviceEntries];
// Written by the selection window, read by each opening of the capture
// device; -1 is the system default device.
extern std::atomic<std::int32_t> inputDeviceIndex;

// Every entry back to "Windows Driver" with no device; the default selected.
void resetInputDeviceTable();

// Where the table's facts come from: the waveform devices' product names
// and the active capture endpoints (false when position j has none).
struct InputDeviceSource {
  int waveInCount;
  void* context;
  bool (*productName)(void* context, int waveInId, wchar_t (&out)[kFriendlyNameUnits]);
  bool (*describeEndpoint)(void* context, int position, EndpointDescription& out);
};

// Fills the entries of the first 15 waveform input devices and matches each
// to an endpoint by name ("Non trouvée" when none agrees). Entries beyond the
// device count keep what they held.
void fillInputDeviceTable(InputDeviceEntry (&table)[kInputDeviceEntries], const InputDeviceSource& source);
