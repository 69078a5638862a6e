#include "Orva-Lin/audio/input_devices.h"

#include <cwchar>

InputDeviceEntry inputDevices[kInputDeviceEntries];
std::atomic<std::int32_t> inputDeviceIndex{-1};

namespace {
constexpr wchar_t kNoDeviceName[] = L"Windows Driver";
constexpr wchar_t kNoEndpointName[] = L"Non trouvée";
constexpr int kEndpointsTried = 15;
}  // namespace

void resetInputDeviceTable() {
  for (InputDeviceEntry& e : inputDevices) {
    e.waveInId = -1;
    e.endpointIndex = -1;
    e.iconModule[0] = L'\0';
    copyWide(e.displayName, kFriendlyNameUnits, kNoDeviceName);
    copyWide(e.productName, kFriendlyNameUnits, kNoDeviceName);
  }
  inputDeviceIndex.store(-1);
}

void fillInputDeviceTable(InputDeviceEntry (&table)[kInputDeviceEntries], const InputDeviceSource& source) {
  if (source.waveInCount <= 0) return;
  const int devices = source.waveInCount < kInputDeviceEntries ? source.waveInCount : kInputDeviceEntries;
  for (int id = 0; id < devices; ++id) {
    source.productName(source.context, id, table[id].productName);
    table[id].waveInId = id;
  }
  for (int id = 0; id < devices; ++id) {
    InputDeviceEntry& e = table[id];
    e.endpointIndex = -1;
    copyWide(e.displayName, kFriendlyNameUnits, kNoEndpointName);
    for (int j = 0; j < kEndpointsTried; ++j) {
      EndpointDescription d{};
      if (!source.describeEndpoint(source.context, j, d)) continue;
      if (!productNameMatches(e.productName, d.friendlyName)) continue;
      e.endpointIndex = j;
      copyWide(e.displayName, kFriendlyNameUnits, d.friendlyName);
      copyWide(e.iconModule, kIconModuleUnits, d.iconModule);
      break;
    }
  }
}
