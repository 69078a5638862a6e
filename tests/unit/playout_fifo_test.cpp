#include "Orva-Lin/audio/playout_fifo.h"

#include <gtest/gtest.h>

#include <array>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Block = std::array<std::uint8_t, proto::kPcmBlockBytes>;

Block filled(std::uint8_t v) {
  Block b;
  b.fill(v);
  return b;
}

std::unique_ptr<PlayoutFifo> freshFifo() {
  auto f = std::make_unique<PlayoutFifo>();
  std::memset(f->bytes, 0xAA, kFifoBytes);  // resetFifo must clear whatever was there
  f->writeIndex = 9;
  resetFifo(*f);
  return f;
}

// The byte every position of slot k holds, or -1 when the slot is mixed.
int slotValue(const PlayoutFifo& f, int k) {
  const std::uint8_t* s = f.bytes + k * proto::kPcmBlockBytes;
  for (std::size_t i = 1; i < proto::kPcmBlockBytes; ++i)
    if (s[i] != s[0]) return -1;
  return s[0];
}

std::vector<int> slots(const PlayoutFifo& f) {
  std::vector<int> v;
  for (int k = 0; k < kFifoSlots; ++k) v.push_back(slotValue(f, k));
  return v;
}

TEST(PlayoutFifo, ResetClearsEverySlotAndStartsWritingAtFive) {
  auto f = freshFifo();
  EXPECT_EQ(fifoWriteIndex(*f), 5);
  EXPECT_EQ(slots(*f), std::vector<int>(kFifoSlots, 0));
}

TEST(PlayoutFifo, SixPutsThenOneAdvance) {
  auto f = freshFifo();
  for (int i = 1; i <= 6; ++i) putVoiceBlock(*f, filled(static_cast<std::uint8_t>(i)));
  EXPECT_EQ(slots(*f), (std::vector<int>{0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0, 0, 0, 0}));
  EXPECT_EQ(fifoWriteIndex(*f), 11);

  std::array<std::uint8_t, kCycleBytes> played;
  played.fill(0xEE);
  advanceFifo(*f, played);
  EXPECT_EQ(slots(*f), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(fifoWriteIndex(*f), 7);
  // What goes to the device is the four front slots after the move.
  for (int k = 0; k < kSlotsPerCycle; ++k)
    EXPECT_EQ(played[k * proto::kPcmBlockBytes + 17], k) << "slot " << k;
}

TEST(PlayoutFifo, FortyPutsWithoutAdvanceKeepTheFirstTenAndOverwriteSlot15) {
  auto f = freshFifo();
  for (int i = 1; i <= 40; ++i) putVoiceBlock(*f, filled(static_cast<std::uint8_t>(i)));
  EXPECT_EQ(fifoWriteIndex(*f), 15);
  EXPECT_EQ(slots(*f), (std::vector<int>{0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 40}));

  // Everything ever played, cycle after cycle, until the buffer is silent.
  std::vector<int> heard;
  std::array<std::uint8_t, kCycleBytes> played;
  for (int cycle = 0; cycle < 6; ++cycle) {
    advanceFifo(*f, played);
    for (int k = 0; k < kSlotsPerCycle; ++k) heard.push_back(played[k * proto::kPcmBlockBytes]);
  }
  std::vector<int> sound;
  for (int v : heard)
    if (v) sound.push_back(v);
  EXPECT_EQ(sound, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(fifoWriteIndex(*f), 4);
}

TEST(PlayoutFifo, SilenceAndShortBlocksAdvanceTheIndexLikeSound) {
  struct Case {
    const char* name;
    std::size_t length;  // bytes of 0x55 handed to the put; SIZE_MAX: putSilenceBlock
  };
  const Case cases[] = {{"silence", SIZE_MAX}, {"full", 1000}, {"short", 400}, {"empty", 0}, {"long", 1024}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto f = freshFifo();
    std::memset(f->bytes + 5 * proto::kPcmBlockBytes, 0x77, proto::kPcmBlockBytes);  // stale slot
    std::vector<std::uint8_t> src(c.length == SIZE_MAX ? 0 : c.length, 0x55);
    if (c.length == SIZE_MAX) putSilenceBlock(*f);
    else putVoiceBlock(*f, src);
    EXPECT_EQ(fifoWriteIndex(*f), 6);
    const std::uint8_t* slot = f->bytes + 5 * proto::kPcmBlockBytes;
    const std::size_t sound = c.length == SIZE_MAX ? 0 : std::min<std::size_t>(c.length, 1000);
    for (std::size_t i = 0; i < proto::kPcmBlockBytes; ++i)
      ASSERT_EQ(slot[i], i < sound ? 0x55 : 0) << "byte " << i;
    EXPECT_EQ(slotValue(*f, 6), 0);  // nothing spills into the next slot
  }
}

TEST(PlayoutFifo, IndexStaysBetweenFourAndFifteen) {
  auto f = freshFifo();
  std::array<std::uint8_t, kCycleBytes> played;
  for (int i = 0; i < 5; ++i) advanceFifo(*f, played);
  EXPECT_EQ(fifoWriteIndex(*f), 4);
  for (int i = 0; i < 30; ++i) putSilenceBlock(*f);
  EXPECT_EQ(fifoWriteIndex(*f), 15);
  advanceFifo(*f, played);
  EXPECT_EQ(fifoWriteIndex(*f), 11);
}

// A put that interleaved with the move would leave a slot half one block and
// half another, or a block copied twice; with the lock every slot is whole.
TEST(PlayoutFifo, PutsAndAdvancesFromTwoThreadsNeverTearABlock) {
  auto f = freshFifo();
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    std::uint8_t v = 1;
    while (!stop.load()) {
      putVoiceBlock(*f, filled(v));
      v = v == 255 ? 1 : v + 1;
    }
  });
  std::array<std::uint8_t, kCycleBytes> played;
  int torn = 0;
  for (int cycle = 0; cycle < 20000 && !torn; ++cycle) {
    advanceFifo(*f, played);
    for (int k = 0; k < kSlotsPerCycle; ++k) {
      const std::uint8_t* s = played.data() + k * proto::kPcmBlockBytes;
      for (std::size_t i = 1; i < proto::kPcmBlockBytes; ++i)
        if (s[i] != s[0]) {
          ++torn;
          break;
        }
    }
  }
  stop.store(true);
  writer.join();
  EXPECT_EQ(torn, 0);
}

}  // namespace
