#include "Orva-Lin/web/talker_card.h"

#include <gtest/gtest.h>

namespace {

using card::Answer;

TEST(TalkerCard, AsksOnceForEachNewTalkerAndAfterARepaintOneExchangeAtATime) {
  card::Gate gate;
  bool painted = false;
  card::Ask a = card::nextAsk(gate, 7, painted, 0);
  EXPECT_TRUE(a.image && a.profile);
  EXPECT_EQ(a.talker, 7);
  EXPECT_FALSE(card::nextAsk(gate, 9, painted, 0).any()) << "an exchange is under way";
  card::finish(gate, a, Answer::Arrived, Answer::Arrived, 7, 0);
  EXPECT_FALSE(card::nextAsk(gate, 7, painted, 1000).any());
  painted = true;
  a = card::nextAsk(gate, 7, painted, 2000);
  EXPECT_TRUE(a.image);
  EXPECT_FALSE(a.profile) << "the picture request takes the repaint";
  EXPECT_FALSE(painted);
  card::finish(gate, a, Answer::Arrived, Answer::NotAsked, 7, 2000);
  a = card::nextAsk(gate, 9, painted, 3000);
  EXPECT_TRUE(a.image && a.profile);
}

TEST(TalkerCard, AnswersChangeTheCardWholeOrNotAtAll) {
  struct Case {
    const char* what;
    bool askImage, askProfile;
    Answer image, profile;
    std::int32_t current;
    card::Change expected;
  } cases[] = {
      {"both arrived", true, true, Answer::Arrived, Answer::Arrived, 7, {false, true, true, true, true}},
      {"picture host down: both kept", true, true, Answer::Failed, Answer::NotAsked, 7, {true}},
      {"profile cut off: both kept", true, true, Answer::Arrived, Answer::Failed, 7, {true}},
      {"no picture (404): both cleared, new name", true, true, Answer::Absent, Answer::Arrived, 7,
       {false, true, false, true, true}},
      {"no picture after a repaint: name cleared too", true, false, Answer::Absent, Answer::NotAsked, 7,
       {false, true, false, true, false}},
      {"picture after a repaint: name kept", true, false, Answer::Arrived, Answer::NotAsked, 7,
       {false, true, true, false, false}},
      {"answer for an earlier talker", true, true, Answer::Arrived, Answer::Arrived, 9, {true}},
  };
  for (const Case& c : cases) {
    card::Gate gate{.busy = true};
    const card::Change got = card::finish(gate, {7, c.askImage, c.askProfile}, c.image, c.profile, c.current, 0);
    EXPECT_EQ(got.drop, c.expected.drop) << c.what;
    EXPECT_EQ(got.picture, c.expected.picture) << c.what;
    EXPECT_EQ(got.pictureArrived, c.expected.pictureArrived) << c.what;
    EXPECT_EQ(got.name, c.expected.name) << c.what;
    EXPECT_EQ(got.nameArrived, c.expected.nameArrived) << c.what;
    EXPECT_FALSE(gate.busy) << c.what;
  }
}

TEST(TalkerCard, AFailureIsAskedAgainAfterTheRetryDelayNotAtEveryTick) {
  card::Gate gate;
  bool painted = false;
  card::Ask a = card::nextAsk(gate, 7, painted, 0);
  card::finish(gate, a, Answer::Failed, Answer::NotAsked, 7, 1000);
  for (std::uint64_t t = 2000; t < 1000 + card::kRetryMs; t += 1000)
    EXPECT_FALSE(card::nextAsk(gate, 7, painted, t).any()) << t;
  a = card::nextAsk(gate, 7, painted, 1000 + card::kRetryMs);
  EXPECT_TRUE(a.image && a.profile);
  card::finish(gate, a, Answer::Arrived, Answer::Arrived, 7, 20000);
  EXPECT_FALSE(card::nextAsk(gate, 7, painted, 60000).any());
}

}  // namespace
