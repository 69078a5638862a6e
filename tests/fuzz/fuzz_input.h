// Cuts one fuzz input into a sequence of datagrams, so that a target can
// drive a parser that keeps state from one datagram to the next. Each record
// is a tag byte, a 16-bit little-endian length and that many bytes (fewer
// when the input ends first); the seed makers write the same layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace fuzzin {

struct Record {
  std::uint8_t tag = 0;
  std::span<const std::uint8_t> bytes;
};

class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size, std::size_t maxBytes)
      : rest_(data, size), maxBytes_(maxBytes) {}

  bool next(Record& r) {
    if (rest_.size() < 3) return false;
    r.tag = rest_[0];
    std::size_t length = rest_[1] | (static_cast<std::size_t>(rest_[2]) << 8);
    if (length > maxBytes_) length = maxBytes_;
    rest_ = rest_.subspan(3);
    if (length > rest_.size()) length = rest_.size();
    r.bytes = rest_.first(length);
    rest_ = rest_.subspan(length);
    return true;
  }

 private:
  std::span<const std::uint8_t> rest_;
  std::size_t maxBytes_;
};

inline void append(std::vector<std::uint8_t>& out, std::uint8_t tag,
                   std::span<const std::uint8_t> bytes) {
  out.push_back(tag);
  out.push_back(static_cast<std::uint8_t>(bytes.size() & 0xFF));
  out.push_back(static_cast<std::uint8_t>(bytes.size() >> 8));
  out.insert(out.end(), bytes.begin(), bytes.end());
}

}  // namespace fuzzin
