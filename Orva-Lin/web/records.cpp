#include "Orva-Lin/web/records.h"

#include <cstdio>
#include <cstring>

namespace web {

namespace {

void putInt32(std::uint8_t* at, std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  at[0] = static_cast<std::uint8_t>(v);
  at[1] = static_cast<std::uint8_t>(v >> 8);
  at[2] = static_cast<std::uint8_t>(v >> 16);
  at[3] = static_cast<std::uint8_t>(v >> 24);
}

std::int32_t getInt32(const std::uint8_t* at) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(at[0]) |
                                   static_cast<std::uint32_t>(at[1]) << 8 |
                                   static_cast<std::uint32_t>(at[2]) << 16 |
                                   static_cast<std::uint32_t>(at[3]) << 24);
}

// The client writes the name in the Windows ANSI code page (1252): é is
// 0xE9. The bytes that code page leaves undefined are refused, as are
// control characters and path separators.
bool nameByteAllowed(std::uint8_t c) {
  if (c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D) return false;
  return c >= 0x20 && c != 0x7F && c != '/' && c != '\\' && c != ':';
}

}  // namespace

std::size_t buildColourRecord(std::span<std::uint8_t> out, const ColourUpdate& colour) {
  if (out.size() < kColourRecordSize) return 0;
  putInt32(out.data(), kColourRecordTag);
  putInt32(out.data() + 4, colour.red);
  putInt32(out.data() + 8, colour.green);
  putInt32(out.data() + 12, colour.blue);
  putInt32(out.data() + 16, colour.account);
  return kColourRecordSize;
}

ColourError parseColourRecord(std::span<const std::uint8_t> in, ColourUpdate& out) {
  if (in.size() != kColourRecordSize) return ColourError::Size;
  if (getInt32(in.data()) != kColourRecordTag) return ColourError::Tag;
  std::int32_t component[3];
  for (int i = 0; i < 3; ++i) {
    component[i] = getInt32(in.data() + 4 + 4 * i);
    if (component[i] < 0 || component[i] > 255) return ColourError::Component;
  }
  const std::int32_t account = getInt32(in.data() + 16);
  if (account < 0 || static_cast<std::uint32_t>(account) > kAccountMax) return ColourError::Account;
  out.red = static_cast<std::uint8_t>(component[0]);
  out.green = static_cast<std::uint8_t>(component[1]);
  out.blue = static_cast<std::uint8_t>(component[2]);
  out.account = static_cast<std::uint16_t>(account);
  return ColourError::None;
}

const char* colourErrorText(ColourError error) {
  switch (error) {
    case ColourError::None: return "ok";
    case ColourError::Size: return "the colour record is not 20 bytes";
    case ColourError::Tag: return "the colour record does not start with 1";
    case ColourError::Component: return "a colour component is outside 0..255";
    case ColourError::Account: return "the account number is outside 0..65535";
  }
  return "?";
}

void backgroundText(std::uint8_t red, std::uint8_t green, std::uint8_t blue, char (&out)[7]) {
  std::snprintf(out, sizeof out, "%02X%02X%02X", blue, green, red);
}

bool fillUploadTrailer(std::span<std::uint8_t> record, std::int32_t fileSize,
                       std::string_view name, std::int32_t channel) {
  if (record.size() != kUploadRecordSize) return false;
  if (fileSize < 1 || fileSize > kUploadMaxFileSize) return false;
  std::uint8_t* field = record.data() + kUploadNameOffset;
  std::memset(field, 0, kUploadNameSize);
  if (name.size() <= kUploadMaxNameLength && name.find('\0') == std::string_view::npos)
    std::memcpy(field, name.data(), name.size());
  field[kUploadNameSize - 1] = 0;
  putInt32(record.data() + kUploadFileSizeOffset, fileSize);
  putInt32(record.data() + kUploadNameLengthOffset,
           static_cast<std::int32_t>(std::strlen(reinterpret_cast<const char*>(field))));
  putInt32(record.data() + kUploadChannelOffset, channel);
  return true;
}

bool buildUploadRecord(std::span<std::uint8_t> record, std::span<const std::uint8_t> content,
                       std::string_view name, std::int32_t channel) {
  if (record.size() != kUploadRecordSize) return false;
  if (content.empty() || content.size() > static_cast<std::size_t>(kUploadMaxFileSize)) return false;
  std::memcpy(record.data(), content.data(), content.size());
  return fillUploadTrailer(record, static_cast<std::int32_t>(content.size()), name, channel);
}

UploadError parseUploadRecord(std::span<const std::uint8_t> in, Upload& out) {
  if (in.size() != kUploadRecordSize) return UploadError::Size;
  const std::int32_t fileSize = getInt32(in.data() + kUploadFileSizeOffset);
  if (fileSize < 1 || fileSize > kUploadMaxFileSize) return UploadError::FileSize;

  const std::uint8_t* field = in.data() + kUploadNameOffset;
  std::size_t length = 0;
  while (length < kUploadNameSize && field[length] != 0) ++length;
  const std::int32_t declared = getInt32(in.data() + kUploadNameLengthOffset);
  if (length > kUploadMaxNameLength || declared < 1 || static_cast<std::size_t>(declared) != length)
    return UploadError::NameLength;
  for (std::size_t i = length; i < kUploadNameSize; ++i)
    if (field[i] != 0) return UploadError::Name;
  for (std::size_t i = 0; i < length; ++i)
    if (!nameByteAllowed(field[i])) return UploadError::Name;
  const std::string_view name(reinterpret_cast<const char*>(field), length);
  if (name == "." || name == "..") return UploadError::Name;

  const std::int32_t channel = getInt32(in.data() + kUploadChannelOffset);
  if (channel < 0 || channel >= kChannelCount) return UploadError::Channel;

  out.content = in.first(static_cast<std::size_t>(fileSize));
  out.name = name;
  out.channel = channel;
  return UploadError::None;
}

const char* uploadErrorText(UploadError error) {
  switch (error) {
    case UploadError::None: return "ok";
    case UploadError::Size: return "the upload record is not 10000268 bytes";
    case UploadError::FileSize: return "fileSize is not 1..9999999";
    case UploadError::NameLength: return "fileNameLength does not match the file name";
    case UploadError::Name: return "the file name is not a Windows-1252 file name without a path";
    case UploadError::Channel: return "the channel is not 0..10";
  }
  return "?";
}

}  // namespace web
