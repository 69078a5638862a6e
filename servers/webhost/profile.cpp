// Profile texts: what may be stored, and how client.xml and params.xml carry it.
// The client reads these files with a plain search for "<NAME>" and the next
// "</NAME>", so a value must never hold a tag of its own, and it decodes no
// entity but "&#xE9;".
#include <cstdio>

#include "Orva-Lin/web/records.h"
#include "servers/webhost/webhost.h"

namespace webhost {

namespace {

// Length of the UTF-8 sequence starting at s[i], 0 when it is not valid
// (overlong forms, surrogates and values past U+10FFFF included).
std::size_t utf8Length(std::string_view s, std::size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) return 1;
  std::size_t n;
  unsigned value;
  if (c >= 0xC2 && c <= 0xDF) { n = 2; value = c & 0x1F; }
  else if (c >= 0xE0 && c <= 0xEF) { n = 3; value = c & 0x0F; }
  else if (c >= 0xF0 && c <= 0xF4) { n = 4; value = c & 0x07; }
  else return 0;
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    value = value << 6 | (b & 0x3F);
  }
  if ((n == 3 && (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF))) ||
      (n == 4 && (value < 0x10000 || value > 0x10FFFF)))
    return 0;
  return n;
}

}  // namespace

std::string xmlValue(std::string_view value) {
  std::string out;
  out.reserve(value.size() + 16);
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (i + 1 < value.size() && static_cast<unsigned char>(value[i]) == 0xC3 &&
        static_cast<unsigned char>(value[i + 1]) == 0xA9) {
      out += "&#xE9;";
      ++i;
    } else {
      out += value[i];
    }
  }
  return out;
}

std::string checkFieldValue(Field field, std::string_view value) {
  for (std::size_t i = 0; i < value.size();) {
    const std::size_t n = utf8Length(value, i);
    if (n == 0) return "texte qui n'est pas en UTF-8";
    const auto c = static_cast<unsigned char>(value[i]);
    if (n == 1 && (c < 0x20 || c == 0x7F)) return "caractère de contrôle";
    if (c == '<' || c == '>' || c == '&') return "les caractères < > & ne sont pas permis";
    i += n;
  }
  const std::size_t limit = kFieldBytes[field] - 1;
  if (xmlValue(value).size() > limit) {
    char reason[96];
    std::snprintf(reason, sizeof reason, "texte trop long (%zu octets au plus, é en compte 6)", limit);
    return reason;
  }
  return {};
}

std::string clientXml(const Profile& profile) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CLIENT>\n";
  for (int f = 0; f < kFieldCount; ++f) {
    xml += "  <";
    xml += kFieldElements[f];
    xml += '>';
    xml += xmlValue(profile.field[f]);
    xml += "</";
    xml += kFieldElements[f];
    xml += ">\n";
  }
  xml += "</CLIENT>\n";
  return xml;
}

std::string paramsXml(const Profile& profile) {
  char colour[7];
  web::backgroundText(profile.red, profile.green, profile.blue, colour);
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PARAMS>\n  <BACKGROUND>";
  xml += colour;
  xml += "</BACKGROUND>\n</PARAMS>\n";
  return xml;
}

bool parseRgb(std::string_view text, std::uint8_t& red, std::uint8_t& green, std::uint8_t& blue) {
  if (!text.empty() && text[0] == '#') text.remove_prefix(1);
  if (text.size() != 6) return false;
  unsigned value = 0;
  for (char c : text) {
    unsigned digit;
    if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
    else return false;
    value = value << 4 | digit;
  }
  red = static_cast<std::uint8_t>(value >> 16);
  green = static_cast<std::uint8_t>(value >> 8);
  blue = static_cast<std::uint8_t>(value);
  return true;
}

std::string rgbText(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X%02X%02X", red, green, blue);
  return text;
}

std::string htmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

namespace {
long parseDigits(std::string_view text, long max) {
  if (text.empty() || text.size() > 5) return -1;
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value <= max ? value : -1;
}
}  // namespace

int parseMemberNumber(std::string_view text) {
  const long n = parseDigits(text, web::kAccountMax);
  return n > 0 ? static_cast<int>(n) : 0;
}

int parseChannel(std::string_view text) {
  return static_cast<int>(parseDigits(text, web::kChannelCount - 1));
}

}  // namespace webhost
