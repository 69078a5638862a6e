// What the relay does with each datagram: presence from polls, the floor and
// its ring of blocks, paced pull delivery, the echo channel, lists and
// supervisor notices.
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

#include "Orva-Lin/net/packets.h"
#include "servers/relay/relay.h"

namespace relay {
namespace {

constexpr std::int64_t kFloorHoldUs = static_cast<std::int64_t>(proto::kFloorHoldMs) * 1000;
constexpr std::int64_t kKeepAliveUs = static_cast<std::int64_t>(proto::kKeepAliveMs) * 1000;
constexpr std::int64_t kEchoDelayUs = static_cast<std::int64_t>(proto::kEchoDelayMs) * 1000;
constexpr std::uint64_t kQueue = proto::kListenerQueueBlocks;

std::int64_t lastSweepUs = 0;
std::int64_t lastLoadUs = 0;
int loadSlot = 0;

// From `local` when it is known: a relay bound to the wildcard address
// would otherwise let the kernel pick the source by route, and on a host
// with several addresses that can differ from the one the client sent to,
// which the client then takes for a stranger and ignores.
void sendDatagram(int fd, std::uint32_t local, std::uint32_t ip, std::uint16_t port,
                  std::span<const std::uint8_t> out, Counter counter) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = ip;
  to.sin_port = port;
  iovec iov{const_cast<std::uint8_t*>(out.data()), out.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  msghdr msg{};
  msg.msg_name = &to;
  msg.msg_namelen = sizeof to;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  if (local != 0) {
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst.s_addr = local;
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
  }
  if (sendmsg(fd, &msg, MSG_DONTWAIT) < 0) {
    ++state.counters[kDropSendFailed];
    return;
  }
  ++state.counters[counter];
  ++state.traffic;
}

void sendAudio(Member& m, std::uint8_t kind, std::uint16_t talker, std::uint8_t content,
               std::span<const std::uint8_t> pcm, std::int64_t now, Counter counter) {
  m.sequence = net::nextSequence(m.sequence);
  net::AudioHeader head{kind, m.sequence, m.token, talker, static_cast<std::int8_t>(state.pace),
                        content};
  const std::size_t n = net::buildAudio(state.tx, head, pcm);
  sendDatagram(state.voiceFd[m.channel], m.local, m.ip, m.port, std::span(state.tx, n), counter);
  m.lastAudioOutUs = now;
}

// Blocks leave on a 31.25 ms schedule rather than 31.25 ms after the previous
// release: a listener polling every 30 ms would otherwise get a block only
// every other poll, half the rate its playout needs. A schedule that fell more
// than one block behind restarts, so no burst ever exceeds one block early.
bool releaseDue(const Member& m, std::int64_t now) { return now >= m.nextDueUs; }

void markReleased(Member& m, std::int64_t now) {
  if (now - m.nextDueUs > kBlockUs) {
    m.nextDueUs = now + kBlockUs;
  } else {
    m.nextDueUs += kBlockUs;
  }
}

void deliver(Member& m, std::int64_t now) {
  bool sent = false;
  if (m.echo >= 0) {
    EchoRecorder& r = state.echo[m.echo];
    if (r.playing && releaseDue(m, now)) {
      m.lastTalker = m.account;   // on the echo channel the member hears itself
      sendAudio(m, proto::kKindEcho, m.lastTalker, proto::kContentSound, r.blocks[r.played], now,
                kOutEcho);
      markReleased(m, now);
      if (++r.played >= r.count) freeEcho(static_cast<int>(&m - state.members));
      sent = true;
    }
  } else {
    Channel& c = state.channels[m.channel];
    if (c.head - m.nextBlock > kQueue) {
      state.counters[kQueueOverflow] += c.head - m.nextBlock - kQueue;
      m.nextBlock = c.head - kQueue;
    }
    if (m.nextBlock < c.head && releaseDue(m, now)) {
      const std::size_t slot = m.nextBlock % kQueue;
      m.lastTalker = c.talkers[slot];
      sendAudio(m, proto::kKindAudio, m.lastTalker, proto::kContentSound, c.blocks[slot], now,
                kOutAudio);
      ++m.nextBlock;
      markReleased(m, now);
      sent = true;
    }
  }
  if (!sent && (m.lastAudioOutUs == 0 || now - m.lastAudioOutUs > kKeepAliveUs)) {
    // The last talker's number, not 0: the client takes bytes 3-4 of every
    // datagram as the member last heard, whatever it carries.
    sendAudio(m, proto::kKindAudio, m.lastTalker, proto::kContentKeepAlive, {}, now,
              kOutKeepAlive);
  }
}

void onPoll(int channel, const sockaddr_in& from, std::uint32_t local, const net::Poll& poll,
            std::int64_t now) {
  int index = findMember(from.sin_addr.s_addr, from.sin_port);
  if (index == kNoMember) {
    index = joinMember(from.sin_addr.s_addr, from.sin_port, poll.accountNumber, channel, now);
    if (index == kNoMember) {
      ++state.counters[kDropTableFull];
      return;
    }
  } else if (state.members[index].channel != channel) {
    moveMember(index, channel, now);
  }
  Member& m = state.members[index];
  m.account = poll.accountNumber;
  m.local = local;
  m.lastPollUs = now;
  if (poll.variant == proto::kPollVariantV) {
    m.version = net::pollVersion(poll);
    m.versionKnown = true;
  }
  deliver(m, now);
}

void recordEcho(int index, std::span<const std::uint8_t> pcm, std::int64_t now) {
  Member& m = state.members[index];
  if (m.echo < 0) {
    for (int r = 0; r < kEchoRecorders; ++r) {
      if (state.echo[r].member == kNoMember) {
        m.echo = r;
        state.echo[r].member = index;
        state.echo[r].count = 0;
        state.echo[r].playing = false;
        break;
      }
    }
    if (m.echo < 0) {
      ++state.counters[kDropEchoBusy];
      return;
    }
  }
  EchoRecorder& r = state.echo[m.echo];
  if (r.playing) {   // speaking again cuts the playback short and starts a new take
    r.playing = false;
    r.count = 0;
  }
  r.lastVoiceUs = now;
  if (r.count >= proto::kEchoRecordBlocks) {
    ++state.counters[kDropEchoFull];
    return;
  }
  std::memcpy(r.blocks[r.count++], pcm.data(), proto::kPcmBlockBytes);
}

void onVoice(int channel, const sockaddr_in& from, const net::Voice& voice, std::int64_t now) {
  const int index = findMember(from.sin_addr.s_addr, from.sin_port);
  if (index == kNoMember) {
    ++state.counters[kDropNotMember];
    return;
  }
  Member& m = state.members[index];
  if (m.channel != channel) {
    ++state.counters[kDropWrongChannel];
    return;
  }
  if (voice.accountNumber != m.account) {
    ++state.counters[kDropAccount];
    return;
  }
  Channel& c = state.channels[channel];
  if (channel == proto::kEchoChannel) {
    ++c.voiceBlocks;
    recordEcho(index, voice.pcm, now);
    return;
  }
  if (c.floorHolder != kNoMember && c.floorHolder != index) {
    ++state.counters[kDropFloorBusy];
    return;
  }
  if (c.floorHolder == kNoMember) {
    c.floorHolder = index;
    ++state.counters[kFloorChanges];
    logLine("floor ch %d taken by acct %u", channel, m.account);
  }
  c.lastVoiceUs = now;
  ++c.voiceBlocks;
  const std::size_t slot = c.head % kQueue;
  std::memcpy(c.blocks[slot], voice.pcm.data(), proto::kPcmBlockBytes);
  c.talkers[slot] = m.account;
  ++c.head;
  m.nextBlock = c.head;   // a talker never hears itself
}

void updateLoad(std::int64_t now) {
  if (now - lastLoadUs < static_cast<std::int64_t>(kLoadWindowMs) * 1000) return;
  lastLoadUs = now;
  state.loadWindows[loadSlot] = state.traffic - state.loadMark;
  state.loadMark = state.traffic;
  loadSlot = (loadSlot + 1) % 4;
  std::uint64_t perSecond = 0;
  for (std::uint64_t w : state.loadWindows) perSecond += w;
  state.perSecond = perSecond;
  const std::uint64_t capacity = state.config.capacity > 0 ? state.config.capacity : 1;
  const std::uint64_t level = perSecond * (proto::kPaceMax + 1) / capacity;
  state.pace = level > static_cast<std::uint64_t>(proto::kPaceMax) ? proto::kPaceMax
                                                                    : static_cast<int>(level);
}

}  // namespace

int queuedBlocks(const Member& m) {
  const std::uint64_t pending = state.channels[m.channel].head - m.nextBlock;
  return static_cast<int>(pending > kQueue ? kQueue : pending);
}

void releaseFloor(int channel, const char* reason) {
  Channel& c = state.channels[channel];
  if (c.floorHolder == kNoMember) return;
  logLine("floor ch %d released by acct %u (%s)", channel, state.members[c.floorHolder].account,
          reason);
  c.floorHolder = kNoMember;
  ++state.counters[kFloorChanges];
}

void freeEcho(int member) {
  Member& m = state.members[member];
  if (m.echo < 0) return;
  state.echo[m.echo].member = kNoMember;
  state.echo[m.echo].playing = false;
  m.echo = -1;
}

void onVoicePort(int channel, const sockaddr_in& from, std::uint32_t local,
                 std::span<const std::uint8_t> in, std::int64_t now) {
  net::Poll poll;
  net::Voice voice;
  if (net::parsePoll(in, poll)) {
    ++state.counters[kInPoll];
    onPoll(channel, from, local, poll, now);
  } else if (net::parseVoice(in, voice)) {
    ++state.counters[kInVoice];
    onVoice(channel, from, voice, now);
  } else if (net::parseHello(in)) {
    ++state.counters[kInHello];
  } else {
    ++state.counters[kDropMalformed];
  }
}

void onListPort(int channel, const sockaddr_in& from, std::uint32_t local,
                std::span<const std::uint8_t> in) {
  std::uint8_t echo = 0;
  if (net::parseListRequest(in)) {
    ++state.counters[kInList];
    const Channel& c = state.channels[channel];
    std::uint16_t numbers[proto::kListMaxMembers];
    const int n = c.count < proto::kListMaxMembers ? c.count : proto::kListMaxMembers;
    for (int i = 0; i < n; ++i) numbers[i] = state.members[c.members[i]].account;
    const std::size_t len = net::buildListReply(state.tx, channel, std::span(numbers, n));
    sendDatagram(state.listFd[channel], local, from.sin_addr.s_addr, from.sin_port,
                 std::span(state.tx, len), kOutList);
  } else if (net::parseSupervisorRequest(in, echo)) {
    ++state.counters[kInSupervisor];
    std::uint8_t code = proto::kNoticeNone;
    const int index = findMemberByToken(from.sin_addr.s_addr, echo);
    if (index == kNoMember) {
      ++state.counters[kSupervisorUnknown];
    } else {
      Member& m = state.members[index];
      if (m.closePending) {
        m.closePending = false;
        code = proto::kNoticeClose;
        ++state.counters[kOutNotice240];
        logLine("notice 240 to acct %u on ch %d", m.account, m.channel);
      } else if (state.config.minVersion != 0 && m.versionKnown &&
                 m.version < state.config.minVersion) {
        code = proto::kNoticeUpdate;
        ++state.counters[kOutNotice220];
      }
    }
    const std::size_t len = net::buildSupervisorReply(state.tx, code);
    sendDatagram(state.listFd[channel], local, from.sin_addr.s_addr, from.sin_port,
                 std::span(state.tx, len), kOutSupervisor);
  } else {
    ++state.counters[kDropMalformed];
  }
}

void onTick(std::int64_t now) {
  for (int ch = 0; ch < proto::kChannelCount; ++ch) {
    Channel& c = state.channels[ch];
    if (c.floorHolder != kNoMember && now - c.lastVoiceUs > kFloorHoldUs) {
      releaseFloor(ch, "silence");
    }
  }
  for (EchoRecorder& r : state.echo) {
    if (r.member != kNoMember && !r.playing && r.count > 0 && now - r.lastVoiceUs >= kEchoDelayUs) {
      r.playing = true;
      r.played = 0;
      logLine("echo ch %d acct %u: playing back %d blocks", proto::kEchoChannel,
              state.members[r.member].account, r.count);
    }
  }
  if (now - lastSweepUs >= static_cast<std::int64_t>(kSweepMs) * 1000) {
    lastSweepUs = now;
    sweepMembers(now);
  }
  updateLoad(now);
}

}  // namespace relay
