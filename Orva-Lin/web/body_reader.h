// Reading a response body into the one fixed buffer, whatever delivers it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Where the body's bytes come from: how many are ready now (0 at the end),
// and a read of up to `bytes` of them. Each returns false on a failure.
struct BodySource {
  void* context;
  bool (*available)(void* context, std::uint32_t& bytes);
  bool (*read)(void* context, std::uint8_t* into, std::uint32_t bytes, std::uint32_t& got);
};

inline constexpr std::int64_t kBodyFailed = -1;

// Reads the whole body into `buffer`, whose last byte is kept for the
// terminator: the body may fill all the others. The byte after what was read
// is always set to 0. A body that does not fit, or a source that fails
// half-way, is a failure (kBodyFailed, with an empty text left in the
// buffer), never a shorter body.
std::int64_t readBody(const BodySource& source, std::span<std::uint8_t> buffer);
