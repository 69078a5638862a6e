// 8-bit texts in the Windows ANSI code page (Windows-1252), written as UTF-8
// in the source and converted at compile time, so the program carries exactly
// the bytes that go on the wire and into the status line. A character that
// Windows-1252 cannot hold stops the build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace ansi {

// Windows-1252 byte for a code point, or -1 when it has none.
constexpr int byteFor(std::uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  switch (cp) {
    case 0x20AC: return 0x80;
    case 0x201A: return 0x82;
    case 0x0192: return 0x83;
    case 0x201E: return 0x84;
    case 0x2026: return 0x85;
    case 0x2020: return 0x86;
    case 0x2021: return 0x87;
    case 0x02C6: return 0x88;
    case 0x2030: return 0x89;
    case 0x0160: return 0x8A;
    case 0x2039: return 0x8B;
    case 0x0152: return 0x8C;
    case 0x017D: return 0x8E;
    case 0x2018: return 0x91;
    case 0x2019: return 0x92;
    case 0x201C: return 0x93;
    case 0x201D: return 0x94;
    case 0x2022: return 0x95;
    case 0x2013: return 0x96;
    case 0x2014: return 0x97;
    case 0x02DC: return 0x98;
    case 0x2122: return 0x99;
    case 0x0161: return 0x9A;
    case 0x203A: return 0x9B;
    case 0x0153: return 0x9C;
    case 0x017E: return 0x9E;
    case 0x0178: return 0x9F;
    default: return -1;
  }
}

// Converts UTF-8 to Windows-1252. Returns the number of bytes written (no
// terminator), or -1 for malformed UTF-8, an unmappable character or an
// output that does not fit.
constexpr long fromUtf8(std::string_view utf8, std::span<char> out) {
  std::size_t o = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b0 = static_cast<std::uint8_t>(utf8[i]);
    std::uint32_t cp = 0;
    std::size_t extra = 0;
    if (b0 < 0x80) {
      cp = b0;
    } else if ((b0 & 0xE0) == 0xC0) {
      cp = b0 & 0x1F;
      extra = 1;
    } else if ((b0 & 0xF0) == 0xE0) {
      cp = b0 & 0x0F;
      extra = 2;
    } else {
      return -1;  // four-byte sequences have no Windows-1252 byte anyway
    }
    if (i + extra >= utf8.size()) return -1;  // sequence cut short
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto b = static_cast<std::uint8_t>(utf8[i + k]);
      if ((b & 0xC0) != 0x80) return -1;
      cp = (cp << 6) | (b & 0x3F);
    }
    const int byte = byteFor(cp);
    if (byte < 0 || o >= out.size()) return -1;
    out[o++] = static_cast<char>(byte);
    i += extra + 1;
  }
  return static_cast<long>(o);
}

template <std::size_t N>
struct Text {
  char bytes[N]{};  // zero-terminated
  std::size_t length = 0;
  constexpr const char* c_str() const { return bytes; }
  constexpr std::string_view view() const { return {bytes, length}; }
};

void unmappableCharacter();  // never defined: calling it in a constant expression fails the build

template <std::size_t N>
consteval Text<N> text(const char (&utf8)[N]) {
  Text<N> t{};
  const long n = fromUtf8(std::string_view(utf8, N - 1), std::span<char>(t.bytes, N - 1));
  if (n < 0) unmappableCharacter();
  t.length = static_cast<std::size_t>(n);
  return t;
}

}  // namespace ansi
