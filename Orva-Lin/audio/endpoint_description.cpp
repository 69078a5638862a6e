#include "Orva-Lin/audio/endpoint_description.h"

#include <cwchar>

void copyWide(wchar_t* out, std::size_t outUnits, const wchar_t* text) {
  if (outUnits == 0) return;
  std::size_t i = 0;
  for (; text && text[i] && i + 1 < outUnits; ++i) out[i] = text[i];
  out[i] = L'\0';
}

bool splitIconPath(const wchar_t* path, EndpointDescription& d) {
  const wchar_t* comma = path ? std::wcschr(path, L',') : nullptr;
  if (!comma) {
    d.iconId = 0;
    return false;
  }
  const std::size_t moduleUnits = static_cast<std::size_t>(comma - path);
  const std::size_t keep = moduleUnits < kIconModuleUnits - 1 ? moduleUnits : kIconModuleUnits - 1;
  std::wmemcpy(d.iconModule, path, keep);
  d.iconModule[keep] = L'\0';
  wchar_t id[kIconIdUnits + 1];
  copyWide(id, sizeof id / sizeof id[0], comma + 1);
  d.iconId = static_cast<std::int32_t>(std::wcstol(id, nullptr, 10));
  return true;
}

bool productNameMatches(const wchar_t* productName, const wchar_t* friendlyName) {
  const std::size_t a = std::wcslen(productName), b = std::wcslen(friendlyName);
  const std::size_t n = a < b ? a : b;
  return n > 0 && std::wcsncmp(productName, friendlyName, n) == 0;
}
