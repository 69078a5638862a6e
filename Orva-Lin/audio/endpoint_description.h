// What the parameters window shows of an audio endpoint, and how a waveform
// input device is matched to one.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kFriendlyNameUnits = 256;
inline constexpr std::size_t kIconModuleUnits = 260;
inline constexpr std::size_t kIconIdUnits = 9;

struct EndpointDescription {
  wchar_t friendlyName[kFriendlyNameUnits];
  wchar_t iconModule[kIconModuleUnits];
  std::int32_t iconId;
};

// Copies at most outUnits - 1 units and always terminates.
void copyWide(wchar_t* out, std::size_t outUnits, const wchar_t* text);

// An icon path "module,id": the module before the first comma, the decimal
// id (usually negative) from at most 9 units after it. Without a comma the
// id is 0, the module is left as it was, and the result is false.
bool splitIconPath(const wchar_t* path, EndpointDescription& d);

// The waveform API cuts product names short (31 characters), so a product
// name agrees with an endpoint's friendly name over the shorter of the two.
// An empty name agrees with nothing: a failed description must not match
// every device.
bool productNameMatches(const wchar_t* productName, const wchar_t* friendlyName);
