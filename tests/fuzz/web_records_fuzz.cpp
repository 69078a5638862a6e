// The two binary records the web host takes from clients: the colour update
// (the input itself) and the shared-picture upload (the input's first 268
// bytes become the record's trailer, the rest the start of its content,
// inside a record of the full 10,000,268 bytes).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Orva-Lin/web/records.h"

namespace {

constexpr std::size_t kTrailer = web::kUploadRecordSize - web::kUploadNameOffset;

bool inside(std::span<const std::uint8_t> part, std::span<const std::uint8_t> whole) {
  return part.empty() ||
         (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  web::ColourUpdate colour;
  if (web::parseColourRecord({data, size}, colour) == web::ColourError::None) {
    std::uint8_t again[web::kColourRecordSize];
    if (web::buildColourRecord(again, colour) != web::kColourRecordSize ||
        std::memcmp(again, data, web::kColourRecordSize) != 0) {
      __builtin_trap();
    }
  }

  static std::vector<std::uint8_t> record(web::kUploadRecordSize);
  static std::size_t dirty = 0;   // content bytes written by the previous input
  std::memset(record.data(), 0, dirty);
  const std::size_t trailer = std::min(size, kTrailer);
  std::memset(record.data() + web::kUploadNameOffset, 0, kTrailer);
  std::memcpy(record.data() + web::kUploadNameOffset, data, trailer);
  dirty = size - trailer;
  std::memcpy(record.data(), data + trailer, dirty);
  web::Upload upload;
  if (web::parseUploadRecord(record, upload) == web::UploadError::None) {
    const std::span<const std::uint8_t> whole(record);
    if (!inside(upload.content, whole) || upload.content.empty() || upload.name.empty() ||
        upload.channel < 0 || upload.channel >= web::kChannelCount ||
        upload.name.find_first_of("/\\:") != std::string_view::npos) {
      __builtin_trap();
    }
  }
  return 0;
}
