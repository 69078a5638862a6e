#include "Orva-Lin/net/voice_receive.h"

#include <algorithm>
#include <cstring>

#include "Orva-Lin/net/packets.h"
#include "Orva-Lin/shared_state.h"

namespace net {

PeerLists peerLists{};

namespace {
constexpr int kReceiveBlinkPeriod = 10;
constexpr int kReceiveBlinkGreenAt = 5;
constexpr int kReceiveBlinkBlueAt = 0;
constexpr int kEchoAttenuation = 10;
constexpr int kPollPeriodBaseMs = 10;
constexpr int kPollPeriodStepMs = 5;
constexpr int kPollPeriodSlowMs = 30;

void copyPadded(std::span<const std::uint8_t> received, std::uint8_t (&out)[proto::kDatagramBytes]) {
  const std::size_t n = std::min(received.size(), proto::kDatagramBytes);
  std::memcpy(out, received.data(), n);
  std::memset(out + n, 0, proto::kDatagramBytes - n);
}

}  // namespace

bool fromRelay(std::uint32_t fromAddress, std::uint32_t relayAddress) { return fromAddress == relayAddress; }

int pollPeriodMs(int sendPaceMode) {
  if (sendPaceMode < 0 || sendPaceMode >= proto::kPaceMax) return kPollPeriodSlowMs;
  return kPollPeriodBaseMs + kPollPeriodStepMs * sendPaceMode;
}

std::int16_t attenuateEchoSample(std::int16_t s) { return static_cast<std::int16_t>(s / kEchoAttenuation); }

AudioOutcome receiveAudio(AudioReceiver& r, PlayoutFifo& fifo, std::span<const std::uint8_t> received,
                          int channelPort) {
  AudioOutcome out;
  if (received.empty()) return out;
  copyPadded(received, r.padded);
  Audio audio;
  if (!parseAudio(std::span<const std::uint8_t>(r.padded), audio)) {
    out.packetLed = led::kYellow;
    return out;
  }
  if (audio.head.sequence == r.lastAudioSequence) {
    out.packetLed = led::kRed;
    return out;
  }
  r.lastAudioSequence = audio.head.sequence;
  out.packetLed = led::kGreen;
  out.accepted = true;
  if (audio.head.content == proto::kContentSilence) {
    putSilenceBlock(fifo);
  } else if (audio.head.content == proto::kContentSound) {
    if (channelPort == proto::kVoicePortBase + proto::kEchoChannel && audio.head.kind == proto::kKindEcho) {
      for (std::size_t i = 0; i < proto::kPcmBlockBytes; i += 2) {
        const auto s = static_cast<std::int16_t>(audio.pcm[i] | (audio.pcm[i + 1] << 8));
        const auto a = static_cast<std::uint16_t>(attenuateEchoSample(s));
        r.block[i] = static_cast<std::uint8_t>(a & 0xFF);
        r.block[i + 1] = static_cast<std::uint8_t>(a >> 8);
      }
      putVoiceBlock(fifo, r.block);
    } else {
      putVoiceBlock(fifo, audio.pcm);
    }
  }
  out.serverEchoByte = static_cast<std::int8_t>(audio.head.echo);
  out.talkerNumber = audio.head.talker;
  out.sendPaceMode = audio.head.pace;
  if (r.blinkCounter == kReceiveBlinkGreenAt) out.voiceLinkLed = led::kGreen;
  else if (r.blinkCounter == kReceiveBlinkBlueAt) out.voiceLinkLed = led::kBlue;
  r.blinkCounter = (r.blinkCounter + 1) % kReceiveBlinkPeriod;
  return out;
}

bool applyListReply(PeerLists& lists, std::atomic<std::int32_t>& channelPeerCount,
                    std::span<const std::uint8_t> received, int channelPort) {
  ListReply reply;
  if (!parseListReply(received, reply)) return false;
  // Members first, then the count with release ordering: a window that
  // reads the count (acquire) then sees these members, never the old ones.
  for (int i = 0; i < reply.count; ++i)
    lists.peerTable[reply.channel][i].store(reply.members[i], std::memory_order_relaxed);
  lists.peerCounts[reply.channel].store(reply.count, std::memory_order_release);
  if (reply.channel == channelPort - proto::kVoicePortBase)
    channelPeerCount.store(reply.count, std::memory_order_release);
  return true;
}

SupervisorAction supervisorAction(std::span<const std::uint8_t> received) {
  std::uint8_t code = 0;
  if (!parseSupervisorReply(received, code)) return SupervisorAction::None;
  if (code == proto::kNoticeUpdate) return SupervisorAction::Update;
  if (code == proto::kNoticeClose) return SupervisorAction::Close;
  return SupervisorAction::None;
}

CyclePlan nextSupervisorCycle(SupervisorCycle& c, int channelPort) {
  CyclePlan plan;
  plan.list = c.listNext;
  c.listNext = !c.listNext;
  if (!plan.list) return plan;
  plan.listBases[0] = channelPort;
  plan.listBases[1] = proto::kVoicePortBase + c.listRotation;
  c.listRotation = (c.listRotation + 1) % proto::kChannelCount;
  return plan;
}

}  // namespace net
