// A picture a member uploads (portrait or shared picture), decoded and
// scaled by the web host before anything is stored.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "servers/webhost/webhost.h"

namespace {

// stb reserves a PNG chunk's declared length before reading it: a 200-byte
// file can ask for 1 GB. In the host that is untouched virtual memory, gone
// at once; under ASan it costs seconds per input. Such files are left out so
// the target keeps its pace (stb still refuses them: "outofdata").
bool pngChunkOverruns(const std::uint8_t* data, std::size_t size) {
  static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (size < 8 || std::memcmp(data, kSignature, 8) != 0) return false;
  for (std::size_t at = 8; at + 8 <= size;) {
    const std::size_t length = (std::size_t{data[at]} << 24) | (data[at + 1] << 16) |
                               (data[at + 2] << 8) | data[at + 3];
    if (length > size - at - 8) return true;
    at += 12 + length;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (pngChunkOverruns(data, size)) return 0;
  webhost::Image image;
  std::string error;
  if (!webhost::decodePicture({data, size}, image, error)) return 0;
  if (image.rgb.size() != static_cast<std::size_t>(image.width) * image.height * 3) __builtin_trap();
  const webhost::Image small = webhost::coverResize(image, webhost::kSmallWidth, webhost::kSmallHeight);
  if (small.width != webhost::kSmallWidth || small.height != webhost::kSmallHeight) __builtin_trap();
  const webhost::Image fit = webhost::fitWithin(image, 64, 64);
  if (fit.width > 64 || fit.height > 64 || fit.width < 1 || fit.height < 1) __builtin_trap();
  return 0;
}
