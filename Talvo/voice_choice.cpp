#include "Talvo/voice_choice.h"

bool isFrenchFranceMale(const VoiceTraits& voice) {
  return voice.language == u"fr-FR" && voice.gender == kVoiceMale;
}
