#include "Orva-Lin/audio/activity_ring.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Ring {
  std::atomic<std::int32_t> cells[kNetworkLedCount];
  Ring(std::int32_t v = 0) {
    for (auto& c : cells) c.store(v);
  }
  LedRing span() { return LedRing(cells); }
  std::vector<int> values() const {
    std::vector<int> v;
    for (const auto& c : cells) v.push_back(c.load());
    return v;
  }
};

TEST(ActivityRing, PlaybackCursorWalksOverIdleCellsAndWraps) {
  Ring ring(kRingIdle);
  PlaybackCursor c;
  std::vector<int> cursorCells;
  for (int cycle = 0; cycle < 18; ++cycle) {
    beginPlaybackCycle(c, ring.span());
    stepPlaybackCursor(c, ring.span());
    cursorCells.push_back(c.ringPosition);
    // With nothing received, exactly one cell is lit: the cursor.
    int lit = 0;
    for (int v : ring.values()) lit += v == kRingCursor;
    EXPECT_EQ(lit, 1);
    EXPECT_EQ(ring.values()[c.ringPosition], kRingCursor);
  }
  EXPECT_EQ(cursorCells.front(), 1);
  EXPECT_EQ(cursorCells[14], 15);
  EXPECT_EQ(cursorCells[15], 0);
  EXPECT_EQ(cursorCells[17], 2);
}

TEST(ActivityRing, VoiceMarksTheCellOfTheCycleInProgressOnlyWhileListening) {
  struct Case {
    bool transmitting;
    int expectCell3;
  };
  for (const Case& k : {Case{false, kRingReceived}, Case{true, kRingIdle}}) {
    SCOPED_TRACE(k.transmitting);
    Ring ring(kRingIdle);
    PlaybackCursor c;
    c.ringPosition = 3;
    beginPlaybackCycle(c, ring.span());   // cycle of cell 3
    stepPlaybackCursor(c, ring.span());   // cursor now on 4
    markReceived(c, ring.span(), k.transmitting);
    EXPECT_EQ(ring.values()[3], k.expectCell3);
    EXPECT_EQ(ring.values()[4], kRingCursor);
    // The next cycle starts on the cursor's cell and blanks it.
    beginPlaybackCycle(c, ring.span());
    EXPECT_EQ(ring.values()[4], kRingIdle);
    EXPECT_EQ(c.playCursor.load(), 4);
  }
}

TEST(ActivityRing, TransmitChaserStepsBackwardsEveryThirdBlock) {
  Ring ring(kRingIdle);
  TransmitChaser t;
  std::vector<int> greenCells;
  for (int block = 1; block <= 3 * 18; ++block) {
    const std::vector<int> before = ring.values();
    countSentBlock(t, ring.span());
    if (block % 3) {
      EXPECT_EQ(ring.values(), before) << "block " << block;
      continue;
    }
    int green = -1, darkRed = 0;
    const std::vector<int> v = ring.values();
    for (int i = 0; i < static_cast<int>(v.size()); ++i) {
      if (v[i] == kRingChaser) green = i;
      darkRed += v[i] == kRingTransmit;
    }
    EXPECT_EQ(darkRed, 15);
    greenCells.push_back(green);
  }
  EXPECT_EQ(greenCells[0], 15);
  EXPECT_EQ(greenCells[1], 14);
  EXPECT_EQ(greenCells[15], 0);
  EXPECT_EQ(greenCells[16], 15);
  EXPECT_EQ(greenCells[17], 14);
}

}  // namespace
