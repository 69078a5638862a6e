#include "Talvo/speech_queue.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::u16string next(talk::Queue& q) {
  talk::Utterance u;
  if (!talk::pop(q, u)) return u"(none)";
  return (u.kind == talk::Kind::Typed ? u"T:" : u"") + std::u16string(u.text, u.length);
}

TEST(SpeechQueue, TypedTextGoesFirstClientTextsInArrivalOrderAndAFullQueueDropsTheNewest) {
  talk::Queue q;
  EXPECT_TRUE(talk::push(q, talk::Kind::Said, u"a"));
  EXPECT_TRUE(talk::push(q, talk::Kind::Said, u"b"));
  EXPECT_TRUE(talk::push(q, talk::Kind::Typed, u"old"));
  EXPECT_TRUE(talk::push(q, talk::Kind::Typed, u"mine")) << "the same editor: replaces";
  EXPECT_FALSE(talk::push(q, talk::Kind::Said, u""));
  EXPECT_FALSE(talk::push(q, talk::Kind::Said, std::u16string(talk::kTextUnits, u'x')));
  EXPECT_EQ(next(q), u"T:mine");
  EXPECT_EQ(next(q), u"a");
  EXPECT_EQ(next(q), u"b");
  EXPECT_EQ(next(q), u"(none)");

  for (int i = 0; i < talk::kQueueSlots; ++i) EXPECT_TRUE(talk::push(q, talk::Kind::Said, std::u16string(1, u'0' + i)));
  EXPECT_FALSE(talk::push(q, talk::Kind::Said, u"late"));
  EXPECT_TRUE(talk::push(q, talk::Kind::Typed, u"mine"));
  EXPECT_EQ(next(q), u"T:mine");
  for (int i = 0; i < talk::kQueueSlots - 1; ++i) EXPECT_EQ(next(q), std::u16string(1, u'0' + i));
  EXPECT_EQ(next(q), u"(none)");
}

}  // namespace
