#include "Orva-Lin/web/elements.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr std::size_t kTagChars = 64;  // 63 characters and the terminator
constexpr std::uint32_t kColourBits = 0xFFFFFF;

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool extractElement(std::span<const char> body, const char* name, char* field, std::size_t size) {
  if (!name || !field || size == 0) return false;
  char open[kTagChars];
  char close[kTagChars];
  const int o = std::snprintf(open, sizeof open, "<%s>", name);
  const int c = std::snprintf(close, sizeof close, "</%s>", name);
  if (o < 0 || c < 0 || static_cast<std::size_t>(c) >= sizeof close) return false;
  // A text body ends at its first zero byte, as a string search would.
  const std::string_view text(body.data(), std::find(body.begin(), body.end(), '\0') - body.begin());
  const std::size_t start = text.find(open);
  if (start == std::string_view::npos) return false;
  const std::size_t valueAt = start + static_cast<std::size_t>(o);
  const std::size_t end = text.find(close, valueAt);
  if (end == std::string_view::npos) return false;
  const std::size_t length = end - valueAt;
  if (length >= size) return false;
  std::memcpy(field, text.data() + valueAt, length);
  field[length] = '\0';
  return true;
}

std::uint32_t parseBackground(const char* text, std::uint32_t current) {
  if (!text) return current;
  while (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n') ++text;
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X') && hexDigit(text[2]) >= 0) text += 2;
  if (hexDigit(*text) < 0) return current;
  std::uint32_t value = 0;
  for (int d; (d = hexDigit(*text)) >= 0; ++text) value = ((value << 4) | static_cast<std::uint32_t>(d)) & kColourBits;
  return value;
}
