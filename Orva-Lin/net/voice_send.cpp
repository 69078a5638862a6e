#include "Orva-Lin/net/voice_send.h"

#include "Orva-Lin/net/packets.h"

namespace net {

std::size_t nextPoll(PollSender& s, std::uint16_t accountNumber, std::string_view clientIdentifier) {
  s.pollVariant = nextPollVariant(s.pollVariant);
  return buildPoll(s.buffer, s.pollVariant, accountNumber, clientIdentifier);
}

std::size_t nextVoice(VoiceSender& s, std::uint16_t accountNumber, std::span<const std::uint8_t> pcm) {
  if (pcm.size() < proto::kPcmBlockBytes) return 0;
  const std::size_t n = buildVoice(s.buffer, s.voiceSequence, accountNumber, pcm.first(proto::kPcmBlockBytes));
  s.voiceSequence = nextSequence(s.voiceSequence);
  return n;
}

}  // namespace net
