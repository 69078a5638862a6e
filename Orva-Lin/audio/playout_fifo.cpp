#include "Orva-Lin/audio/playout_fifo.h"

#include <algorithm>
#include <cstring>
#include <thread>

PlayoutFifo playbackFifo{{}, kFifoResetIndex, {}};

namespace {

class FifoGuard {
 public:
  explicit FifoGuard(PlayoutFifo& f) : fifo_(f) {
    while (fifo_.busy.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
  }
  FifoGuard(const FifoGuard&) = delete;
  FifoGuard& operator=(const FifoGuard&) = delete;
  ~FifoGuard() { fifo_.busy.clear(std::memory_order_release); }

 private:
  PlayoutFifo& fifo_;
};

std::uint8_t* writeSlot(PlayoutFifo& f) {
  return f.bytes + static_cast<std::size_t>(f.writeIndex) * proto::kPcmBlockBytes;
}

void raiseWriteIndex(PlayoutFifo& f) { f.writeIndex = std::min(f.writeIndex + 1, kFifoLastSlot); }

}  // namespace

void resetFifo(PlayoutFifo& fifo) {
  FifoGuard guard(fifo);
  std::memset(fifo.bytes, 0, kFifoBytes);
  fifo.writeIndex = kFifoResetIndex;
}

void putVoiceBlock(PlayoutFifo& fifo, std::span<const std::uint8_t> block) {
  const std::size_t n = std::min(block.size(), proto::kPcmBlockBytes);
  FifoGuard guard(fifo);
  std::uint8_t* slot = writeSlot(fifo);
  std::memcpy(slot, block.data(), n);
  std::memset(slot + n, 0, proto::kPcmBlockBytes - n);
  raiseWriteIndex(fifo);
}

void putSilenceBlock(PlayoutFifo& fifo) {
  FifoGuard guard(fifo);
  std::memset(writeSlot(fifo), 0, proto::kPcmBlockBytes);
  raiseWriteIndex(fifo);
}

void advanceFifo(PlayoutFifo& fifo, std::span<std::uint8_t, kCycleBytes> played) {
  FifoGuard guard(fifo);
  // Slots 11..14 are cleared, slot 15 is not: whatever was in slot 15 has
  // just moved to slot 11 and is erased there, so a block that landed in
  // the overflow slot is never played.
  std::memmove(fifo.bytes, fifo.bytes + kCycleBytes, kFifoBytes - kCycleBytes);
  std::memset(fifo.bytes + (kFifoLastSlot - kSlotsPerCycle) * proto::kPcmBlockBytes, 0, kCycleBytes);
  fifo.writeIndex = std::max(fifo.writeIndex - kSlotsPerCycle, kFifoLowestIndex);
  std::memcpy(played.data(), fifo.bytes, kCycleBytes);
}

std::int32_t fifoWriteIndex(const PlayoutFifo& fifo) { return fifo.writeIndex; }
