// Pictures: cropped, scaled and written back as PNG with stb, so whatever
// format a member or an operator brings (decoded by decode.cpp), the client
// gets the PNG it insists on, at the size it draws. stb only ever sees the
// pixels the decoders produced, never a stranger's bytes.
#include <stb_image_resize.h>
#include <stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "servers/webhost/webhost.h"

namespace webhost {

bool isPng(std::string_view bytes) {
  static constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  return bytes.size() > 8 && std::memcmp(bytes.data(), kSignature, 8) == 0;
}

namespace {
Image scaled(const Image& in, int x, int y, int w, int h, int width, int height) {
  Image out;
  out.width = width;
  out.height = height;
  out.rgb.resize(static_cast<std::size_t>(width) * height * 3);
  const std::uint8_t* origin = in.rgb.data() + (static_cast<std::size_t>(y) * in.width + x) * 3;
  stbir_resize_uint8(origin, w, h, in.width * 3, out.rgb.data(), width, height, width * 3, 3);
  return out;
}
}  // namespace

Image coverResize(const Image& in, int width, int height) {
  // The largest centred window of the target's proportions.
  int w = in.width, h = in.height;
  if (static_cast<long>(in.width) * height > static_cast<long>(in.height) * width)
    w = std::max(1, static_cast<int>(static_cast<long>(in.height) * width / height));
  else
    h = std::max(1, static_cast<int>(static_cast<long>(in.width) * height / width));
  return scaled(in, (in.width - w) / 2, (in.height - h) / 2, w, h, width, height);
}

Image fitWithin(const Image& in, int maxWidth, int maxHeight) {
  if (in.width <= maxWidth && in.height <= maxHeight) return in;
  const double s = std::min(static_cast<double>(maxWidth) / in.width,
                            static_cast<double>(maxHeight) / in.height);
  const int width = std::max(1, static_cast<int>(in.width * s));
  const int height = std::max(1, static_cast<int>(in.height * s));
  return scaled(in, 0, 0, in.width, in.height, width, height);
}

std::string encodePng(const Image& image) {
  std::string png;
  stbi_write_png_to_func(
      [](void* context, void* data, int size) {
        static_cast<std::string*>(context)->append(static_cast<const char*>(data),
                                                   static_cast<std::size_t>(size));
      },
      &png, image.width, image.height, 3, image.rgb.data(), image.width * 3);
  return png;
}

Image generatedPortrait(int number, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  Image out;
  out.width = kLargeWidth;
  out.height = kLargeHeight;
  out.rgb.resize(static_cast<std::size_t>(out.width) * out.height * 3);
  // The figure takes a light tint that differs from member to member.
  const unsigned hash = static_cast<unsigned>(number) * 2654435761u;
  const std::uint8_t figure[3] = {static_cast<std::uint8_t>(150 + (hash >> 8) % 100),
                                  static_cast<std::uint8_t>(150 + (hash >> 16) % 100),
                                  static_cast<std::uint8_t>(150 + (hash >> 24) % 100)};
  const std::uint8_t ground[3] = {red, green, blue};
  const double cx = out.width / 2.0, headY = out.height * 0.38, headR = out.width * 0.22;
  const double shoulderY = out.height * 0.98, shoulderRx = out.width * 0.42,
               shoulderRy = out.height * 0.36;
  constexpr int kSamples = 4;   // per side: smooth edges without a drawing library
  for (int y = 0; y < out.height; ++y) {
    // A soft vertical shade keeps the ground from looking flat.
    const double shade = 0.75 + 0.25 * (1.0 - static_cast<double>(y) / out.height);
    for (int x = 0; x < out.width; ++x) {
      int inside = 0;
      for (int sy = 0; sy < kSamples; ++sy) {
        for (int sx = 0; sx < kSamples; ++sx) {
          const double dx = x + (sx + 0.5) / kSamples - cx;
          const double py = y + (sy + 0.5) / kSamples;
          const double hy = py - headY, by = py - shoulderY;
          if (dx * dx + hy * hy <= headR * headR ||
              (dx * dx) / (shoulderRx * shoulderRx) + (by * by) / (shoulderRy * shoulderRy) <= 1)
            ++inside;
        }
      }
      const double cover = static_cast<double>(inside) / (kSamples * kSamples);
      std::uint8_t* p = out.rgb.data() + (static_cast<std::size_t>(y) * out.width + x) * 3;
      for (int c = 0; c < 3; ++c)
        p[c] = static_cast<std::uint8_t>(std::lround(figure[c] * cover + ground[c] * shade * (1 - cover)));
    }
  }
  return out;
}

bool makePortraits(std::span<const std::uint8_t> bytes, std::string& small, std::string& large,
                   std::string& error) {
  Image picture;
  if (!decodePicture(bytes, picture, error)) return false;
  large = encodePng(coverResize(picture, kLargeWidth, kLargeHeight));
  small = encodePng(coverResize(picture, kSmallWidth, kSmallHeight));
  if (large.empty() || small.empty()) {
    error = "conversion en PNG impossible";
    return false;
  }
  return true;
}

}  // namespace webhost
