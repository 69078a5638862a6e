// How the shared picture sits in the share window: scaled to fit with its
// proportions kept, centred, and the scroll ranges the window sets for it.
#pragma once

#include <cstdint>

namespace share {

struct Placement {
  int left, top, width, height;
};
// Scale s = min(W / w, H / h) in single precision; the drawn size is s w by
// s h truncated, centred in integer arithmetic on the truncated sizes. A
// zero or negative size on either side places nothing (all zero).
Placement placePicture(int clientWidth, int clientHeight, int pictureWidth, int pictureHeight);

// Scroll bars appear for pictures wider or taller than this.
inline constexpr int kScrollFrame = 600;
// Upper end of a scroll range (0..size - 600), never below 0, since a range
// whose end is below its start is refused.
int scrollRangeEnd(int pictureSize);

// Pictures are decoded into 32-bit bitmaps, so their size is bounded before
// a single pixel is made: a tiny file may claim a 60000 x 60000 picture.
inline constexpr int kMaxPictureSide = 16384;
inline constexpr std::int64_t kMaxPicturePixels = 25'000'000;   // 100 MB at 32 bits
bool pictureSizeAccepted(std::int64_t width, std::int64_t height);

}  // namespace share
