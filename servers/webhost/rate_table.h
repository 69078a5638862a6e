// Counters per key in fixed windows, for limits on what strangers may do:
// sign-in failures, colour posts, uploads. The table is bounded: when it is
// full, expired windows go first, then the oldest one, so a flood of new
// keys costs memory once and never grows it.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

namespace webhost {

using Clock = std::chrono::steady_clock;

class RateTable {
 public:
  RateTable(std::size_t capacity, Clock::duration window) : capacity_(capacity), window_(window) {}
  RateTable(const RateTable&) = delete;
  RateTable& operator=(const RateTable&) = delete;

  // The key's count in its current window (0 when it has none).
  int count(const std::string& key, Clock::time_point now) {
    std::lock_guard<std::mutex> guard(lock_);
    const auto it = entries_.find(key);
    if (it == entries_.end() || now - it->second.start >= window_) return 0;
    return it->second.count;
  }
  // Adds one when the count is below limit; returns whether it did. The
  // check and the count are one step, so parallel requests cannot all slip
  // under the limit before any of them is counted.
  bool take(const std::string& key, int limit, Clock::time_point now) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = entries_.find(key);
    if (it != entries_.end() && now - it->second.start >= window_) {
      entries_.erase(it);
      it = entries_.end();
    }
    if (it == entries_.end()) {
      if (limit <= 0) return false;
      makeRoom(now);
      entries_.emplace(key, Entry{1, now});
      return true;
    }
    if (it->second.count >= limit) return false;
    ++it->second.count;
    return true;
  }
  // Gives back one count taken by take().
  void giveBack(const std::string& key) {
    std::lock_guard<std::mutex> guard(lock_);
    const auto it = entries_.find(key);
    if (it != entries_.end() && it->second.count > 0) --it->second.count;
  }
  void forget(const std::string& key) {
    std::lock_guard<std::mutex> guard(lock_);
    entries_.erase(key);
  }

 private:
  struct Entry {
    int count;
    Clock::time_point start;
  };
  void makeRoom(Clock::time_point now) {
    if (entries_.size() < capacity_) return;
    for (auto it = entries_.begin(); it != entries_.end();)
      it = now - it->second.start >= window_ ? entries_.erase(it) : std::next(it);
    if (entries_.size() < capacity_) return;
    auto oldest = entries_.begin();
    for (auto it = entries_.begin(); it != entries_.end(); ++it)
      if (it->second.start < oldest->second.start) oldest = it;
    entries_.erase(oldest);
  }

  const std::size_t capacity_;
  const Clock::duration window_;
  std::mutex lock_;
  std::unordered_map<std::string, Entry> entries_;
};

}  // namespace webhost
