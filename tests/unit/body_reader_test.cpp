#include "Orva-Lin/web/body_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A body delivered in the given chunks; a chunk of -1 bytes is a failed
// query, and `failRead` fails the read of that chunk index.
struct ScriptedBody {
  std::vector<int> chunks;
  int failRead = -1;
  std::size_t next = 0;
  std::uint8_t fill = 'a';

  static bool available(void* c, std::uint32_t& bytes) {
    auto& s = *static_cast<ScriptedBody*>(c);
    if (s.next >= s.chunks.size()) {
      bytes = 0;
      return true;
    }
    if (s.chunks[s.next] < 0) return false;
    bytes = static_cast<std::uint32_t>(s.chunks[s.next]);
    return true;
  }
  static bool read(void* c, std::uint8_t* into, std::uint32_t bytes, std::uint32_t& got) {
    auto& s = *static_cast<ScriptedBody*>(c);
    if (static_cast<int>(s.next) == s.failRead) return false;
    std::memset(into, s.fill++, bytes);
    got = bytes;
    ++s.next;
    return true;
  }
};

constexpr std::size_t kCapacity = 16;

}  // namespace

TEST(ReadBody, LengthsFailuresAndTheTerminator) {
  const struct {
    const char* what;
    std::vector<int> chunks;
    int failRead;
    std::int64_t expected;
  } cases[] = {
      {"empty body", {}, -1, 0},
      {"one chunk", {5}, -1, 5},
      {"chunks up to the capacity, read whole", {10, 6}, -1, 16},
      {"one byte too many is a failure, not a cut body", {10, 7}, -1, kBodyFailed},
      {"a chunk alone larger than the buffer", {17}, -1, kBodyFailed},
      {"a failed query half-way", {4, -1}, -1, kBodyFailed},
      {"a failed read half-way", {4, 4}, 1, kBodyFailed},
  };
  for (const auto& c : cases) {
    ScriptedBody body{c.chunks, c.failRead};
    std::uint8_t buffer[kCapacity + 1];
    std::memset(buffer, 0xEE, sizeof buffer);
    const std::int64_t got = readBody({&body, ScriptedBody::available, ScriptedBody::read}, buffer);
    EXPECT_EQ(got, c.expected) << c.what;
    // The text ends right after the bytes read, even at full capacity; a
    // failure leaves an empty text, not the part that arrived.
    const std::size_t end = got < 0 ? 0 : static_cast<std::size_t>(got);
    EXPECT_EQ(buffer[end], 0) << c.what;
    if (got > 0) {
      EXPECT_EQ(buffer[end - 1], 'a' + c.chunks.size() - 1) << c.what;
    }
  }
}
