#include "Orva-Lin/web/share_layout.h"

#include <algorithm>

namespace share {

Placement placePicture(int clientWidth, int clientHeight, int pictureWidth, int pictureHeight) {
  if (clientWidth <= 0 || clientHeight <= 0 || pictureWidth <= 0 || pictureHeight <= 0) return {0, 0, 0, 0};
  const float s = std::min(static_cast<float>(clientWidth) / static_cast<float>(pictureWidth),
                           static_cast<float>(clientHeight) / static_cast<float>(pictureHeight));
  const int width = static_cast<int>(s * static_cast<float>(pictureWidth));
  const int height = static_cast<int>(s * static_cast<float>(pictureHeight));
  return {(clientWidth - width) / 2, (clientHeight - height) / 2, width, height};
}

int scrollRangeEnd(int pictureSize) { return std::max(0, pictureSize - kScrollFrame); }

bool pictureSizeAccepted(std::int64_t width, std::int64_t height) {
  return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
         width * height <= kMaxPicturePixels;
}

}  // namespace share
