#include "Orva-Lin/web/body_reader.h"

std::int64_t readBody(const BodySource& source, std::span<std::uint8_t> buffer) {
  if (buffer.empty()) return kBodyFailed;
  const std::size_t capacity = buffer.size() - 1;
  std::size_t total = 0;
  const auto fail = [&] {
    buffer[0] = 0;
    return kBodyFailed;
  };
  for (;;) {
    std::uint32_t available = 0;
    if (!source.available(source.context, available)) return fail();
    if (available == 0) break;
    if (available > capacity - total) return fail();
    std::uint32_t got = 0;
    if (!source.read(source.context, buffer.data() + total, available, got) || got > available) return fail();
    if (got == 0) break;
    total += got;
  }
  buffer[total] = 0;
  return static_cast<std::int64_t>(total);
}
