#include "Orva-Lin/text_decode.h"

#include <cstring>

void decodeEacute(char* text) {
  if (!text) return;
  static constexpr char kEntity[] = "&#xE9;";
  constexpr std::size_t kEntityBytes = sizeof kEntity - 1;
  char* out = text;
  for (const char* in = text; *in;) {
    if (std::strncmp(in, kEntity, kEntityBytes) == 0) {
      *out++ = static_cast<char>(0xC3);
      *out++ = static_cast<char>(0xA9);
      in += kEntityBytes;
    } else {
      *out++ = *in++;
    }
  }
  *out = '\0';
}
