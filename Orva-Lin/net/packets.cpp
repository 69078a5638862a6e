#include "Orva-Lin/net/packets.h"

#include <algorithm>
#include <cstring>

namespace net {
namespace {

using proto::kPcmBlockBytes;
using proto::kPcmOffset;

constexpr std::size_t kNBodyChars = sizeof(proto::kPollNBody) - 1;
constexpr std::size_t kDFallbackChars = sizeof(proto::kPollDFallback) - 1;

void putWord(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value & 0xFF);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

std::uint16_t getWord(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

bool allZero(const std::uint8_t* at, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (at[i] != 0) return false;
  }
  return true;
}

bool isDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }

bool isPollHead(std::span<const std::uint8_t> in) {
  return in.size() > proto::kPollBody && in[0] == proto::kPollTag[0] &&
         in[1] == proto::kPollTag[1] && in[2] == 0 &&
         allZero(in.data() + proto::kPollAccountHi + 1,
                 proto::kPollBody - proto::kPollAccountHi - 1);
}

}  // namespace

std::size_t buildHello(std::span<std::uint8_t> out) {
  if (out.size() < proto::kHelloBytes) return 0;
  std::memset(out.data(), 0, proto::kHelloBytes);
  std::memcpy(out.data(), proto::kHelloTag, sizeof(proto::kHelloTag));
  return proto::kHelloBytes;
}

std::size_t buildSupervisorHello(std::span<std::uint8_t> out) {
  if (out.size() < proto::kSupervisorHelloBytes) return 0;
  buildHello(out);
  buildHello(out.subspan(proto::kHelloBytes));
  return proto::kSupervisorHelloBytes;
}

int nextPollVariant(int pollVariant) {
  int next = pollVariant + 1;
  return next >= proto::kPollVariantCount ? 0 : next;
}

std::size_t buildPoll(std::span<std::uint8_t> out, int pollVariant,
                      std::uint16_t accountNumber, std::string_view clientIdentifier) {
  std::size_t length = 0;
  switch (pollVariant) {
    case proto::kPollVariantN: length = proto::kPollNBytes; break;
    case proto::kPollVariantD:
      length = clientIdentifier.size() == proto::kClientIdentifierChars ? proto::kPollDBytes
                                                                         : proto::kPollDShortBytes;
      break;
    case proto::kPollVariantV: length = proto::kPollVBytes; break;
    default: return 0;
  }
  if (out.size() < length) return 0;
  std::uint8_t* p = out.data();
  std::memset(p, 0, length);
  p[0] = proto::kPollTag[0];
  p[1] = proto::kPollTag[1];
  putWord(p + proto::kPollAccountLo, accountNumber);
  std::uint8_t* body = p + proto::kPollBody;
  switch (pollVariant) {
    case proto::kPollVariantN:
      std::memcpy(body, proto::kPollNBody, kNBodyChars);
      break;
    case proto::kPollVariantD:
      body[0] = proto::kPollKindD;
      if (length == proto::kPollDBytes) {
        std::memcpy(body + 1, clientIdentifier.data(), proto::kClientIdentifierChars);
      } else {
        std::memcpy(body + 1, proto::kPollDFallback, kDFallbackChars);
      }
      break;
    default:
      body[0] = proto::kPollKindV;
      body[1] = proto::kPollVersionMajor;
      body[2] = proto::kPollVersionMinor;
      body[3] = proto::kPollVersionPatch;
      body[4] = proto::kPollVersionTail;
      break;
  }
  return length;
}

std::uint8_t nextSequence(std::uint8_t sequence) {
  return sequence >= proto::kSequenceLast ? proto::kSequenceFirst
                                          : static_cast<std::uint8_t>(sequence + 1);
}

std::size_t buildVoice(std::span<std::uint8_t> out, std::uint8_t voiceSequence,
                       std::uint16_t accountNumber, std::span<const std::uint8_t> pcm) {
  if (out.size() < proto::kDatagramBytes || pcm.size() != kPcmBlockBytes) return 0;
  std::uint8_t* p = out.data();
  std::memset(p, 0, kPcmOffset);
  p[0] = proto::kKindAudio;
  p[proto::kVoiceSequence] = voiceSequence;
  p[proto::kVoiceMarkerAt] = proto::kVoiceMarker;
  putWord(p + proto::kVoiceAccountLo, accountNumber);
  p[proto::kVoiceNAt] = proto::kVoiceN;
  std::memcpy(p + proto::kVoiceTagAt, proto::kVoiceTag, proto::kVoiceTagChars);
  std::memcpy(p + kPcmOffset, pcm.data(), kPcmBlockBytes);
  return proto::kDatagramBytes;
}

std::size_t buildListRequest(std::span<std::uint8_t> out) {
  if (out.size() < proto::kListRequestBytes) return 0;
  out[0] = proto::kKindList;
  out[1] = 0;
  out[2] = 0;
  return proto::kListRequestBytes;
}

std::size_t buildSupervisorRequest(std::span<std::uint8_t> out, std::uint8_t echoByte) {
  if (out.size() < proto::kSupervisorRequestBytes) return 0;
  out[0] = proto::kKindSupervisor;
  out[1] = proto::kSupervisorMarker;
  out[proto::kSupervisorEchoAt] = echoByte;
  return proto::kSupervisorRequestBytes;
}

std::size_t buildAudio(std::span<std::uint8_t> out, const AudioHeader& head,
                       std::span<const std::uint8_t> pcm) {
  const bool block = head.content == proto::kContentSound;
  const std::size_t length = block ? proto::kDatagramBytes : proto::kAudioNoBlockBytes;
  if (out.size() < length || (block && pcm.size() != kPcmBlockBytes)) return 0;
  std::uint8_t* p = out.data();
  std::memset(p, 0, kPcmOffset);
  p[proto::kAudioKind] = head.kind;
  p[proto::kAudioSequence] = head.sequence;
  p[proto::kAudioEcho] = head.echo;
  putWord(p + proto::kAudioTalkerLo, head.talker);
  p[proto::kAudioPace] = static_cast<std::uint8_t>(head.pace);
  p[proto::kAudioContent] = head.content;
  if (block) std::memcpy(p + kPcmOffset, pcm.data(), kPcmBlockBytes);
  return length;
}

std::size_t buildListReply(std::span<std::uint8_t> out, int channel,
                           std::span<const std::uint16_t> members) {
  if (channel < 0 || channel >= proto::kChannelCount) return 0;
  const std::size_t count =
      std::min(members.size(), static_cast<std::size_t>(proto::kListMaxMembers));
  const std::size_t length = proto::kListReplyHeadBytes + 2 * count;
  if (out.size() < length) return 0;
  out[0] = proto::kKindList;
  out[proto::kListReplyChannel] = static_cast<std::uint8_t>(channel);
  out[proto::kListReplyCount] = static_cast<std::uint8_t>(count);
  for (std::size_t i = 0; i < count; ++i) {
    putWord(out.data() + proto::kListReplyHeadBytes + 2 * i, members[i]);
  }
  return length;
}

std::size_t buildSupervisorReply(std::span<std::uint8_t> out, std::uint8_t code) {
  if (out.size() < proto::kSupervisorReplyBytes) return 0;
  out[0] = proto::kKindSupervisor;
  out[1] = proto::kSupervisorMarker;
  out[proto::kSupervisorCodeAt] = code;
  return proto::kSupervisorReplyBytes;
}

bool parseHello(std::span<const std::uint8_t> in) {
  if (in.size() != proto::kHelloBytes && in.size() != proto::kSupervisorHelloBytes) return false;
  for (std::size_t at = 0; at < in.size(); at += proto::kHelloBytes) {
    if (std::memcmp(in.data() + at, proto::kHelloTag, sizeof(proto::kHelloTag)) != 0 ||
        !allZero(in.data() + at + sizeof(proto::kHelloTag),
                 proto::kHelloBytes - sizeof(proto::kHelloTag))) {
      return false;
    }
  }
  return true;
}

bool parsePoll(std::span<const std::uint8_t> in, Poll& poll) {
  if (!isPollHead(in)) return false;
  const std::uint8_t* body = in.data() + proto::kPollBody;
  const std::size_t n = in.size();
  int variant = -1;
  if (n == proto::kPollNBytes) {
    if (std::memcmp(body, proto::kPollNBody, kNBodyChars) == 0 && in[n - 1] == 0) {
      variant = proto::kPollVariantN;
    }
  } else if (n == proto::kPollDBytes) {
    // The identifier is an opaque text: any 16 non-zero characters.
    if (body[0] == proto::kPollKindD && in[n - 1] == 0 &&
        std::find(body + 1, body + 1 + proto::kClientIdentifierChars, 0) ==
            body + 1 + proto::kClientIdentifierChars) {
      variant = proto::kPollVariantD;
    }
  } else if (n == proto::kPollDShortBytes) {
    if (body[0] == proto::kPollKindD && in[n - 1] == 0 &&
        std::memcmp(body + 1, proto::kPollDFallback, kDFallbackChars) == 0) {
      variant = proto::kPollVariantD;
    }
  } else if (n == proto::kPollVBytes) {
    if (body[0] == proto::kPollKindV && isDigit(body[1]) && isDigit(body[2]) &&
        isDigit(body[3])) {
      variant = proto::kPollVariantV;
    }
  }
  if (variant < 0) return false;
  poll = Poll{};
  poll.variant = variant;
  poll.accountNumber = getWord(in.data() + proto::kPollAccountLo);
  if (variant == proto::kPollVariantV) {
    for (int i = 0; i < 4; ++i) poll.version[i] = body[1 + i];
  }
  return true;
}

std::uint32_t packVersion(int major, int minor, int patch, int tail) {
  return (static_cast<std::uint32_t>(major & 0xFF) << 24) |
         (static_cast<std::uint32_t>(minor & 0xFF) << 16) |
         (static_cast<std::uint32_t>(patch & 0xFF) << 8) | static_cast<std::uint32_t>(tail & 0xFF);
}

std::uint32_t pollVersion(const Poll& poll) {
  return packVersion(poll.version[0] - '0', poll.version[1] - '0', poll.version[2] - '0',
                     poll.version[3]);
}

bool parseVoice(std::span<const std::uint8_t> in, Voice& voice) {
  if (in.size() != proto::kDatagramBytes) return false;
  const std::uint8_t* p = in.data();
  if (p[0] != proto::kKindAudio || p[proto::kVoiceSequence] == 0 ||
      p[proto::kVoiceMarkerAt] != proto::kVoiceMarker || p[proto::kVoiceAccountHi + 1] != 0 ||
      p[proto::kVoiceNAt] != proto::kVoiceN ||
      std::memcmp(p + proto::kVoiceTagAt, proto::kVoiceTag, proto::kVoiceTagChars) != 0 ||
      !allZero(p + proto::kVoiceTagAt + proto::kVoiceTagChars,
               kPcmOffset - proto::kVoiceTagAt - proto::kVoiceTagChars)) {
    return false;
  }
  voice.sequence = p[proto::kVoiceSequence];
  voice.accountNumber = getWord(p + proto::kVoiceAccountLo);
  voice.pcm = in.subspan(kPcmOffset, kPcmBlockBytes);
  return true;
}

bool parseListRequest(std::span<const std::uint8_t> in) {
  return in.size() == proto::kListRequestBytes && in[0] == proto::kKindList && in[1] == 0 &&
         in[2] == 0;
}

bool parseSupervisorRequest(std::span<const std::uint8_t> in, std::uint8_t& echoByte) {
  if (in.size() != proto::kSupervisorRequestBytes || in[0] != proto::kKindSupervisor ||
      in[1] != proto::kSupervisorMarker) {
    return false;
  }
  echoByte = in[proto::kSupervisorEchoAt];
  return true;
}

bool parseAudio(std::span<const std::uint8_t> in, Audio& audio) {
  if (in.size() < proto::kAudioMinBytes) return false;
  const std::uint8_t kind = in[proto::kAudioKind];
  if (kind != proto::kKindAudio && kind != proto::kKindEcho) return false;
  const std::uint8_t content = in[proto::kAudioContent];
  if (content == proto::kContentSound && in.size() < proto::kDatagramBytes) return false;
  audio.head.kind = kind;
  audio.head.sequence = in[proto::kAudioSequence];
  audio.head.echo = in[proto::kAudioEcho];
  audio.head.talker = getWord(in.data() + proto::kAudioTalkerLo);
  audio.head.pace = static_cast<std::int8_t>(in[proto::kAudioPace]);
  audio.head.content = content;
  audio.pcm = content == proto::kContentSound ? in.subspan(kPcmOffset, kPcmBlockBytes)
                                              : std::span<const std::uint8_t>{};
  return true;
}

bool parseListReply(std::span<const std::uint8_t> in, ListReply& reply) {
  if (in.size() < proto::kListReplyHeadBytes || in[0] != proto::kKindList) return false;
  const int channel = static_cast<std::int8_t>(in[proto::kListReplyChannel]);
  const int count = static_cast<std::int8_t>(in[proto::kListReplyCount]);
  if (channel < 0 || channel >= proto::kChannelCount || count < 0 ||
      count > proto::kListMaxMembers ||
      in.size() < proto::kListReplyHeadBytes + 2 * static_cast<std::size_t>(count)) {
    return false;
  }
  reply.channel = channel;
  reply.count = count;
  for (int i = 0; i < count; ++i) {
    reply.members[i] = getWord(in.data() + proto::kListReplyHeadBytes + 2 * i);
  }
  return true;
}

bool parseSupervisorReply(std::span<const std::uint8_t> in, std::uint8_t& code) {
  if (in.size() < proto::kSupervisorReplyBytes || in[0] != proto::kKindSupervisor) return false;
  code = in[proto::kSupervisorCodeAt];
  return true;
}

}  // namespace net
