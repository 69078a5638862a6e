// The 16-lamp NETWORK ring: a cursor that walks one cell per playback cycle
// and greens the cell of a cycle in which voice arrived; while transmitting,
// a green cell stepping backwards over a dark-red ring.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>

#include "Orva-Lin/shared_state.h"

using LedRing = std::span<std::atomic<std::int32_t>, kNetworkLedCount>;

inline constexpr std::int32_t kRingIdle = 5;
inline constexpr std::int32_t kRingCursor = 1;
inline constexpr std::int32_t kRingReceived = 3;
inline constexpr std::int32_t kRingTransmit = 2;
inline constexpr std::int32_t kRingChaser = 3;
inline constexpr int kBlocksPerChaserStep = 3;

struct PlaybackCursor {
  int ringPosition = 0;                  // audio thread only; kept across runs
  std::atomic<std::int32_t> playCursor{0};
};

struct TransmitChaser {
  int blocksSent = 0;
  int txChaserCell = static_cast<int>(kNetworkLedCount) - 1;
};

extern PlaybackCursor playbackCursor;
extern TransmitChaser transmitChaser;

// Start of a playback cycle: the cycle's cell is the cursor's, reset to idle.
void beginPlaybackCycle(PlaybackCursor& c, LedRing leds);
// After the advance: the cursor moves on one cell.
void stepPlaybackCursor(PlaybackCursor& c, LedRing leds);
// An accepted audio datagram while listening marks the cycle's cell.
void markReceived(const PlaybackCursor& c, LedRing leds, bool transmitting);
// One voice block sent.
void countSentBlock(TransmitChaser& t, LedRing leds);
