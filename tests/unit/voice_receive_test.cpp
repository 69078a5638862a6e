#include "Orva-Lin/net/voice_receive.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "Orva-Lin/net/packets.h"
#include "Orva-Lin/net/voice_send.h"
#include "Orva-Lin/shared_state.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int kLobby = proto::kVoicePortBase;
constexpr int kEchoPort = proto::kVoicePortBase + proto::kEchoChannel;

Bytes pcmOf(std::initializer_list<int> samples) {
  Bytes pcm(proto::kPcmBlockBytes, 0);
  std::size_t i = 0;
  for (int s : samples) {
    const auto u = static_cast<std::uint16_t>(static_cast<std::int16_t>(s));
    pcm[i++] = static_cast<std::uint8_t>(u & 0xFF);
    pcm[i++] = static_cast<std::uint8_t>(u >> 8);
  }
  return pcm;
}

Bytes rampPcm(int seed) {
  Bytes pcm(proto::kPcmBlockBytes);
  for (std::size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<std::uint8_t>(i * 13 + seed + 1);
  return pcm;
}

Bytes audio(std::uint8_t kind, std::uint8_t seq, std::uint8_t content, const Bytes& pcm = {}, std::int8_t pace = 2,
            std::uint16_t talker = 0x1234, std::uint8_t echo = 0xF0) {
  std::array<std::uint8_t, proto::kDatagramBytes> buf{};
  net::AudioHeader h;
  h.kind = kind;
  h.sequence = seq;
  h.echo = echo;
  h.talker = talker;
  h.pace = pace;
  h.content = content;
  Bytes block = pcm.empty() ? rampPcm(seq) : pcm;
  std::size_t n = net::buildAudio(buf, h, content == proto::kContentSound ? std::span<const std::uint8_t>(block)
                                                                         : std::span<const std::uint8_t>());
  return Bytes(buf.begin(), buf.begin() + n);
}

struct Rig {
  std::unique_ptr<PlayoutFifo> fifo = std::make_unique<PlayoutFifo>();
  net::AudioReceiver r;
  Rig() { resetFifo(*fifo); }
  net::AudioOutcome feed(const Bytes& d, int port = kLobby) { return net::receiveAudio(r, *fifo, d, port); }
  Bytes slot(int k) const {
    const std::uint8_t* s = fifo->bytes + k * proto::kPcmBlockBytes;
    return Bytes(s, s + proto::kPcmBlockBytes);
  }
};

TEST(AudioAcceptance, KindSequenceAndContentDecideWhatHappens) {
  struct Case {
    const char* name;
    Bytes first;        // fed before, when not empty
    Bytes datagram;
    std::uint32_t packetLed;
    bool accepted;
    int fifoIndexAfter;  // starts at 5, one more after the first when it is accepted
    bool slot6IsSound;
  };
  const Bytes sound7 = audio('A', 7, proto::kContentSound);
  const Case cases[] = {
      {"foreign kind", {}, audio('C', 7, proto::kContentSound), led::kYellow, false, 5, false},
      {"lower-case a is foreign", {}, audio('a', 7, proto::kContentSound), led::kYellow, false, 5, false},
      {"first datagram with sequence 0 is a duplicate", {}, audio('A', 0, proto::kContentSound), led::kRed, false,
       5, false},
      {"duplicate of the last accepted", sound7, sound7, led::kRed, false, 6, false},
      {"same sequence on a foreign kind stays foreign", sound7, audio('Z', 7, 1), led::kYellow, false, 6, false},
      {"new sequence with sound", sound7, audio('A', 8, proto::kContentSound), led::kGreen, true, 7, true},
      {"B with sound off the echo channel", sound7, audio('B', 8, proto::kContentSound), led::kGreen, true, 7, true},
      {"silence advances like sound", sound7, audio('A', 8, proto::kContentSilence), led::kGreen, true, 7, false},
      {"other content: no block", sound7, audio('A', 8, proto::kContentKeepAlive), led::kGreen, true, 6, false},
      {"content 255: no block", sound7, audio('A', 8, 255), led::kGreen, true, 6, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    if (!c.first.empty()) {
      ASSERT_TRUE(rig.feed(c.first).accepted);
    }
    std::memset(rig.fifo->bytes + 6 * proto::kPcmBlockBytes, 0x99, proto::kPcmBlockBytes);  // stale
    const net::AudioOutcome o = rig.feed(c.datagram);
    EXPECT_EQ(o.packetLed, c.packetLed);
    EXPECT_EQ(o.accepted, c.accepted);
    EXPECT_EQ(fifoWriteIndex(*rig.fifo), c.fifoIndexAfter);
    if (c.fifoIndexAfter == 7) {
      const Bytes want = c.slot6IsSound ? Bytes(c.datagram.begin() + 24, c.datagram.end())
                                        : Bytes(proto::kPcmBlockBytes, 0);
      EXPECT_EQ(rig.slot(6), want);
    }
    if (c.accepted) {
      EXPECT_EQ(o.sendPaceMode, 2);
      EXPECT_EQ(o.talkerNumber, 0x1234);
      EXPECT_EQ(o.serverEchoByte, -16);  // 0xF0 sign-extended
    }
  }
}

TEST(AudioAcceptance, HeaderValuesAreSignedWhereTheyShouldBe) {
  struct Case {
    std::int8_t pace;
    std::uint16_t talker;
    std::uint8_t echo;
    int wantPace, wantTalker, wantEcho;
  };
  const Case cases[] = {{0, 0, 0, 0, 0, 0},
                        {4, 65535, 127, 4, 65535, 127},
                        {-1, 0x8001, 0x80, -1, 0x8001, -128},
                        {99, 258, 0xFF, 99, 258, -1}};
  std::uint8_t seq = 1;
  Rig rig;
  for (const Case& c : cases) {
    const net::AudioOutcome o = rig.feed(audio('A', seq++, 0, {}, c.pace, c.talker, c.echo));
    ASSERT_TRUE(o.accepted);
    EXPECT_EQ(o.sendPaceMode, c.wantPace);
    EXPECT_EQ(o.talkerNumber, c.wantTalker);
    EXPECT_EQ(o.serverEchoByte, c.wantEcho);
  }
}

TEST(AudioAcceptance, EchoChannelPlaysBAtOneTenth) {
  const Bytes in = pcmOf({1000, -1000, 9, -32768, 32767, -9, 10, -10, 0, 19});
  const Bytes tenth = pcmOf({100, -100, 0, -3276, 3276, 0, 1, -1, 0, 1});
  struct Case {
    const char* name;
    std::uint8_t kind;
    int port;
    const Bytes& want;
  };
  const Case cases[] = {{"B on channel 10", 'B', kEchoPort, tenth},
                        {"A on channel 10", 'A', kEchoPort, in},
                        {"B on channel 9", 'B', kEchoPort - 1, in},
                        {"B on channel 0", 'B', kLobby, in}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    ASSERT_TRUE(rig.feed(audio(c.kind, 1, proto::kContentSound, in), c.port).accepted);
    EXPECT_EQ(rig.slot(5), c.want);
  }
}

TEST(AudioAcceptance, EchoAttenuationIsTruncatedTenthForEverySample) {
  for (int s = -32768; s <= 32767; ++s) {
    const double tenth = std::trunc(std::fabs(static_cast<double>(s)) * 0.1);
    const int want = s < 0 ? -static_cast<int>(tenth) : static_cast<int>(tenth);
    ASSERT_EQ(net::attenuateEchoSample(static_cast<std::int16_t>(s)), want) << s;
  }
}

// Bytes that did not arrive are zeros, never leftovers of an earlier datagram.
TEST(AudioAcceptance, ShortDatagramsReadZerosPastWhatArrived) {
  const Bytes full = audio('A', 9, proto::kContentSound);
  struct Case {
    const char* name;
    std::size_t length;
    std::uint32_t packetLed;
    int fifoIndexAfter;
    std::size_t soundBytes;  // of slot 6; the rest must be zero
    int pace, talker;
  };
  const Case cases[] = {
      {"one byte: sequence 0 is the duplicate of a fresh receiver's last", 1, led::kRed, 6, 0, 0, 0},
      {"three bytes: talker, pace and flag absent, so a silent block", 3, led::kGreen, 7, 0, 0, 0},
      {"seven bytes: content flag absent means silence", 7, led::kGreen, 7, 0, 2, 0x1234},
      {"head only with flag 1: whole block silent", 24, led::kGreen, 7, 0, 2, 0x1234},
      {"half a block: tail silent", 524, led::kGreen, 7, 500, 2, 0x1234},
      {"one byte short", 1023, led::kGreen, 7, 999, 2, 0x1234},
      {"complete", 1024, led::kGreen, 7, 1000, 2, 0x1234},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    // A full previous datagram leaves its bytes in the receiver's buffers.
    Bytes previous = full;
    previous[1] = 8;
    ASSERT_TRUE(rig.feed(previous).accepted);
    std::memset(rig.fifo->bytes + 6 * proto::kPcmBlockBytes, 0x99, proto::kPcmBlockBytes);
    Bytes d(full.begin(), full.begin() + static_cast<long>(c.length));
    if (c.length == 1) rig.r.lastAudioSequence = 0;
    const net::AudioOutcome o = rig.feed(d);
    EXPECT_EQ(o.packetLed, c.packetLed);
    EXPECT_EQ(fifoWriteIndex(*rig.fifo), c.fifoIndexAfter);
    if (o.accepted) {
      EXPECT_EQ(o.sendPaceMode, c.pace);
      EXPECT_EQ(o.talkerNumber, c.talker);
    }
    if (c.fifoIndexAfter == 7) {
      const Bytes slot = rig.slot(6);
      for (std::size_t i = 0; i < slot.size(); ++i)
        ASSERT_EQ(slot[i], i < c.soundBytes ? full[24 + i] : 0) << "byte " << i;
    }
  }
}

TEST(AudioAcceptance, NothingArrivedChangesNothing) {
  Rig rig;
  const net::AudioOutcome o = rig.feed(Bytes{});
  EXPECT_EQ(o.packetLed, 0u);
  EXPECT_FALSE(o.accepted);
  EXPECT_EQ(fifoWriteIndex(*rig.fifo), 5);
}

TEST(AudioAcceptance, HostileBytesOfEveryLengthStayInBounds) {
  Rig rig;
  std::uint32_t x = 12345;
  for (std::size_t n = 0; n <= 1100; ++n) {
    Bytes d(n);
    for (auto& b : d) {
      x = x * 1103515245u + 12345u;
      b = static_cast<std::uint8_t>(x >> 16);
    }
    if (n > 0 && n % 3 == 0) d[0] = 'A';
    if (n > 7 && n % 2 == 0) d[7] = 1;
    const net::AudioOutcome o = rig.feed(d, n % 5 ? kLobby : kEchoPort);
    ASSERT_GE(fifoWriteIndex(*rig.fifo), 5);
    ASSERT_LE(fifoWriteIndex(*rig.fifo), 15);
    if (n) {
      ASSERT_NE(o.packetLed, 0u);
    }
  }
}

TEST(AudioAcceptance, UdpLampBlinksBlueThenGreenEveryFiveAccepted) {
  Rig rig;
  std::vector<std::uint32_t> lamps;
  std::uint8_t seq = 1;
  for (int i = 0; i < 21; ++i) {
    if (i == 7) {  // a duplicate and a foreign datagram do not count
      EXPECT_EQ(rig.feed(audio('A', static_cast<std::uint8_t>(seq - 1), 0)).voiceLinkLed, 0u);
      EXPECT_EQ(rig.feed(audio('X', seq, 0)).voiceLinkLed, 0u);
    }
    lamps.push_back(rig.feed(audio('A', seq++, 0)).voiceLinkLed);
  }
  const std::uint32_t B = led::kBlue, G = led::kGreen;
  EXPECT_EQ(lamps, (std::vector<std::uint32_t>{B, 0, 0, 0, 0, G, 0, 0, 0, 0, B, 0, 0, 0, 0, G, 0, 0, 0, 0, B}));
}

TEST(AudioAcceptance, SixteenBlocksWithoutPlaybackPinTheIndexAtFifteen) {
  Rig rig;
  std::uint8_t seq = 1;
  for (int i = 0; i < 20; ++i) rig.feed(audio('A', seq++, proto::kContentSound));
  EXPECT_EQ(fifoWriteIndex(*rig.fifo), 15);
  const Bytes last = audio('A', seq - 1, proto::kContentSound);
  EXPECT_EQ(rig.slot(15), Bytes(last.begin() + 24, last.end()));
}

TEST(RelayFilter, OnlyTheRelaysAddressCounts) {
  const std::uint32_t relay = 0x7F000001;
  EXPECT_TRUE(net::fromRelay(0x7F000001, relay));
  EXPECT_FALSE(net::fromRelay(0x7F000002, relay));
  EXPECT_FALSE(net::fromRelay(0x0100007F, relay));  // byte-swapped: the order matters
  EXPECT_FALSE(net::fromRelay(0, relay));
}

TEST(PollPace, PaceValueSetsThePollPeriod) {
  const std::pair<int, int> table[] = {{0, 10}, {1, 15}, {2, 20}, {3, 25}, {4, 30},
                                       {5, 30}, {99, 30}, {-1, 30}, {-128, 30}, {127, 30}};
  for (auto [pace, ms] : table) EXPECT_EQ(net::pollPeriodMs(pace), ms) << "pace " << pace;
}

struct Tables {
  std::unique_ptr<net::PeerLists> lists = std::make_unique<net::PeerLists>();
  std::atomic<std::int32_t> channelPeerCount{-1};
  Tables() {
    for (int ch = 0; ch < proto::kChannelCount; ++ch) {
      lists->peerCounts[ch].store(-7);
      for (auto& e : lists->peerTable[ch]) e.store(-7);
    }
  }
};

TEST(ListReplies, InRangeRepliesFillTheTablesOthersAreIgnored) {
  struct Case {
    const char* name;
    Bytes reply;
    int channelPort;
    bool applied;
    int channel;
    std::vector<int> members;
    int channelPeerCount;
  };
  const Case cases[] = {
      {"channel 3, two members, user on 3", {'L', 3, 2, 0x34, 0x12, 0xFF, 0xFF}, kLobby + 3, true, 3,
       {0x1234, 0xFFFF}, 2},
      {"channel 3 while user on 4", {'L', 3, 2, 1, 0, 2, 0}, kLobby + 4, true, 3, {1, 2}, -1},
      {"channel 10, no members", {'L', 10, 0}, kLobby + 10, true, 10, {}, 0},
      {"sixteen members", {}, kLobby, true, 0, {}, 16},
      {"trailing bytes beyond n are not members", {'L', 1, 1, 5, 0, 9, 9, 9}, kLobby + 1, true, 1, {5}, 1},
      {"channel 11", {'L', 11, 1, 1, 0}, kLobby, false, 0, {}, -1},
      {"channel -1", {'L', 0xFF, 1, 1, 0}, kLobby, false, 0, {}, -1},
      {"count 17", {}, kLobby, false, 0, {}, -1},
      {"count -1", {'L', 2, 0xFF}, kLobby + 2, false, 0, {}, -1},
      {"short: two members announced, one arrived", {'L', 2, 2, 1, 0}, kLobby + 2, false, 0, {}, -1},
      {"short: one byte of the last member", {'L', 2, 1, 1}, kLobby + 2, false, 0, {}, -1},
      {"head only", {'L', 2}, kLobby + 2, false, 0, {}, -1},
      {"not a list reply", {'A', 3, 2, 1, 0, 2, 0}, kLobby + 3, false, 0, {}, -1},
  };
  for (const Case& c0 : cases) {
    Case c = c0;
    SCOPED_TRACE(c.name);
    if (std::string(c.name) == "sixteen members" || std::string(c.name) == "count 17") {
      const int n = std::string(c.name) == "count 17" ? 17 : 16;
      c.reply = {'L', 0, static_cast<std::uint8_t>(n)};
      for (int i = 0; i < n; ++i) {
        c.reply.push_back(static_cast<std::uint8_t>(100 + i));
        c.reply.push_back(1);
        if (n == 16) c.members.push_back(356 + i);
      }
    }
    Tables t;
    EXPECT_EQ(net::applyListReply(*t.lists, t.channelPeerCount, c.reply, c.channelPort), c.applied);
    EXPECT_EQ(t.channelPeerCount.load(), c.channelPeerCount);
    for (int ch = 0; ch < proto::kChannelCount; ++ch) {
      const bool touched = c.applied && ch == c.channel;
      EXPECT_EQ(t.lists->peerCounts[ch].load(), touched ? static_cast<int>(c.members.size()) : -7) << ch;
      for (int i = 0; i < proto::kListMaxMembers; ++i) {
        const int want = touched && i < static_cast<int>(c.members.size()) ? c.members[i] : -7;
        ASSERT_EQ(t.lists->peerTable[ch][i].load(), want) << "channel " << ch << " entry " << i;
      }
    }
  }
}

TEST(SupervisorReplies, OnlyCodes220And240Act) {
  struct Case {
    Bytes reply;
    net::SupervisorAction want;
  };
  using A = net::SupervisorAction;
  const Case cases[] = {
      {{'A', 1, 220}, A::Update}, {{'A', 1, 240}, A::Close}, {{'A', 0, 240}, A::Close},
      {{'A', 1, 0}, A::None},     {{'A', 1, 100}, A::None},  {{'A', 1, 221}, A::None},
      {{'A', 1}, A::None},        {{'L', 1, 240}, A::None},  {{}, A::None},
  };
  for (const Case& c : cases) EXPECT_EQ(net::supervisorAction(c.reply), c.want);
}

TEST(SupervisorCycles, ListCyclesAlternateWithSupervisorAndVisitEveryChannel) {
  net::SupervisorCycle cycle;
  std::vector<int> rotated;
  for (int i = 0; i < 2 * 13; ++i) {
    const int port = kLobby + 4;
    const net::CyclePlan p = net::nextSupervisorCycle(cycle, port);
    ASSERT_EQ(p.list, i % 2 == 0) << "cycle " << i;
    if (!p.list) continue;
    EXPECT_EQ(p.listBases[0], kLobby + 4);
    rotated.push_back(p.listBases[1] - proto::kVoicePortBase);
  }
  EXPECT_EQ(rotated, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0, 1}));
}

TEST(OutgoingOrder, PollsStartWithNAndRotateNDV) {
  struct Case {
    const char* identifier;
    std::vector<std::size_t> lengths;
  };
  const Case cases[] = {{"0123456789ABCDEF", {26, 27, 14, 26, 27, 14, 26}},
                        {"0123456789ABCDE", {26, 20, 14, 26, 20, 14, 26}},
                        {"0123456789ABCDEFG", {26, 20, 14, 26, 20, 14, 26}},
                        {"", {26, 20, 14, 26, 20, 14, 26}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.identifier);
    net::PollSender s;
    std::vector<std::size_t> got;
    for (std::size_t i = 0; i < c.lengths.size(); ++i) {
      const std::size_t n = net::nextPoll(s, 0x0201, c.identifier);
      got.push_back(n);
      net::Poll p;
      ASSERT_TRUE(net::parsePoll(std::span<const std::uint8_t>(s.buffer, n), p));
      EXPECT_EQ(p.accountNumber, 0x0201);
      const char bodyTag = static_cast<char>(s.buffer[9]);
      EXPECT_EQ(bodyTag, "NDV"[i % 3]);
    }
    EXPECT_EQ(got, c.lengths);
  }
}

TEST(OutgoingOrder, VoiceDatagramsCountFromOneAndSkipZero) {
  net::VoiceSender s;
  const Bytes pcm = rampPcm(3);
  std::vector<int> seqs;
  for (int i = 0; i < 512; ++i) {
    ASSERT_EQ(net::nextVoice(s, 0xBEEF, pcm), proto::kDatagramBytes);
    net::Voice v;
    ASSERT_TRUE(net::parseVoice(std::span<const std::uint8_t>(s.buffer, proto::kDatagramBytes), v));
    EXPECT_EQ(v.accountNumber, 0xBEEF);
    ASSERT_TRUE(std::equal(pcm.begin(), pcm.end(), v.pcm.begin()));
    seqs.push_back(v.sequence);
  }
  EXPECT_EQ(seqs[0], 1);
  EXPECT_EQ(seqs[254], 255);
  EXPECT_EQ(seqs[255], 1);
  EXPECT_EQ(seqs[510], 1);
  // Byte layout of the head, once: 'A' seq 2 lo hi 0 'N' "WIN-APP-Radio" 0 0 0 0.
  net::VoiceSender fresh;
  net::nextVoice(fresh, 0xBEEF, pcm);
  const Bytes head(fresh.buffer, fresh.buffer + 24);
  Bytes want = {'A', 1, 2, 0xEF, 0xBE, 0, 'N'};
  for (char ch : std::string("WIN-APP-Radio")) want.push_back(static_cast<std::uint8_t>(ch));
  want.insert(want.end(), 4, 0);
  EXPECT_EQ(head, want);
  // A block shorter than 1000 bytes is not sent and does not use a number.
  EXPECT_EQ(net::nextVoice(fresh, 1, Bytes(999)), 0u);
  net::nextVoice(fresh, 1, pcm);
  EXPECT_EQ(fresh.buffer[1], 2);
}

}  // namespace
