// Every datagram exchanged with the relay server, built and parsed in one
// place so the client and the relay cannot disagree on a byte. Builders write
// into a caller's buffer and return the length written (0 when it does not
// fit); parsers read only the bytes they are given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "common/protocol.h"

namespace net {

// ---- Client to relay --------------------------------------------------------
std::size_t buildHello(std::span<std::uint8_t> out);
std::size_t buildSupervisorHello(std::span<std::uint8_t> out);

// Rotation value after pollVariant: 1 picks N, 2 picks D, 0 picks V; the
// first poll after start (from 0) is N.
int nextPollVariant(int pollVariant);
std::size_t buildPoll(std::span<std::uint8_t> out, int pollVariant,
                      std::uint16_t accountNumber, std::string_view clientIdentifier);

// 1..255, then 1 again.
std::uint8_t nextSequence(std::uint8_t sequence);
std::size_t buildVoice(std::span<std::uint8_t> out, std::uint8_t voiceSequence,
                       std::uint16_t accountNumber, std::span<const std::uint8_t> pcm);

std::size_t buildListRequest(std::span<std::uint8_t> out);
std::size_t buildSupervisorRequest(std::span<std::uint8_t> out, std::uint8_t echoByte);

// ---- Relay to client --------------------------------------------------------
struct AudioHeader {
  std::uint8_t kind = proto::kKindAudio;
  std::uint8_t sequence = 0;
  std::uint8_t echo = 0;
  std::uint16_t talker = 0;
  std::int8_t pace = 0;
  std::uint8_t content = proto::kContentKeepAlive;
};

// Content 1 needs a 1000-byte block and makes 1024 bytes; any other content
// sends the 24-byte head alone.
std::size_t buildAudio(std::span<std::uint8_t> out, const AudioHeader& head,
                       std::span<const std::uint8_t> pcm);
// Lists the first 16 members at most.
std::size_t buildListReply(std::span<std::uint8_t> out, int channel,
                           std::span<const std::uint16_t> members);
std::size_t buildSupervisorReply(std::span<std::uint8_t> out, std::uint8_t code);

// ---- Parsers ---------------------------------------------------------------
// Hello of either socket (9 or 18 bytes).
bool parseHello(std::span<const std::uint8_t> in);

struct Poll {
  int variant = 0;                  // kPollVariantN / D / V
  std::uint16_t accountNumber = 0;
  std::uint8_t version[4] = {};     // V only: three digit characters and the tail byte
};
bool parsePoll(std::span<const std::uint8_t> in, Poll& poll);

// Packs a V poll's version so that later versions compare greater.
std::uint32_t packVersion(int major, int minor, int patch, int tail);
std::uint32_t pollVersion(const Poll& poll);

struct Voice {
  std::uint8_t sequence = 0;
  std::uint16_t accountNumber = 0;
  std::span<const std::uint8_t> pcm;   // into the parsed datagram
};
bool parseVoice(std::span<const std::uint8_t> in, Voice& voice);

bool parseListRequest(std::span<const std::uint8_t> in);
bool parseSupervisorRequest(std::span<const std::uint8_t> in, std::uint8_t& echoByte);

struct Audio {
  AudioHeader head;
  std::span<const std::uint8_t> pcm;   // empty unless content is 1
};
// Bytes past 1024 are ignored, as a 1024-byte receive buffer would.
bool parseAudio(std::span<const std::uint8_t> in, Audio& audio);

struct ListReply {
  int channel = 0;
  int count = 0;
  std::uint16_t members[proto::kListMaxMembers] = {};
};
bool parseListReply(std::span<const std::uint8_t> in, ListReply& reply);
bool parseSupervisorReply(std::span<const std::uint8_t> in, std::uint8_t& code);

}  // namespace net
