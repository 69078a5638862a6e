// Request paths on the web host: the member and picture-board services, and
// the member's own account resources.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr std::size_t kServicePathUnits = 200;  // terminator included

inline constexpr wchar_t kUsersBase[] = L"/users/";
inline constexpr wchar_t kExchangeBase[] = L"/echange/";

// Variants of a service path: 2 the large picture or the board's second
// picture, 3 the board upload, 5 the member's parameter update; any other
// value (1 by custom) the small picture or the board's first picture.
inline constexpr int kVariantDefault = 1;
inline constexpr int kVariantLarge = 2;
inline constexpr int kVariantBoardUpload = 3;
inline constexpr int kVariantParamsUpdate = 5;

// The base path followed by what its service expects for `number` and
// `variant`; a base other than "/users/" or "/echange/" stands as it is.
// False, with `out` holding an empty text, when the path does not fit.
bool buildServicePath(const wchar_t* base, std::int32_t number, int variant,
                      std::span<wchar_t, kServicePathUnits> out);

enum AccountKind : std::int32_t {
  TalkerImage = 0,
  TalkerProfile = 1,
  OwnProfile = 2,
  OwnParameters = 4,
};

// "/users/<number>/..." for one of the four account requests; false (and an
// empty text) for a kind this system does not use.
bool buildAccountPath(AccountKind kind, std::int32_t number, std::span<wchar_t, kServicePathUnits> out);
