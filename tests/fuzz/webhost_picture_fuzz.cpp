// A picture a member uploads (portrait or shared picture): the decoders the
// web host's confined child runs, then the scaling of what they produced.
#include <cstddef>
#include <cstdint>
#include <string>

#include "servers/webhost/webhost.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  webhost::Image image;
  if (webhost::decodePictureInProcess({data, size}, image) != webhost::DecodeResult::Ok) return 0;
  if (image.rgb.size() != static_cast<std::size_t>(image.width) * image.height * 3) __builtin_trap();
  const webhost::Image small = webhost::coverResize(image, webhost::kSmallWidth, webhost::kSmallHeight);
  if (small.width != webhost::kSmallWidth || small.height != webhost::kSmallHeight) __builtin_trap();
  const webhost::Image fit = webhost::fitWithin(image, 64, 64);
  if (fit.width > 64 || fit.height > 64 || fit.width < 1 || fit.height < 1) __builtin_trap();
  return 0;
}
