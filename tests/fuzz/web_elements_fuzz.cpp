// A web host response as the account requests read it: every profile
// element into its fixed field, the é entity decoded in place, BACKGROUND
// into the panel colour. A field is either the whole value, terminated
// inside its buffer, or left as it was.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Orva-Lin/text_decode.h"
#include "Orva-Lin/web/elements.h"

namespace {

struct Element {
  const char* name;
  std::size_t size;
};
constexpr Element kElements[] = {{"PRENOM", 64},  {"VILLE", 64},     {"PHRASE", 128}, {"JOUR", 64},
                                 {"EMAIL", 128},  {"FOLDER", 64},    {"BACKGROUND", 16},
                                 {"A", 2},        {"", 8}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const char> body(reinterpret_cast<const char*>(data), size);
  for (const Element& e : kElements) {
    char field[129];
    std::memset(field, 0x55, sizeof field);
    field[e.size] = 0x77;   // the byte past the buffer must stay as it was
    if (extractElement(body, e.name, field, e.size)) {
      if (std::memchr(field, '\0', e.size) == nullptr) __builtin_trap();
      decodeEacute(field);
      if (std::strcmp(e.name, "BACKGROUND") == 0 && parseBackground(field, 0x123456) > 0xFFFFFF) {
        __builtin_trap();
      }
    } else if (field[0] != 0x55) {
      __builtin_trap();
    }
    if (field[e.size] != 0x77) __builtin_trap();
  }
  return 0;
}
