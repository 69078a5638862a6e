// The samples of a RIFF WAV stream, found by walking its chunks. Plain and
// portable so it can be fed any bytes at all (tests, fuzzing).
#pragma once

#include <cstdint>
#include <optional>
#include <span>

// The payload of the first "data" chunk after the 12-byte RIFF header:
// never more than the bytes present after its header, rounded down to whole
// 16-bit samples (so possibly empty). nullopt when the stream has no "data"
// chunk. Chunks follow each other at offset + 8 + size, with no padding.
std::optional<std::span<const std::uint8_t>> wavDataPayload(std::span<const std::uint8_t> wave);
