// The playout buffer between the voice receive thread (puts) and playback
// (advances): 16 slots of one PCM block, written at a moving index and
// consumed four slots per 125-ms cycle.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/protocol.h"

inline constexpr int kFifoSlots = 16;
inline constexpr std::size_t kFifoBytes = kFifoSlots * proto::kPcmBlockBytes;
inline constexpr int kSlotsPerCycle = 4;                      // 125 ms per playback buffer
inline constexpr std::size_t kCycleBytes = kSlotsPerCycle * proto::kPcmBlockBytes;
inline constexpr int kFifoResetIndex = 5;
inline constexpr int kFifoLowestIndex = kSlotsPerCycle;
inline constexpr int kFifoLastSlot = kFifoSlots - 1;

struct PlayoutFifo {
  std::uint8_t bytes[kFifoBytes];
  std::int32_t writeIndex;
  // Held for a copy of at most 12000 bytes: a spin is cheaper than a kernel
  // object, and puts must never interleave with the advance.
  std::atomic_flag busy;
};

extern PlayoutFifo playbackFifo;

void resetFifo(PlayoutFifo& fifo);
// Copies the block into the write slot; a block shorter than 1000 bytes has
// its missing tail written as silence.
void putVoiceBlock(PlayoutFifo& fifo, std::span<const std::uint8_t> block);
void putSilenceBlock(PlayoutFifo& fifo);
// Moves the buffer on by four slots and copies the four front slots (the
// next 125 ms to play) into `played`.
void advanceFifo(PlayoutFifo& fifo, std::span<std::uint8_t, kCycleBytes> played);
std::int32_t fifoWriteIndex(const PlayoutFifo& fifo);
