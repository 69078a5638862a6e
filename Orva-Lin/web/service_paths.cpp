#include "Orva-Lin/web/service_paths.h"

#include <cstdio>
#include <cwchar>

namespace {

bool format(std::span<wchar_t, kServicePathUnits> out, const wchar_t* pattern, const wchar_t* base,
            std::int32_t number) {
  const int n = std::swprintf(out.data(), out.size(), pattern, base, static_cast<int>(number));
  if (n < 0 || static_cast<std::size_t>(n) >= out.size()) {
    out[0] = L'\0';
    return false;
  }
  return true;
}

}  // namespace

bool buildServicePath(const wchar_t* base, std::int32_t number, int variant,
                      std::span<wchar_t, kServicePathUnits> out) {
  out[0] = L'\0';
  if (!base) return false;
  if (std::wcscmp(base, kUsersBase) == 0) {
    const wchar_t* pattern = variant == kVariantLarge          ? L"%ls%d/images.php?N=2"
                             : variant == kVariantParamsUpdate ? L"%ls%d/params.php"
                                                               : L"%ls%d/images.php?N=1";
    return format(out, pattern, base, number);
  }
  if (std::wcscmp(base, kExchangeBase) == 0) {
    if (variant == kVariantBoardUpload) return format(out, L"%lspc_img_share_post.php", base, number);
    const wchar_t* pattern =
        variant == kVariantLarge ? L"%lspc_img_share_get.php?F=%d&N=2" : L"%lspc_img_share_get.php?F=%d&N=1";
    return format(out, pattern, base, number);
  }
  return format(out, L"%ls", base, number);
}

bool buildAccountPath(AccountKind kind, std::int32_t number, std::span<wchar_t, kServicePathUnits> out) {
  switch (kind) {
    case TalkerImage: return buildServicePath(kUsersBase, number, kVariantLarge, out);
    case TalkerProfile:
    case OwnProfile: return format(out, L"%ls%d/client.xml", kUsersBase, number);
    case OwnParameters: return format(out, L"%ls%d/params.xml", kUsersBase, number);
  }
  out[0] = L'\0';
  return false;
}
