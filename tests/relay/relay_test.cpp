// The real orva-relay over loopback with scripted clients. Timing checks leave
// wide margins: these run on a busy two-core machine beside other builds.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <random>

#include "tests/relay/harness.h"

namespace {

using namespace relaytest;

constexpr std::int64_t kBlockUs = proto::kBlockMicros;
constexpr std::int64_t kJitterUs = 15000;   // scheduling slack on a busy machine

class RelayTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(startServer(server)) << serverLog(server); }
  void TearDown() override {
    for (Client& c : clients) closeClient(c);
    stopServer(server);
  }
  Client& client(std::uint16_t account, int channel, int pollPeriodMs = 10,
                 const std::string& bindAddress = "") {
    clients.emplace_back();
    Client& c = clients.back();
    EXPECT_TRUE(openClient(server, c, account, channel, bindAddress));
    c.pollPeriodMs = pollPeriodMs;
    return c;
  }
  std::vector<std::uint16_t> listed(int channel) {
    clients.emplace_back();
    Client& asker = clients.back();
    EXPECT_TRUE(openClient(server, asker, 0, 0));
    net::ListReply reply;
    EXPECT_TRUE(listRequest(server, asker, channel, reply));
    return std::vector<std::uint16_t>(reply.members, reply.members + reply.count);
  }
  Server server;
  std::deque<Client> clients;
};

std::vector<std::uint32_t> indicesOf(const std::vector<Received>& blocks) {
  std::vector<std::uint32_t> out;
  for (const Received& r : blocks) {
    net::Audio a;
    if (net::parseAudio(r.data, a)) out.push_back(blockIndex(a));
  }
  return out;
}

std::vector<std::uint32_t> range(std::uint32_t first, std::uint32_t count) {
  std::vector<std::uint32_t> out;
  for (std::uint32_t i = 0; i < count; ++i) out.push_back(first + i);
  return out;
}

// The n-th block after any given one never arrives sooner than n block times
// later, less the slack: releases happen only when a poll comes in, so the
// schedule may run up to one poll period behind and then catch up.
void expectPaced(const std::vector<Received>& blocks, const char* what, int pollMs) {
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    for (std::size_t j = i + 1; j < blocks.size(); ++j) {
      const std::int64_t gap = blocks[j].us - blocks[i].us;
      const std::int64_t least =
          static_cast<std::int64_t>(j - i) * kBlockUs - pollMs * 1000 - kJitterUs;
      ASSERT_GE(gap, least) << what << ": blocks " << i << " and " << j << " only " << gap
                            << " us apart";
    }
  }
}

net::Audio audioOf(const Received& r) {
  net::Audio a;
  EXPECT_TRUE(net::parseAudio(r.data, a));
  return a;
}

TEST_F(RelayTest, PresenceFollowsPollsMovesAndTimesOut) {
  Client& a = client(501, 1, 20);
  Client& b = client(502, 1, 20);
  runClients(server, {&a, &b}, 200);
  EXPECT_EQ(listed(1), (std::vector<std::uint16_t>{501, 502}));

  a.channel = 4;
  runClients(server, {&a, &b}, 200);
  EXPECT_EQ(listed(1), (std::vector<std::uint16_t>{502}));
  EXPECT_EQ(listed(4), (std::vector<std::uint16_t>{501}));

  // a falls silent; b keeps polling. Still present after 1 s, gone well after 2 s.
  runClients(server, {&b}, 1000);
  EXPECT_EQ(listed(4), (std::vector<std::uint16_t>{501}));
  runClients(server, {&b}, 1600);
  EXPECT_EQ(listed(4), std::vector<std::uint16_t>{});
  EXPECT_EQ(listed(1), (std::vector<std::uint16_t>{502}));

  auto k = counters(server);
  EXPECT_EQ(k["in.hello"], 2 * clients.size());   // every hello accepted, none made a member
  EXPECT_EQ(k["members"], 1u);
  const std::string log = serverLog(server);
  EXPECT_NE(log.find("join ch 1 acct 501"), std::string::npos) << log;
  EXPECT_NE(log.find("leave ch 1 acct 501 (moved to ch 4)"), std::string::npos) << log;
  EXPECT_NE(log.find("join ch 4 acct 501"), std::string::npos) << log;
  EXPECT_NE(log.find("leave ch 4 acct 501 (timeout)"), std::string::npos) << log;
  EXPECT_EQ(log.find("acct 502 (timeout)"), std::string::npos) << log;
}

TEST_F(RelayTest, ListRepliesComeFromTheChannelPortWithTheFirstSixteen) {
  std::vector<Client*> members;
  for (int i = 0; i < 18; ++i) {
    Client& c = client(static_cast<std::uint16_t>(1000 + i), 2, 0);
    sendPoll(server, c);   // one poll each, in this order
    sleepMs(2);
    members.push_back(&c);
  }
  Client& lone = client(77, 7, 0);
  sendPoll(server, lone);
  sleepMs(50);
  struct Case {
    int channel;
    std::vector<std::uint16_t> want;
  };
  std::vector<std::uint16_t> first16;
  for (int i = 0; i < 16; ++i) first16.push_back(static_cast<std::uint16_t>(1000 + i));
  const Case cases[] = {{2, first16}, {7, {77}}, {0, {}}, {10, {}}};
  Client& asker = client(0, 0, 0);
  for (const Case& c : cases) {
    net::ListReply reply;
    sockaddr_in from{};
    ASSERT_TRUE(listRequest(server, asker, c.channel, reply, &from)) << c.channel;
    EXPECT_EQ(ntohs(from.sin_port), proto::kListPortBase + c.channel);
    EXPECT_EQ(std::vector<std::uint16_t>(reply.members, reply.members + reply.count), c.want)
        << "channel " << c.channel;
  }
}

TEST_F(RelayTest, FloorIsHeldUntilSilenceThenPassesOn) {
  Client& a = client(701, 3);
  Client& b = client(702, 3);
  Client& c = client(703, 3);
  int aSent = 0, bSent = 0;
  bool bLate = false, bAfter = false;
  int bAfterSent = 0;
  std::int64_t aLast = 0;
  runClients(server, {&a, &b, &c}, 2200, [&](std::int64_t t) {
    while (aSent < 20 && t >= 100000 + aSent * kBlockUs) {
      sendVoice(server, a, static_cast<std::uint32_t>(aSent++));
      aLast = t;
    }
    while (bSent < 12 && t >= 200000 + bSent * kBlockUs) {
      sendVoice(server, b, static_cast<std::uint32_t>(1000 + bSent++));
    }
    // 100 ms after a's last block the floor is still a's.
    if (aSent == 20 && !bLate && t >= aLast + 100000) {
      sendVoice(server, b, 2000);
      bLate = true;
    }
    // 700 ms after, it is free again.
    while (aSent == 20 && bAfterSent < 10 && t >= aLast + 700000 + bAfterSent * kBlockUs) {
      sendVoice(server, b, static_cast<std::uint32_t>(3000 + bAfterSent++));
      bAfter = true;
    }
  });
  ASSERT_TRUE(bAfter);
  std::vector<std::uint32_t> want = range(0, 20);
  const std::vector<std::uint32_t> fromB = range(3000, 10);
  want.insert(want.end(), fromB.begin(), fromB.end());
  EXPECT_EQ(indicesOf(blocksOf(c)), want);
  for (const Received& r : blocksOf(c)) {
    net::Audio au = audioOf(r);
    EXPECT_EQ(au.head.talker, blockIndex(au) < 3000 ? 701 : 702);
    EXPECT_EQ(au.head.kind, proto::kKindAudio);
  }
  EXPECT_EQ(indicesOf(blocksOf(a)), fromB);   // a hears b, never itself
  EXPECT_EQ(indicesOf(blocksOf(b)), range(0, 20));
  auto k = counters(server);
  EXPECT_EQ(k["drop.floor-busy"], 13u);   // b's 12 overlapping blocks and the late one
  const std::string log = serverLog(server);
  const auto taken = log.find("floor ch 3 taken by acct 701");
  const auto released = log.find("floor ch 3 released by acct 701");
  const auto passed = log.find("floor ch 3 taken by acct 702");
  ASSERT_NE(taken, std::string::npos) << log;
  ASSERT_NE(released, std::string::npos) << log;
  ASSERT_NE(passed, std::string::npos) << log;
  EXPECT_LT(taken, released);
  EXPECT_LT(released, passed);
}

TEST_F(RelayTest, DeliveryIsPacedToTheBlockRateWhateverThePollPeriod) {
  for (int pollMs : {10, 30}) {
    SCOPED_TRACE(pollMs);
    const int channel = pollMs == 10 ? 5 : 6;
    Client& talker = client(static_cast<std::uint16_t>(600 + pollMs), channel);
    Client& listener = client(static_cast<std::uint16_t>(700 + pollMs), channel, pollMs);
    int sent = 0;
    runClients(server, {&talker, &listener}, 64 * 31 + 900, [&](std::int64_t t) {
      while (sent < 64 && t >= 50000 + sent * kBlockUs) {
        sendVoice(server, talker, static_cast<std::uint32_t>(sent++));
      }
    });
    const auto blocks = blocksOf(listener);
    EXPECT_EQ(indicesOf(blocks), range(0, 64));   // a 30 ms poller still keeps up
    expectPaced(blocks, "real-time talker", pollMs);
  }
  EXPECT_EQ(counters(server)["queue.overflow"], 0u);
}

TEST_F(RelayTest, BurstKeepsTheNewestSixteenAndReleasesThemPaced) {
  Client& talker = client(801, 8, 0);
  Client& listener = client(802, 8, 10);
  sendPoll(server, talker);
  bool burst = false;
  runClients(server, {&talker, &listener}, 1300, [&](std::int64_t t) {
    if (!burst && t >= 50000) {
      for (std::uint32_t i = 0; i < 40; ++i) sendVoice(server, talker, i);
      burst = true;
    }
  });
  const auto blocks = blocksOf(listener);
  EXPECT_EQ(indicesOf(blocks), range(24, 16));
  expectPaced(blocks, "burst", 10);
  ASSERT_EQ(blocks.size(), 16u);
  EXPECT_GE(blocks.back().us - blocks.front().us, 15 * kBlockUs - kJitterUs);
  EXPECT_EQ(counters(server)["queue.overflow"], 24u);
}

TEST_F(RelayTest, SequenceCountsPerListenerAndNeverRepeats) {
  Client& talker = client(901, 9);
  Client& early = client(902, 9);
  Client& late = client(903, 9, 0);
  int sent = 0;
  runClients(server, {&talker, &early, &late}, 1500, [&](std::int64_t t) {
    if (t >= 400000) late.pollPeriodMs = 10;
    while (sent < 30 && t >= 100000 + sent * kBlockUs) {
      sendVoice(server, talker, static_cast<std::uint32_t>(sent++));
    }
  });
  for (Client* c : {&early, &late}) {
    ASSERT_GT(c->audio.size(), 5u);
    std::uint8_t previous = 0;
    for (const Received& r : c->audio) {
      const std::uint8_t s = audioOf(r).head.sequence;
      ASSERT_NE(s, 0);
      ASSERT_EQ(s, net::nextSequence(previous)) << "account " << c->account;
      previous = s;
    }
  }
  EXPECT_GT(blocksOf(late).size(), 5u);   // it joined mid-speech and still started at 1
}

TEST_F(RelayTest, EveryAudioDatagramNamesTheLastTalkerOnTheListenersChannel) {
  Client& talker = client(1901, 2);
  Client& listener = client(1902, 2);
  int sent = 0;
  runClients(server, {&talker, &listener}, 1200, [&](std::int64_t t) {
    while (sent < 8 && t >= 400000 + sent * kBlockUs) {
      sendVoice(server, talker, static_cast<std::uint32_t>(sent++));
    }
  });
  // Keep-alives before anyone spoke, the blocks, then keep-alives again.
  std::vector<std::pair<std::uint8_t, std::uint16_t>> seen;   // content, talker
  for (const Received& r : listener.audio) {
    const net::Audio a = audioOf(r);
    if (seen.empty() || seen.back() != std::make_pair(a.head.content, a.head.talker))
      seen.emplace_back(a.head.content, a.head.talker);
  }
  const std::vector<std::pair<std::uint8_t, std::uint16_t>> want = {
      {proto::kContentKeepAlive, 0}, {proto::kContentSound, 1901}, {proto::kContentKeepAlive, 1901}};
  EXPECT_EQ(seen, want);
  // A listener that moves has heard nobody on its new channel yet.
  listener.channel = 3;
  listener.audio.clear();
  runClients(server, {&listener}, 700);
  ASSERT_FALSE(listener.audio.empty());
  for (const Received& r : listener.audio) EXPECT_EQ(audioOf(r).head.talker, 0);
}

TEST_F(RelayTest, SequenceCarriesOnWhenAMemberComesBackAfterTheTimeout) {
  Client& member = client(1951, 1);
  runClients(server, {&member}, 100);
  ASSERT_FALSE(member.audio.empty());
  const std::uint8_t last = audioOf(member.audio.back()).head.sequence;
  member.pollPeriodMs = 0;
  runClients(server, {&member}, 2600);   // silent past the presence timeout
  ASSERT_NE(serverLog(server).find("leave ch 1 acct 1951 (timeout)"), std::string::npos);
  member.pollPeriodMs = 10;
  member.audio.clear();
  runClients(server, {&member}, 100);
  ASSERT_FALSE(member.audio.empty());
  // Its client still holds `last`: a restart could repeat it.
  EXPECT_EQ(audioOf(member.audio.front()).head.sequence, net::nextSequence(last));
  EXPECT_EQ(counters(server)["members.joins"], 2u);
}

// The relay on the wildcard address, in a network namespace of its own: the
// relay ports are fixed, and a wildcard bind on the machine's loopback would
// collide with every other relay running there.
bool ownNetwork() {
  if (unshare(CLONE_NEWNET) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) return false;
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  ifreq lo{};
  std::strcpy(lo.ifr_name, "lo");
  const bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &lo) == 0 &&
                  (lo.ifr_flags |= IFF_UP, ioctl(fd, SIOCSIFFLAGS, &lo) == 0);
  if (fd >= 0) close(fd);
  return up;
}

TEST(RelayAddress, RepliesLeaveFromTheAddressEachRequestWasSentTo) {
  ASSERT_TRUE(ownNetwork()) << "needs a network namespace (root, or user namespaces)";
  Server server;
  struct Stop {
    Server& s;
    ~Stop() { stopServer(s); }
  } stop{server};
  ASSERT_TRUE(startServer(server, {"--bind", "0.0.0.0"})) << serverLog(server);
  for (const char* address : {"127.0.0.1", "127.0.0.2"}) {
    SCOPED_TRACE(address);
    Server via = server;
    via.address = address;
    Client c;
    ASSERT_TRUE(openClient(via, c, 2101, 4, "127.0.0.1"));
    c.pollPeriodMs = 10;
    runClients(via, {&c}, 100);
    ASSERT_FALSE(c.audio.empty());
    EXPECT_EQ(c.audio.front().from.sin_addr.s_addr, inet_addr(address)) << "audio";
    net::ListReply reply;
    sockaddr_in from{};
    ASSERT_TRUE(listRequest(via, c, 4, reply, &from));
    EXPECT_EQ(from.sin_addr.s_addr, inet_addr(address)) << "list reply";
    std::uint8_t code = 99;
    ASSERT_TRUE(supervisorRequest(via, c.supervisorFd, audioOf(c.audio.back()).head.echo, code, &from));
    EXPECT_EQ(from.sin_addr.s_addr, inet_addr(address)) << "supervisor reply";
    closeClient(c);
  }
}

TEST(RelayPace, KeepAlivesCarryThePaceOfTheLoad) {
  struct Case {
    const char* capacity;
    int pace;   // 3 clients polling every 10 ms: about 310 datagrams a second
  };
  const Case cases[] = {{"100000", 0}, {"620", 2}, {"100", 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.capacity);
    Server server;
    ASSERT_TRUE(startServer(server, {"--capacity", c.capacity}));
    Client clients[3];
    std::vector<Client*> all;
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(openClient(server, clients[i], static_cast<std::uint16_t>(1100 + i), 0));
      clients[i].pollPeriodMs = 10;
      all.push_back(&clients[i]);
    }
    const std::int64_t start = nowUs();
    runClients(server, all, 1700);
    const Client& watched = clients[0];
    ASSERT_GE(watched.audio.size(), 4u);
    EXPECT_LT(watched.audio.front().us - start, 100000);   // the first poll is answered at once
    for (std::size_t i = 0; i < watched.audio.size(); ++i) {
      net::Audio a = audioOf(watched.audio[i]);
      EXPECT_EQ(a.head.content, proto::kContentKeepAlive);
      EXPECT_EQ(watched.audio[i].data.size(), proto::kAudioNoBlockBytes);
      if (i > 0) {
        const std::int64_t gap = watched.audio[i].us - watched.audio[i - 1].us;
        EXPECT_GE(gap, proto::kKeepAliveMs * 1000 - kJitterUs);
        EXPECT_LE(gap, proto::kKeepAliveMs * 1000 + 300000);
      }
    }
    EXPECT_EQ(audioOf(watched.audio.back()).head.pace, c.pace);
    for (Client& cl : clients) closeClient(cl);
    stopServer(server);
  }
}

std::uint8_t tokenOf(const Client& c) {
  EXPECT_FALSE(c.audio.empty());
  return c.audio.empty() ? 0 : audioOf(c.audio.back()).head.echo;
}

TEST_F(RelayTest, SupervisorRecognisesMembersByTokenAndAddress) {
  Client& a = client(1201, 1);
  Client& b = client(1202, 1);
  Client& c = client(1203, 1, 10, otherAddress(server, 1));
  runClients(server, {&a, &b, &c}, 150);
  const std::uint8_t ta = tokenOf(a), tb = tokenOf(b), tc = tokenOf(c);
  EXPECT_NE(ta, 0);
  EXPECT_NE(tb, 0);
  EXPECT_NE(ta, tb);   // same IP: tokens differ
  for (const Received& r : a.audio) EXPECT_EQ(audioOf(r).head.echo, ta);   // stable

  std::uint8_t unused = 1;
  while (unused == ta || unused == tb) ++unused;
  const int sameIp = openUdp(server.address);
  const int otherIp = openUdp(otherAddress(server, 1));
  struct Case {
    const char* name;
    int fd;
    std::uint8_t token;
    bool known;
  };
  std::vector<Case> cases = {
      {"a's token from a's IP", sameIp, ta, true},
      {"b's token from b's IP", sameIp, tb, true},
      {"unused token", sameIp, unused, false},
      {"no token yet", sameIp, 0, false},
      {"c's token from c's IP", otherIp, tc, true},
  };
  if (ta != tc) cases.push_back({"a's token from another IP", otherIp, ta, false});
  for (const Case& k : cases) {
    const auto before = counters(server)["supervisor.unknown-token"];
    std::uint8_t code = 99;
    ASSERT_TRUE(supervisorRequest(server, k.fd, k.token, code)) << k.name;
    EXPECT_EQ(code, proto::kNoticeNone) << k.name;
    EXPECT_EQ(counters(server)["supervisor.unknown-token"] - before, k.known ? 0u : 1u) << k.name;
    runClients(server, {&a, &b, &c}, 20);
  }
  close(sameIp);
  close(otherIp);
}

TEST(RelaySupervisor, NoticeCodesFollowVersionAndOperator) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string command;
    std::uint8_t want[2];   // two requests in a row
  };
  const Case cases[] = {
      {"no minimum", {}, "", {0, 0}},
      {"minimum above", {"--min-version", "0.7.6"}, "", {220, 220}},
      {"minimum equal", {"--min-version", "0.7.5"}, "", {0, 0}},
      {"minimum tail above", {}, "min-version 0.7.5.3", {220, 220}},
      {"minimum tail equal", {}, "min-version 075.2", {0, 0}},
      {"minimum cleared", {"--min-version", "1.0.0"}, "min-version none", {0, 0}},
      {"operator close", {}, "close 1301", {240, 0}},
      {"close beats update", {"--min-version", "0.9.0"}, "close 1301", {240, 220}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Server server;
    ASSERT_TRUE(startServer(server, c.args));
    Client member, other, unversioned;
    ASSERT_TRUE(openClient(server, member, 1301, 2));
    ASSERT_TRUE(openClient(server, other, 1302, 2));
    ASSERT_TRUE(openClient(server, unversioned, 1303, 2));
    member.pollPeriodMs = other.pollPeriodMs = 10;
    sendPoll(server, unversioned);   // an N poll only: its version is unknown
    runClients(server, {&member, &other, &unversioned}, 100);
    if (!c.command.empty()) {
      int rc = -1;
      runCtl(server, c.command, &rc);
      EXPECT_EQ(rc, 0);
    }
    for (int i = 0; i < 2; ++i) {
      std::uint8_t code = 99;
      ASSERT_TRUE(supervisorRequest(server, member.supervisorFd, tokenOf(member), code));
      EXPECT_EQ(code, c.want[i]) << "request " << i;
    }
    std::uint8_t code = 99;
    ASSERT_TRUE(supervisorRequest(server, other.supervisorFd, tokenOf(other), code));
    EXPECT_EQ(code, c.want[1] == 240 ? 0 : c.want[1]) << "other member";
    ASSERT_TRUE(supervisorRequest(server, unversioned.supervisorFd, tokenOf(unversioned), code));
    EXPECT_EQ(code, proto::kNoticeNone) << "member whose version is unknown";
    for (Client* cl : {&member, &other, &unversioned}) closeClient(*cl);
    stopServer(server);
  }
}

TEST_F(RelayTest, EchoChannelPlaysBackToTheTalkerAlone) {
  Client& talker = client(1401, proto::kEchoChannel);
  Client& bystander = client(1402, proto::kEchoChannel);
  int sent = 0;
  std::int64_t lastSent = 0;
  runClients(server, {&talker, &bystander}, 2500, [&](std::int64_t t) {
    while (sent < 20 && t >= 100000 + sent * kBlockUs) {
      sendVoice(server, talker, static_cast<std::uint32_t>(sent++));
      lastSent = nowUs();
    }
  });
  ASSERT_EQ(sent, 20);
  const auto blocks = blocksOf(talker);
  EXPECT_EQ(indicesOf(blocks), range(0, 20));
  for (const Received& r : blocks) {
    net::Audio a = audioOf(r);
    EXPECT_EQ(a.head.kind, proto::kKindEcho);
    EXPECT_EQ(a.head.talker, 1401);
    const Bytes want = testBlock(blockIndex(a));
    EXPECT_TRUE(std::equal(a.pcm.begin(), a.pcm.end(), want.begin()));
  }
  ASSERT_FALSE(blocks.empty());
  const std::int64_t wait = blocks.front().us - lastSent;
  EXPECT_GE(wait, proto::kEchoDelayMs * 1000 - kJitterUs);
  EXPECT_LE(wait, proto::kEchoDelayMs * 1000 + 1000000);
  expectPaced(blocks, "echo", 10);
  EXPECT_TRUE(blocksOf(bystander).empty());
  EXPECT_GT(bystander.audio.size(), 0u);   // keep-alives only
  EXPECT_NE(serverLog(server).find("echo ch 10 acct 1401: playing back 20 blocks"),
            std::string::npos);
}

TEST_F(RelayTest, EchoRecordsAtMostTenSeconds) {
  Client& talker = client(1501, proto::kEchoChannel, 0);
  sendPoll(server, talker);
  sleepMs(20);
  for (std::uint32_t i = 0; i < proto::kEchoRecordBlocks + 10; ++i) {
    sendVoice(server, talker, i);
    if (i % 32 == 31) sleepMs(2);
  }
  std::uint64_t full = 0;
  for (int i = 0; i < 50 && full < 10; ++i) {
    sleepMs(20);
    full = counters(server)["drop.echo-full"];
  }
  EXPECT_EQ(full, 10u);
}

TEST_F(RelayTest, VoiceFromOutsideTheFloorRulesIsDropped) {
  Client& listener = client(1601, 1);
  Client& member = client(1602, 1);
  Client& stranger = client(1603, 1, 0);   // never polls
  runClients(server, {&listener, &member}, 100);
  struct Case {
    const char* name;
    std::function<void()> send;
    const char* counter;
  };
  const Case cases[] = {
      {"not a member", [&] { sendVoice(server, stranger, 1); }, "drop.not-member"},
      {"wrong channel",
       [&] {
         member.channel = 2;
         sendVoice(server, member, 2);
         member.channel = 1;
       },
       "drop.wrong-channel"},
      {"account differs",
       [&] {
         member.account = 9999;
         sendVoice(server, member, 3);
         member.account = 1602;
       },
       "drop.account"},
  };
  for (const Case& c : cases) {
    const auto before = counters(server)[c.counter];
    c.send();
    runClients(server, {&listener, &member}, 100);
    EXPECT_EQ(counters(server)[c.counter] - before, 1u) << c.name;
  }
  EXPECT_TRUE(blocksOf(listener).empty());
}

TEST_F(RelayTest, HostileDatagramsOfEveryLengthOnEveryPort) {
  std::mt19937 rng(2024);
  auto randomBytes = [&](std::size_t n) {
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    return b;
  };
  std::uint8_t buf[proto::kDatagramBytes];
  const Bytes block = testBlock(1);
  const Bytes voice(buf, buf + net::buildVoice(buf, 1, 42, block));
  const Bytes pollN(buf, buf + net::buildPoll(buf, proto::kPollVariantN, 42, ""));
  const Bytes hello(buf, buf + net::buildHello(buf));
  const Bytes listReq(buf, buf + net::buildListRequest(buf));
  const Bytes supReq(buf, buf + net::buildSupervisorRequest(buf, 1));
  // A valid datagram stretched or cut to every other length, or plain noise.
  const std::vector<Bytes> voiceSeeds = {{}, voice, pollN, hello};
  const std::vector<Bytes> listSeeds = {{}, listReq, supReq};
  const int fd = openUdp(server.address);
  std::uint64_t expected = 0;
  for (int port = 0; port < 2 * proto::kChannelCount; ++port) {
    const bool voicePort = port < proto::kChannelCount;
    const int udpPort = voicePort ? proto::kVoicePortBase + port
                                  : proto::kListPortBase + port - proto::kChannelCount;
    for (const Bytes& seed : voicePort ? voiceSeeds : listSeeds) {
      for (std::size_t len = 0; len <= 1500; ++len) {
        if (!seed.empty() && len == seed.size()) continue;
        Bytes d = randomBytes(len);
        std::copy_n(seed.begin(), std::min(len, seed.size()), d.begin());
        sendRaw(server, fd, udpPort, d);
        ++expected;
        if (len % 100 == 99) usleep(300);
      }
      std::uint64_t dropped = 0;
      for (int i = 0; i < 250 && dropped < expected; ++i) {
        dropped = counters(server)["drop.malformed"];
        if (dropped < expected) sleepMs(20);
      }
      ASSERT_EQ(dropped, expected) << "port " << udpPort;
    }
  }
  close(fd);
  auto k = counters(server);
  EXPECT_EQ(k["members"], 0u);
  EXPECT_EQ(k["in.poll"] + k["in.voice"] + k["in.list"] + k["in.supervisor"], 0u);
  // Still serving: members join, lists answer, speech flows.
  Client& talker = client(1701, 4);
  Client& listener = client(1702, 4);
  int sent = 0;
  runClients(server, {&talker, &listener}, 600, [&](std::int64_t t) {
    while (sent < 5 && t >= 50000 + sent * kBlockUs) {
      sendVoice(server, talker, static_cast<std::uint32_t>(sent++));
    }
  });
  EXPECT_EQ(indicesOf(blocksOf(listener)), range(0, 5));
  EXPECT_EQ(listed(4), (std::vector<std::uint16_t>{1701, 1702}));
}

TEST_F(RelayTest, OperatorCommands) {
  Client& a = client(1801, 5);
  Client& b = client(1802, 5);
  runClients(server, {&a, &b}, 100);
  int rc = -1;
  const std::string members = runCtl(server, "members", &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_NE(members.find("channel 5: 2 members"), std::string::npos) << members;
  EXPECT_NE(members.find("acct 1801 " + server.address + ":"), std::string::npos) << members;
  EXPECT_NE(members.find("version 0.7.5.2"), std::string::npos) << members;

  struct Case {
    const char* command;
    int rc;
    const char* output;
  };
  const Case cases[] = {
      {"close 1801", 0, "close 1801: 1 connection"},
      {"close 4242", 1, "error: no member"},
      {"close abc", 1, "error: bad account"},
      {"min-version 0.7.6", 0, "min-version 0.7.6.0"},
      {"min-version x", 1, "error: bad version"},
      {"frobnicate", 1, "error: unknown command"},
      {"counters", 0, "queue.overflow 0"},
  };
  for (const Case& c : cases) {
    int code = -1;
    const std::string out = runCtl(server, c.command, &code);
    EXPECT_EQ(code, c.rc) << c.command << ": " << out;
    EXPECT_NE(out.find(c.output), std::string::npos) << c.command << ": " << out;
  }
  EXPECT_NE(runCtl(server, "members").find("close-pending"), std::string::npos);
  const auto k = counters(server);
  for (const char* name : {"in.poll", "out.keepalive", "drop.malformed", "drop.floor-busy",
                           "queue.overflow", "supervisor.unknown-token", "members", "pace"}) {
    EXPECT_EQ(k.count(name), 1u) << name;
  }
  EXPECT_GT(k.at("in.poll"), 10u);

  Server missing;
  missing.ctlPath = server.dir + "/nothing.sock";
  runCtl(missing, "counters", &rc);
  EXPECT_EQ(rc, 1);
}

TEST_F(RelayTest, ChannelsCommandNamesTheTalkerAndCountsItsBlocks) {
  Client& talker = client(1901, 2);
  Client& listener = client(1902, 2);
  int sent = 0;
  std::string during;
  runClients(server, {&talker, &listener}, 800, [&](std::int64_t t) {
    while (sent < 8 && t >= 50000 + sent * kBlockUs) sendVoice(server, talker, static_cast<std::uint32_t>(sent++));
    if (during.empty() && sent == 8) during = runCtl(server, "channels");
  });
  EXPECT_NE(during.find("channel 2 members 2 talker 1901 voice-blocks 8 accounts 1901 1902\n"),
            std::string::npos) << during;
  EXPECT_NE(during.find("channel 3 members 0 talker 0 voice-blocks 0 accounts\n"), std::string::npos);
  const std::string after = runCtl(server, "channels");
  EXPECT_EQ(after.rfind("load ", 0), 0u) << after;
  EXPECT_NE(after.find(" min-version none\n"), std::string::npos) << after;
  EXPECT_NE(after.find("channel 2 members 2 talker 0 voice-blocks 8"), std::string::npos) << after;
}

TEST(RelayCommandLine, HelpBadOptionsAndBusyAddress) {
  struct Case {
    std::string args;
    int rc;
    const char* output;
  };
  const Case cases[] = {
      {"--help", 0, "--bind ADDR"},
      {"--bogus", 2, "unknown"},
      {"--bind 300.1.1.1", 2, "bad address"},
      {"--capacity 0", 2, "bad capacity"},
      {"--min-version 7", 2, "bad version"},
  };
  for (const Case& c : cases) {
    FILE* p = popen((std::string(ORVA_RELAY_BIN) + " " + c.args + " 2>&1").c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[1024];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int status = pclose(p);
    EXPECT_EQ(WEXITSTATUS(status), c.rc) << c.args;
    EXPECT_NE(out.find(c.output), std::string::npos) << c.args << ": " << out;
  }
  Server first;
  ASSERT_TRUE(startServer(first));
  Server second;
  EXPECT_FALSE(startServer(second)) << "a second relay on the same address must refuse";
  EXPECT_NE(serverLog(second).find("cannot bind"), std::string::npos);
  stopServer(second);
  stopServer(first);
}

}  // namespace
