// The companion's walk over the WAV stream the speech synthesiser returns:
// the data payload it finds must lie inside the stream and hold whole
// 16-bit samples.
#include <cstddef>
#include <cstdint>

#include "Talvo/wave_export.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto payload = wavDataPayload(std::span<const std::uint8_t>(data, size));
  if (payload && !payload->empty()) {
    if (payload->data() < data || payload->data() + payload->size() > data + size) __builtin_trap();
    if (payload->size() % 2 != 0) __builtin_trap();
  }
  return 0;
}
