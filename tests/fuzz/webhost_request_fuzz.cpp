// What the web host reads from a request's path, query and form fields: the
// member number in /users/N/..., the channel in ?F=, a colour, and the
// profile values a member saves. A value the host accepts must come back to
// the client whole: client.xml carries it, the client's element search finds
// it in a field of the client's size, and decoding gives the same bytes.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "Orva-Lin/text_decode.h"
#include "Orva-Lin/web/elements.h"
#include "servers/webhost/webhost.h"
#include "tests/fuzz/fuzz_input.h"

using namespace webhost;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Profile profile;
  bool accepted[kFieldCount] = {};
  fuzzin::Reader in(data, size, 512);
  fuzzin::Record r;
  while (in.next(r)) {
    const std::string_view text(reinterpret_cast<const char*>(r.bytes.data()), r.bytes.size());
    const int number = parseMemberNumber(text);
    if (number < 0 || number > 65535 || (number > 0 && text.find_first_not_of("0123456789") !=
                                                           std::string_view::npos)) {
      __builtin_trap();
    }
    const int channel = parseChannel(text);
    if (channel < -1 || channel > 10) __builtin_trap();
    std::uint8_t red, green, blue;
    if (parseRgb(text, red, green, blue)) {
      std::string upper(text.substr(text[0] == '#' ? 1 : 0));
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (rgbText(red, green, blue) != upper) __builtin_trap();
    }
    if (htmlEscape(text).find_first_of("<>\"'") != std::string::npos) __builtin_trap();
    const int field = r.tag % kFieldCount;
    if (checkFieldValue(static_cast<Field>(field), text).empty()) {
      profile.field[field] = std::string(text);
      accepted[field] = true;
    }
  }
  const std::string xml = clientXml(profile);
  for (int f = 0; f < kFieldCount; ++f) {
    if (!accepted[f]) continue;
    char value[129];
    if (!extractElement(std::span<const char>(xml.data(), xml.size()), kFieldElements[f], value,
                        kFieldBytes[f])) {
      __builtin_trap();   // stored, yet the client would drop it
    }
    decodeEacute(value);
    if (profile.field[f] != value) __builtin_trap();
  }
  return 0;
}
