// Which installed voice speaks: the first French (France) male voice; when
// there is none, the first voice of a list of two or more, else the
// system's default.
#pragma once

#include <cstdint>
#include <string_view>

// The runtime's VoiceGender values.
inline constexpr int kVoiceMale = 0;
inline constexpr int kVoiceFemale = 1;

// Index meaning "leave the synthesizer's own default voice".
inline constexpr int kSystemVoice = -1;

struct VoiceTraits {
  std::u16string_view language;   // BCP-47 tag, compared exactly
  int gender = kVoiceMale;
};

bool isFrenchFranceMale(const VoiceTraits& voice);

// voiceAt(i) gives the traits of voice i, 0 <= i < count. Returns the index
// of the voice to set, or kSystemVoice.
template <typename VoiceAt>
int chooseVoice(std::uint32_t count, VoiceAt&& voiceAt) {
  // An index must fit the result; a longer list is walked no further.
  const std::uint32_t walk = count > 0x7FFFFFFFu ? 0x7FFFFFFFu : count;
  for (std::uint32_t i = 0; i < walk; ++i) {
    if (isFrenchFranceMale(voiceAt(i))) return static_cast<int>(i);
  }
  return count >= 2 ? 0 : kSystemVoice;
}
