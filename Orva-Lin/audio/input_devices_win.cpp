#include "Orva-Lin/audio/input_devices.h"

#include <cwchar>

InputDeviceEntry inputDevices[kInputDeviceEntries];
std::int32_t inputDeviceIndex = -1;

void resetInputDeviceTable() {
  for (InputDeviceEntry& e : inputDevices) {
    e.waveInId = -1;
    e.endpointIndex = -1;
    e.iconModule[0] = L'\0';
    std::wcscpy(e.displayName, L"Windows Driver");
    std::wcscpy(e.productName, L"Windows Driver");
  }
  inputDeviceIndex = -1;
}
