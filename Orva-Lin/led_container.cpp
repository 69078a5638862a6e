#include "Orva-Lin/led_container.h"

#include <cstring>

namespace leds {

namespace {

std::uint32_t u32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t u16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::size_t kPixelOffsetField = 10;
constexpr std::size_t kInfoHeaderMin = 40;  // BITMAPINFOHEADER and its V4/V5 successors
constexpr std::size_t kInfoHeaderMax = 124;
constexpr std::uint32_t kRgb = 0;
constexpr std::uint32_t kBitFields = 3;
// Far beyond any LED picture; keeps the row arithmetic well inside 64 bits.
constexpr std::int32_t kMaxSide = 1 << 15;

}  // namespace

bool readDirectory(std::span<const std::uint8_t> file, Directory& out) {
  out = Directory{};
  if (file.size() < kCountBytes) return false;
  out.declared = u32(file, 0);
  if (out.declared > kMaxEntries) return false;
  for (std::uint32_t i = 0; i < out.declared; ++i) {
    const std::size_t at = kCountBytes + i * kEntryBytes;
    if (at + kEntryBytes > file.size()) break;
    Entry& e = out.entries[out.count++];
    std::memcpy(e.name, file.data() + at, kNameBytes);
    e.nameOk = std::memchr(e.name, 0, kNameBytes) != nullptr;
    if (!e.nameOk) e.name[0] = '\0';
    e.offset = u32(file, at + kNameBytes);
    e.size = u32(file, at + kNameBytes + 4);
  }
  return true;
}

std::span<const std::uint8_t> findPicture(std::span<const std::uint8_t> file, const Directory& dir,
                                          const char* name) {
  if (!name) return {};
  for (std::uint32_t i = 0; i < dir.count; ++i) {
    const Entry& e = dir.entries[i];
    if (!e.nameOk || std::strcmp(e.name, name) != 0) continue;
    if (e.offset > file.size() || e.size > file.size() - e.offset) return {};
    return file.subspan(e.offset, e.size);
  }
  return {};
}

bool parseBmp(std::span<const std::uint8_t> p, Bmp& out) {
  out = Bmp{};
  if (p.size() < kFileHeaderBytes + kInfoHeaderMin) return false;
  if (p[0] != 'B' || p[1] != 'M') return false;
  const std::uint32_t pixelOffset = u32(p, kPixelOffsetField);
  const std::uint32_t headerBytes = u32(p, kFileHeaderBytes);
  if (headerBytes < kInfoHeaderMin || headerBytes > kInfoHeaderMax) return false;
  if (headerBytes > p.size() - kFileHeaderBytes) return false;

  const std::size_t h = kFileHeaderBytes;
  const auto width = static_cast<std::int32_t>(u32(p, h + 4));
  const auto height = static_cast<std::int32_t>(u32(p, h + 8));
  const std::uint16_t planes = u16(p, h + 12);
  const std::uint16_t bitCount = u16(p, h + 14);
  const std::uint32_t compression = u32(p, h + 16);
  const std::uint32_t coloursUsed = u32(p, h + 32);
  if (planes != 1 || width <= 0 || width > kMaxSide || height == 0 || height < -kMaxSide || height > kMaxSide)
    return false;
  switch (bitCount) {
    case 1: case 4: case 8: case 24:
      if (compression != kRgb) return false;
      break;
    case 16: case 32:
      if (compression != kRgb && compression != kBitFields) return false;
      break;
    default:
      return false;
  }

  std::size_t tableBytes = 0;
  if (bitCount <= 8) {
    const std::uint32_t most = 1u << bitCount;
    if (coloursUsed > most) return false;
    tableBytes = 4 * static_cast<std::size_t>(coloursUsed ? coloursUsed : most);
  }
  // A plain information header keeps its three masks after it; the larger
  // headers hold them inside.
  const std::size_t maskBytes = (compression == kBitFields && headerBytes == kInfoHeaderMin) ? 12 : 0;
  const std::size_t infoBytes = headerBytes + maskBytes + tableBytes;
  if (infoBytes > p.size() - h || pixelOffset < h + infoBytes) return false;

  const std::uint64_t stride = (static_cast<std::uint64_t>(width) * bitCount + 31) / 32 * 4;
  const std::uint64_t rows = height < 0 ? -static_cast<std::int64_t>(height) : height;
  const std::uint64_t bitsBytes = stride * rows;
  if (pixelOffset > p.size() || bitsBytes > p.size() - pixelOffset) return false;

  out.info = p.subspan(h, infoBytes);
  out.bits = p.subspan(pixelOffset, static_cast<std::size_t>(bitsBytes));
  out.width = width;
  out.height = height;
  out.bitCount = bitCount;
  return true;
}

}  // namespace leds
