// The two binary records the client posts to the web host: the colour update
// (params.php) and the shared-picture upload (pc_img_share_post.php). Built
// and parsed in one place so the client and orva-webhost cannot disagree on a
// byte. Every number is little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace web {

// ---- Colour update: five signed 32-bit values --------------------------------
inline constexpr std::size_t kColourRecordSize = 20;
inline constexpr std::int32_t kColourRecordTag = 1;
inline constexpr std::uint32_t kAccountMax = 65535;

struct ColourUpdate {
  std::uint8_t red = 0, green = 0, blue = 0;
  std::uint16_t account = 0;
};

// Writes the 20 bytes; returns kColourRecordSize, or 0 when out is too small.
std::size_t buildColourRecord(std::span<std::uint8_t> out, const ColourUpdate& colour);

enum class ColourError { None, Size, Tag, Component, Account };
// Exactly 20 bytes, tag 1, each component 0..255, account 0..65535.
ColourError parseColourRecord(std::span<const std::uint8_t> in, ColourUpdate& out);
const char* colourErrorText(ColourError error);

// The BACKGROUND text of params.xml: the Windows colour value in hexadecimal,
// blue digits first, so that reading it base 16 gives red in the low byte.
// out must hold 7 bytes.
void backgroundText(std::uint8_t red, std::uint8_t green, std::uint8_t blue, char (&out)[7]);

// ---- Shared-picture upload: 10,000,268 bytes, always sent whole ----------------
inline constexpr std::size_t kUploadContentSize = 10'000'000;
inline constexpr std::size_t kUploadNameOffset = 10'000'000;
inline constexpr std::size_t kUploadNameSize = 256;
inline constexpr std::size_t kUploadFileSizeOffset = 10'000'256;
inline constexpr std::size_t kUploadNameLengthOffset = 10'000'260;
inline constexpr std::size_t kUploadChannelOffset = 10'000'264;
inline constexpr std::size_t kUploadRecordSize = 10'000'268;
inline constexpr std::int32_t kUploadMaxFileSize = 9'999'999;   // a file must be below the buffer
inline constexpr std::size_t kUploadMaxNameLength = kUploadNameSize - 1;
inline constexpr std::int32_t kChannelCount = 11;                // channels 0..10

// Fills the trailer after the content (name, fileSize, fileNameLength,
// channel) for a file whose fileSize bytes already sit at the start of
// record; the content area beyond them is left as it is. A name longer than
// 255 bytes or holding a NUL leaves the name field zero. Returns false (and
// writes nothing) when record is not exactly kUploadRecordSize bytes or
// fileSize is not 1..kUploadMaxFileSize.
bool fillUploadTrailer(std::span<std::uint8_t> record, std::int32_t fileSize,
                       std::string_view name, std::int32_t channel);
// Copies content into the record and fills the trailer.
bool buildUploadRecord(std::span<std::uint8_t> record, std::span<const std::uint8_t> content,
                       std::string_view name, std::int32_t channel);

struct Upload {
  std::span<const std::uint8_t> content;   // exactly fileSize bytes
  std::string_view name;                   // Windows-1252, no path
  std::int32_t channel = 0;
};

enum class UploadError { None, Size, FileSize, NameLength, Name, Channel };
// The whole record, exactly kUploadRecordSize bytes; fileSize 1..9,999,999;
// fileNameLength 1..255 and equal to the text before the name's first NUL,
// every byte after it zero; a name in Windows-1252 without control
// characters, '/', '\\' or ':' that is not "." or ".."; channel 0..10. The
// views point into in.
UploadError parseUploadRecord(std::span<const std::uint8_t> in, Upload& out);
const char* uploadErrorText(UploadError error);

}  // namespace web
