#include "Orva-Lin/audio/levels.h"

#include <gtest/gtest.h>

#include <array>

namespace {

using Block = std::array<std::uint8_t, 1000>;

Block stereo(std::int16_t left, std::int16_t right) {
  Block b{};
  for (std::size_t i = 0; i < 500; ++i) {
    const std::int16_t s = (i % 2 == 0) ? left : right;
    b[2 * i] = static_cast<std::uint8_t>(s & 0xFF);
    b[2 * i + 1] = static_cast<std::uint8_t>((s >> 8) & 0xFF);
  }
  return b;
}

}  // namespace

TEST(Levels, PeaksReadOnlyTheFirstHundredFrames) {
  Block b = stereo(0, 0);
  b[398] = 0x10;  // sample 199 (right, frame 99) counts
  b[400] = 0x7F;  // sample 200 (left, frame 100) does not
  const BlockPeaks p = blockPeaks(b.data());
  EXPECT_EQ(p.left, 0);
  EXPECT_EQ(p.right, 0x10 | (b[399] << 8));
}

TEST(Levels, MostNegativeSampleNeverRaisesThePeak) {
  const Block b = stereo(-32768, -32767);
  const BlockPeaks p = blockPeaks(b.data());
  EXPECT_EQ(p.left, 0);
  EXPECT_EQ(p.right, 32767);
}

TEST(Levels, NeedleAngleRunsFrom218To319) {
  EXPECT_EQ(needleAngle(0), 218);
  EXPECT_EQ(needleAngle(16383), 268);
  EXPECT_EQ(needleAngle(32767), 319);
  EXPECT_EQ(needleAngle(321), 218);  // 321 * 102 / 32768 = 0.999
  EXPECT_EQ(needleAngle(322), 219);
}

TEST(Levels, PlaybackOfAConstantFullLeftPeakFromSilence) {
  MeterLevels m;
  const Block b = stereo(32767, 0);
  applyPlaybackBlock(m, b.data());
  EXPECT_EQ(m.left, 268);              // A = 16383
  EXPECT_EQ(m.right, needleAngle(8191));  // A/2 + 0
  EXPECT_EQ(m.leftRaw, 24574);          // M = A/2 + pL/2
  EXPECT_EQ(m.smoothedPeak, 24574);
  EXPECT_EQ(m.rightRaw, 12287);         // M/2 + 0
  applyPlaybackBlock(m, b.data());
  EXPECT_EQ(m.left, needleAngle(12287 + 16383));
}

TEST(Levels, SilenceBringsEverythingBackToRest) {
  MeterLevels m;
  m.smoothedPeak = 30000;
  const Block silence = stereo(0, 0);
  for (int i = 0; i < 20; ++i) applyPlaybackBlock(m, silence.data());
  EXPECT_EQ(m.smoothedPeak, 0);
  EXPECT_EQ(m.left, kNeedleSilence);
  EXPECT_EQ(m.right, kNeedleSilence);
  EXPECT_EQ(m.leftRaw, 0);
  EXPECT_EQ(m.rightRaw, 0);
}

TEST(Levels, TransmissionSmoothsOnceAndKeepsTheBars) {
  MeterLevels m;
  m.leftRaw = 6400;
  m.rightRaw = 100;
  const Block b = stereo(32767, 32767);
  applyTransmitBlock(m, b.data());
  EXPECT_EQ(m.smoothedPeak, 16383);
  EXPECT_EQ(m.left, 268);
  EXPECT_EQ(m.right, needleAngle(8191 + 16383));
  EXPECT_EQ(m.leftRaw, 6400);
  EXPECT_EQ(m.rightRaw, 100);
}

TEST(Levels, SharedCopiesFollowTheAudioThreadsUpdates) {
  const Block loud = stereo(32767, 32767);
  const Block silence = stereo(0, 0);
  for (int i = 0; i < 20; ++i) playbackLevelUpdate(silence.data());
  playbackLevelUpdate(loud.data());
  EXPECT_EQ(levelLeft.load(), 268);
  const std::int32_t bar = levelLeftRaw.load();
  EXPECT_EQ(bar, 24574);
  transmitLevelUpdate(silence.data());
  EXPECT_EQ(levelLeftRaw.load(), bar);  // bars hold while sending
  EXPECT_EQ(levelLeft.load(), needleAngle(24574 / 2));
}
