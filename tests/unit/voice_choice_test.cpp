#include "Talvo/voice_choice.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

int choose(const std::vector<VoiceTraits>& voices) {
  return chooseVoice(static_cast<std::uint32_t>(voices.size()), [&](std::uint32_t i) { return voices[i]; });
}

TEST(VoiceChoice, FirstFrenchFranceMaleWinsElseFirstOfTwoOrMoreElseSystemDefault) {
  const VoiceTraits frMale{u"fr-FR", kVoiceMale}, frFemale{u"fr-FR", kVoiceFemale},
      caMale{u"fr-CA", kVoiceMale}, usMale{u"en-US", kVoiceMale}, lowerMale{u"fr-fr", kVoiceMale},
      longMale{u"fr-FR-x", kVoiceMale}, unreadable{u"", -1};
  struct Case {
    const char* what;
    std::vector<VoiceTraits> voices;
    int expected;
  } cases[] = {
      {"no voice", {}, kSystemVoice},
      {"one male fr-FR", {frMale}, 0},
      {"one other voice", {usMale}, kSystemVoice},
      {"fr-FR male after others", {usMale, frFemale, caMale, frMale}, 3},
      {"first of two fr-FR males", {frFemale, frMale, frMale}, 1},
      {"every fr-FR voice female", {usMale, frFemale}, 0},
      {"only near misses", {caMale, lowerMale, longMale}, 0},
      {"a voice that cannot be read is skipped", {unreadable, frMale}, 1},
  };
  for (const auto& c : cases) EXPECT_EQ(choose(c.voices), c.expected) << c.what;
}

}  // namespace
