// Texts from the web host, decoded in place: the result stays terminated
// inside the original bytes and never grows.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Orva-Lin/text_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  const std::size_t before = std::strlen(text.data());
  decodeEacute(text.data());
  if (std::strlen(text.data()) > before) __builtin_trap();
  return 0;
}
