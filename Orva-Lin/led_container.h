// "mini_leds.bmf": a count, a directory of named entries, then the BMP files
// they point at. The file comes from disk, so every field is checked against
// the bytes actually read before anything is handed to GDI.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace leds {

inline constexpr std::uint32_t kMaxEntries = 20;
inline constexpr std::size_t kCountBytes = 4;
inline constexpr std::size_t kEntryBytes = 40;
inline constexpr std::size_t kNameBytes = 32;

struct Entry {
  char name[kNameBytes];  // zero-terminated when nameOk
  bool nameOk;            // the terminator lies inside the 32 bytes
  std::uint32_t offset;
  std::uint32_t size;
};

struct Directory {
  std::uint32_t declared = 0;  // the count field as read
  std::uint32_t count = 0;     // entries wholly inside the file
  Entry entries[kMaxEntries]{};
};

// False when the count field is missing or above kMaxEntries (nothing is
// read then). Entries cut short by the end of the file are left out.
bool readDirectory(std::span<const std::uint8_t> file, Directory& out);

// Bytes of the first entry whose name equals name exactly (case counts);
// empty when there is none or when that entry runs past the end of the file.
std::span<const std::uint8_t> findPicture(std::span<const std::uint8_t> file, const Directory& dir,
                                          const char* name);

// A BMP split for CreateDIBitmap: the information header with its masks and
// colour table, and the pixel bits.
struct Bmp {
  std::span<const std::uint8_t> info;
  std::span<const std::uint8_t> bits;
  std::int32_t width = 0;
  std::int32_t height = 0;  // negative: rows run top-down
  std::uint16_t bitCount = 0;
};

// False unless the file header, the information header, the colour table and
// every row of bits fit inside the picture's bytes. Uncompressed and
// bit-field pictures only; run-length ones are refused.
bool parseBmp(std::span<const std::uint8_t> picture, Bmp& out);

}  // namespace leds
