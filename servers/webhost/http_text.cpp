// Texts that come from a request and end up in a log line, a stored name or
// a header decision. Pure functions, tested on their own.
#include <arpa/inet.h>

#include <cstdio>
#include <cstring>

#include "servers/webhost/webhost.h"

namespace webhost {

std::string escapeLogText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F || c == '\\') {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    } else {
      out += ch;
    }
  }
  return out;
}

namespace {
// Windows-1252 0x80..0x9F; 0 where the code page defines no character.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
}  // namespace

void appendUtf8(std::string& out, char16_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool cp1252ToUtf8(std::string_view text, std::string& out) {
  out.clear();
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    char16_t u = c;
    if (c >= 0x80 && c <= 0x9F) u = kHighControls[c - 0x80];
    if (u == 0 || c < 0x20 || c == 0x7F) return false;
    appendUtf8(out, u);
  }
  return true;
}

bool isSingleRange(std::string_view header) {
  auto trim = [](std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
  };
  header = trim(header);
  if (header.substr(0, 6) != "bytes=") return false;
  const std::string_view spec = trim(header.substr(6));
  const std::size_t dash = spec.find('-');
  if (dash == std::string_view::npos || spec.find('-', dash + 1) != std::string_view::npos) return false;
  const std::string_view first = spec.substr(0, dash), last = spec.substr(dash + 1);
  auto digits = [](std::string_view s) {
    if (s.size() > 18) return false;   // fits a 64-bit offset
    for (const char c : s)
      if (c < '0' || c > '9') return false;
    return true;
  };
  if ((first.empty() && last.empty()) || !digits(first) || !digits(last)) return false;
  return first.empty() || last.empty() || std::stoull(std::string(first)) <= std::stoull(std::string(last));
}

std::string addressGroup(std::string_view address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.size() >= sizeof text) return std::string(address);
  std::memcpy(text, address.data(), address.size());
  in6_addr v6{};
  if (inet_pton(AF_INET6, text, &v6) != 1 || IN6_IS_ADDR_V4MAPPED(&v6)) return std::string(address);
  std::memset(v6.s6_addr + 8, 0, 8);
  if (!inet_ntop(AF_INET6, &v6, text, sizeof text)) return std::string(address);
  return std::string(text) + "/64";
}

}  // namespace webhost
