// The client's outgoing relay datagrams in the order it sends them: polls
// rotate N, D, V from start-up, voice datagrams count 1..255 and wrap to 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "common/protocol.h"

namespace net {

struct PollSender {
  int pollVariant = 0;
  std::uint8_t buffer[proto::kPollDBytes] = {};
};
// Builds the next poll into the sender's buffer; its length.
std::size_t nextPoll(PollSender& s, std::uint16_t accountNumber, std::string_view clientIdentifier);

struct VoiceSender {
  std::uint8_t voiceSequence = proto::kSequenceFirst;
  std::uint8_t buffer[proto::kDatagramBytes] = {};
};
// Builds the voice datagram for one 1000-byte block; its length (1024).
std::size_t nextVoice(VoiceSender& s, std::uint16_t accountNumber, std::span<const std::uint8_t> pcm);

}  // namespace net
