#include "Orva-Lin/audio/activity_ring.h"

PlaybackCursor playbackCursor;
TransmitChaser transmitChaser;

namespace {
constexpr int kCells = static_cast<int>(kNetworkLedCount);
void setCell(LedRing leds, int cell, std::int32_t v) {
  leds[static_cast<std::size_t>(cell)].store(v, std::memory_order_relaxed);
}
}  // namespace

void beginPlaybackCycle(PlaybackCursor& c, LedRing leds) {
  c.playCursor.store(c.ringPosition, std::memory_order_relaxed);
  setCell(leds, c.ringPosition, kRingIdle);
}

void stepPlaybackCursor(PlaybackCursor& c, LedRing leds) {
  c.ringPosition = (c.ringPosition + 1) % kCells;
  setCell(leds, c.ringPosition, kRingCursor);
}

void markReceived(const PlaybackCursor& c, LedRing leds, bool transmitting) {
  if (transmitting) return;
  setCell(leds, c.playCursor.load(std::memory_order_relaxed), kRingReceived);
}

void countSentBlock(TransmitChaser& t, LedRing leds) {
  if (++t.blocksSent < kBlocksPerChaserStep) return;
  t.blocksSent = 0;
  for (auto& cell : leds) cell.store(kRingTransmit, std::memory_order_relaxed);
  setCell(leds, t.txChaserCell, kRingChaser);
  t.txChaserCell = t.txChaserCell == 0 ? kCells - 1 : t.txChaserCell - 1;
}
