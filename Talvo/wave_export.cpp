#include "Talvo/wave_export.h"

#include <cstring>

namespace {

constexpr std::uint64_t kRiffHeaderBytes = 12;   // "RIFF", file size, "WAVE"
constexpr std::uint64_t kChunkHeaderBytes = 8;   // tag, little-endian size

std::uint32_t readLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

std::optional<std::span<const std::uint8_t>> wavDataPayload(std::span<const std::uint8_t> wave) {
  // 64-bit offsets: a chunk size near 2^32 moves past the end instead of
  // wrapping back to an earlier chunk, so the walk always ends.
  const std::uint64_t total = wave.size();
  for (std::uint64_t at = kRiffHeaderBytes; at <= total && total - at >= kChunkHeaderBytes;
       at += kChunkHeaderBytes + readLe32(wave.data() + at + 4)) {
    if (std::memcmp(wave.data() + at, "data", 4) != 0) continue;
    const std::uint64_t present = total - at - kChunkHeaderBytes;
    std::uint64_t length = readLe32(wave.data() + at + 4);
    if (length > present) length = present;
    length &= ~std::uint64_t{1};
    return wave.subspan(static_cast<std::size_t>(at + kChunkHeaderBytes), static_cast<std::size_t>(length));
  }
  return std::nullopt;
}
