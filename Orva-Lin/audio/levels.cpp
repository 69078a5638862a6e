#include "Orva-Lin/audio/levels.h"

std::atomic<std::int32_t> levelLeft{0}, levelRight{0}, levelLeftRaw{0}, levelRightRaw{0};

namespace {

// Halves truncate toward zero and the sum wraps in 16 bits.
std::int16_t halfSum(std::int16_t a, std::int16_t b) { return static_cast<std::int16_t>(a / 2 + b / 2); }

MeterLevels audioThreadLevels;  // touched by the audio thread only

void publish(const MeterLevels& m, bool bars) {
  levelLeft.store(m.left, std::memory_order_relaxed);
  levelRight.store(m.right, std::memory_order_relaxed);
  if (bars) {
    levelLeftRaw.store(m.leftRaw, std::memory_order_relaxed);
    levelRightRaw.store(m.rightRaw, std::memory_order_relaxed);
  }
}

}  // namespace

BlockPeaks blockPeaks(const std::uint8_t* block) {
  BlockPeaks p{0, 0};
  for (int i = 0; i < 200; ++i) {
    const auto s = static_cast<std::int16_t>(block[2 * i] | (block[2 * i + 1] << 8));
    const auto magnitude = static_cast<std::int16_t>(s < 0 ? -s : s);
    std::int16_t& peak = (i % 2 == 0) ? p.left : p.right;
    if (magnitude > peak) peak = magnitude;
  }
  return p;
}

int needleAngle(std::int16_t value) {
  return static_cast<int>(218 - static_cast<long long>(value * (-1.0 / 32768) * 102));
}

void applyPlaybackBlock(MeterLevels& m, const std::uint8_t* block) {
  const BlockPeaks p = blockPeaks(block);
  const std::int16_t a = halfSum(m.smoothedPeak, p.left);
  m.left = needleAngle(a);
  m.right = needleAngle(halfSum(a, p.right));
  const std::int16_t mm = halfSum(a, p.left);
  m.leftRaw = mm;
  m.smoothedPeak = mm;
  m.rightRaw = halfSum(mm, p.right);
}

void applyTransmitBlock(MeterLevels& m, const std::uint8_t* block) {
  const BlockPeaks p = blockPeaks(block);
  const std::int16_t a = halfSum(m.smoothedPeak, p.left);
  m.smoothedPeak = a;
  m.left = needleAngle(a);
  m.right = needleAngle(halfSum(a, p.right));
}

void playbackLevelUpdate(const std::uint8_t* block) {
  applyPlaybackBlock(audioThreadLevels, block);
  publish(audioThreadLevels, true);
}

void transmitLevelUpdate(const std::uint8_t* block) {
  applyTransmitBlock(audioThreadLevels, block);
  publish(audioThreadLevels, false);
}
