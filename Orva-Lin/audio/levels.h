// Needle-meter levels from the PCM being played or sent: smoothed peaks of
// the first 100 frames of each block, no RMS.
#pragma once

#include <atomic>
#include <cstdint>

inline constexpr int kNeedleSilence = 218;  // degrees
inline constexpr int kNeedleFull = 319;

struct MeterLevels {
  std::int16_t smoothedPeak = 0;
  std::int32_t left = 0, right = 0;        // needle angles
  std::int32_t leftRaw = 0, rightRaw = 0;  // bar levels, playback only
};

struct BlockPeaks {
  std::int16_t left, right;
};
// Peaks of the first 200 samples of a block (little-endian 16-bit stereo):
// even samples left, odd right. -32768 has no 16-bit magnitude and never wins.
BlockPeaks blockPeaks(const std::uint8_t* block);

int needleAngle(std::int16_t value);

// One block played / one block sent; the right channel is never smoothed on
// its own. Transmission leaves the bar levels as playback left them.
void applyPlaybackBlock(MeterLevels& m, const std::uint8_t* block);
void applyTransmitBlock(MeterLevels& m, const std::uint8_t* block);

// The shared copies the meter windows read; written by the audio thread only.
extern std::atomic<std::int32_t> levelLeft, levelRight, levelLeftRaw, levelRightRaw;
void playbackLevelUpdate(const std::uint8_t* block);
void transmitLevelUpdate(const std::uint8_t* block);
