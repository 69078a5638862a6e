#include "Orva-Lin/net/packets.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

Bytes textOf(const char* text) {
  return Bytes(text, text + std::strlen(text));
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes testBlock(int seed) {
  Bytes pcm(proto::kPcmBlockBytes);
  for (std::size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<std::uint8_t>(i * 7 + seed);
  return pcm;
}

template <typename Build>
Bytes built(Build build) {
  std::array<std::uint8_t, 1500> buf;
  buf.fill(0xEE);
  std::size_t n = build(std::span<std::uint8_t>(buf));
  return Bytes(buf.begin(), buf.begin() + n);
}

const char kIdentifier[] = "0123456789ABCDEF";

TEST(Packets, ClientDatagramLayouts) {
  const Bytes pcm = testBlock(3);
  struct Case {
    const char* name;
    Bytes got;
    Bytes want;
  };
  const Bytes pollHead = bytesOf({'R', '.', 0, 0x39, 0x30, 0, 0, 0, 0});
  const Case cases[] = {
      {"hello", built([](auto o) { return net::buildHello(o); }),
       bytesOf({'T', '.', 'W', 'I', 'N', 0, 0, 0, 0})},
      {"supervisor hello", built([](auto o) { return net::buildSupervisorHello(o); }),
       bytesOf({'T', '.', 'W', 'I', 'N', 0, 0, 0, 0, 'T', '.', 'W', 'I', 'N', 0, 0, 0, 0})},
      {"poll N",
       built([](auto o) { return net::buildPoll(o, proto::kPollVariantN, 12345, kIdentifier); }),
       concat({pollHead, textOf("NWIN.PSEUDO.WIN."), bytesOf({0})})},
      {"poll D",
       built([](auto o) { return net::buildPoll(o, proto::kPollVariantD, 12345, kIdentifier); }),
       concat({pollHead, bytesOf({'D'}), textOf(kIdentifier), bytesOf({0})})},
      {"poll D short identifier",
       built([](auto o) { return net::buildPoll(o, proto::kPollVariantD, 12345, "abc"); }),
       concat({pollHead, bytesOf({'D'}), textOf("DEVICE.ID"), bytesOf({0})})},
      {"poll V",
       built([](auto o) { return net::buildPoll(o, proto::kPollVariantV, 12345, kIdentifier); }),
       concat({pollHead, bytesOf({'V', '0', '7', '5', 2})})},
      {"voice",
       built([&](auto o) { return net::buildVoice(o, 200, 0xBEEF, pcm); }),
       concat({bytesOf({'A', 200, 2, 0xEF, 0xBE, 0, 'N'}), textOf("WIN-APP-Radio"),
               bytesOf({0, 0, 0, 0}), pcm})},
      {"list request", built([](auto o) { return net::buildListRequest(o); }),
       bytesOf({'L', 0, 0})},
      {"supervisor request", built([](auto o) { return net::buildSupervisorRequest(o, 0xC8); }),
       bytesOf({'A', 1, 0xC8})},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.got, c.want) << c.name;
  }
}

TEST(Packets, RelayDatagramLayouts) {
  const Bytes pcm = testBlock(9);
  const std::uint16_t members[] = {0x0102, 0xFFFF, 7};
  struct Case {
    const char* name;
    Bytes got;
    Bytes want;
  };
  net::AudioHeader sound{'A', 17, 0x85, 0x1234, 3, proto::kContentSound};
  net::AudioHeader keepAlive{'A', 255, 9, 40000, 4, proto::kContentKeepAlive};
  net::AudioHeader echo{'B', 1, 200, 0x0201, 0, proto::kContentSound};
  const Bytes zeros16(16, 0);
  const Case cases[] = {
      {"audio with block", built([&](auto o) { return net::buildAudio(o, sound, pcm); }),
       concat({bytesOf({'A', 17, 0x85, 0x34, 0x12, 3, 0, 1}), zeros16, pcm})},
      {"keep-alive", built([&](auto o) { return net::buildAudio(o, keepAlive, {}); }),
       concat({bytesOf({'A', 255, 9, 0x40, 0x9C, 4, 0, 2}), zeros16})},
      {"echo playback", built([&](auto o) { return net::buildAudio(o, echo, pcm); }),
       concat({bytesOf({'B', 1, 200, 1, 2, 0, 0, 1}), zeros16, pcm})},
      {"list reply", built([&](auto o) { return net::buildListReply(o, 3, members); }),
       bytesOf({'L', 3, 3, 2, 1, 0xFF, 0xFF, 7, 0})},
      {"empty list reply", built([&](auto o) { return net::buildListReply(o, 10, {}); }),
       bytesOf({'L', 10, 0})},
      {"supervisor reply", built([](auto o) { return net::buildSupervisorReply(o, 240); }),
       bytesOf({'A', 1, 240})},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.got, c.want) << c.name;
  }
}

TEST(Packets, PollRotationIsNDVAndLengthsFollowIdentifier) {
  struct Case {
    std::string identifier;
    std::size_t lengths[4];
  };
  const Case cases[] = {
      {kIdentifier, {26, 27, 14, 26}},
      {"", {26, 20, 14, 26}},
      {"0123456789ABCDE", {26, 20, 14, 26}},
      {"0123456789ABCDEFG", {26, 20, 14, 26}},
  };
  for (const Case& c : cases) {
    int variant = 0;
    const int wantVariant[4] = {proto::kPollVariantN, proto::kPollVariantD, proto::kPollVariantV,
                                proto::kPollVariantN};
    for (int i = 0; i < 4; ++i) {
      variant = net::nextPollVariant(variant);
      EXPECT_EQ(variant, wantVariant[i]) << "poll " << i;
      std::array<std::uint8_t, proto::kDatagramBytes> buf{};
      std::size_t n = net::buildPoll(buf, variant, 77, c.identifier);
      EXPECT_EQ(n, c.lengths[i]) << "identifier '" << c.identifier << "' poll " << i;
      net::Poll poll;
      ASSERT_TRUE(net::parsePoll(std::span(buf.data(), n), poll));
      EXPECT_EQ(poll.variant, variant);
      EXPECT_EQ(poll.accountNumber, 77);
    }
  }
}

TEST(Packets, SequenceRunsOneTo255AndWrapsToOne) {
  std::uint8_t s = proto::kSequenceFirst;
  for (int i = 1; i < 255; ++i) {
    std::uint8_t next = net::nextSequence(s);
    ASSERT_EQ(next, s + 1);
    s = next;
  }
  EXPECT_EQ(s, 255);
  EXPECT_EQ(net::nextSequence(s), 1);
  EXPECT_EQ(net::nextSequence(0), 1);
}

TEST(Packets, ClientDatagramsRoundTrip) {
  const Bytes pcm = testBlock(5);
  for (std::uint16_t account : {0, 1, 0x00FF, 0x0100, 0x7FFF, 0xFFFF}) {
    for (int variant : {proto::kPollVariantN, proto::kPollVariantD, proto::kPollVariantV}) {
      for (const char* id : {kIdentifier, "short"}) {
        std::array<std::uint8_t, 64> buf{};
        std::size_t n = net::buildPoll(buf, variant, account, id);
        net::Poll poll;
        ASSERT_TRUE(net::parsePoll(std::span(buf.data(), n), poll));
        EXPECT_EQ(poll.variant, variant);
        EXPECT_EQ(poll.accountNumber, account);
        if (variant == proto::kPollVariantV) {
          EXPECT_EQ(net::pollVersion(poll), net::packVersion(0, 7, 5, 2));
        }
      }
    }
    for (int seq : {1, 2, 128, 255}) {
      std::array<std::uint8_t, proto::kDatagramBytes> buf{};
      ASSERT_EQ(net::buildVoice(buf, static_cast<std::uint8_t>(seq), account, pcm),
                proto::kDatagramBytes);
      net::Voice voice;
      ASSERT_TRUE(net::parseVoice(buf, voice));
      EXPECT_EQ(voice.sequence, seq);
      EXPECT_EQ(voice.accountNumber, account);
      EXPECT_EQ(Bytes(voice.pcm.begin(), voice.pcm.end()), pcm);
    }
  }
  for (int echo = 0; echo < 256; ++echo) {
    std::array<std::uint8_t, 3> buf{};
    ASSERT_EQ(net::buildSupervisorRequest(buf, static_cast<std::uint8_t>(echo)), 3u);
    std::uint8_t got = 0;
    ASSERT_TRUE(net::parseSupervisorRequest(buf, got));
    EXPECT_EQ(got, echo);
  }
  std::array<std::uint8_t, 18> hello{};
  EXPECT_TRUE(net::parseHello(std::span(hello.data(), net::buildHello(hello))));
  EXPECT_TRUE(net::parseHello(std::span(hello.data(), net::buildSupervisorHello(hello))));
  std::array<std::uint8_t, 3> list{};
  EXPECT_TRUE(net::parseListRequest(std::span(list.data(), net::buildListRequest(list))));
}

TEST(Packets, RelayDatagramsRoundTrip) {
  const Bytes pcm = testBlock(11);
  for (std::uint8_t kind : {proto::kKindAudio, proto::kKindEcho}) {
    for (std::uint8_t content : {proto::kContentSilence, proto::kContentSound,
                                 proto::kContentKeepAlive, std::uint8_t{77}}) {
      for (int pace = 0; pace <= proto::kPaceMax; ++pace) {
        net::AudioHeader head{kind, 42, 0xFE, 0xABCD, static_cast<std::int8_t>(pace), content};
        std::array<std::uint8_t, proto::kDatagramBytes> buf{};
        std::size_t n = net::buildAudio(buf, head, pcm);
        ASSERT_EQ(n, content == proto::kContentSound ? 1024u : 24u);
        net::Audio audio;
        ASSERT_TRUE(net::parseAudio(std::span(buf.data(), n), audio));
        EXPECT_EQ(audio.head.kind, kind);
        EXPECT_EQ(audio.head.sequence, 42);
        EXPECT_EQ(audio.head.echo, 0xFE);
        EXPECT_EQ(audio.head.talker, 0xABCD);
        EXPECT_EQ(audio.head.pace, pace);
        EXPECT_EQ(audio.head.content, content);
        EXPECT_EQ(audio.pcm.size(), content == proto::kContentSound ? pcm.size() : 0u);
      }
    }
  }
  std::uint16_t members[20];
  for (int i = 0; i < 20; ++i) members[i] = static_cast<std::uint16_t>(1000 + i * 3001);
  for (int ch = 0; ch < proto::kChannelCount; ++ch) {
    for (int count = 0; count <= 20; ++count) {
      std::array<std::uint8_t, 64> buf{};
      std::size_t n = net::buildListReply(buf, ch, std::span(members, count));
      const int listed = std::min(count, proto::kListMaxMembers);
      ASSERT_EQ(n, 3u + 2 * listed);
      net::ListReply reply;
      ASSERT_TRUE(net::parseListReply(std::span(buf.data(), n), reply));
      EXPECT_EQ(reply.channel, ch);
      ASSERT_EQ(reply.count, listed);
      for (int i = 0; i < listed; ++i) EXPECT_EQ(reply.members[i], members[i]);
    }
  }
  for (int code : {0, 100, 220, 240, 255}) {
    std::array<std::uint8_t, 3> buf{};
    net::buildSupervisorReply(buf, static_cast<std::uint8_t>(code));
    std::uint8_t got = 1;
    ASSERT_TRUE(net::parseSupervisorReply(buf, got));
    EXPECT_EQ(got, code);
  }
}

TEST(Packets, BuildersRefuseShortBuffersAndBadArguments) {
  const Bytes pcm = testBlock(1);
  std::array<std::uint8_t, 1500> buf;
  struct Case {
    const char* name;
    std::function<std::size_t(std::span<std::uint8_t>)> build;
    std::size_t need;
  };
  const std::uint16_t members[] = {1, 2};
  const Case cases[] = {
      {"hello", [](auto o) { return net::buildHello(o); }, 9},
      {"supervisor hello", [](auto o) { return net::buildSupervisorHello(o); }, 18},
      {"poll N", [](auto o) { return net::buildPoll(o, proto::kPollVariantN, 1, ""); }, 26},
      {"poll D", [](auto o) { return net::buildPoll(o, proto::kPollVariantD, 1, kIdentifier); },
       27},
      {"poll V", [](auto o) { return net::buildPoll(o, proto::kPollVariantV, 1, ""); }, 14},
      {"voice", [&](auto o) { return net::buildVoice(o, 1, 1, pcm); }, 1024},
      {"list request", [](auto o) { return net::buildListRequest(o); }, 3},
      {"supervisor request", [](auto o) { return net::buildSupervisorRequest(o, 1); }, 3},
      {"audio", [&](auto o) { return net::buildAudio(o, {'A', 1, 1, 1, 0, 1}, pcm); }, 1024},
      {"keep-alive", [&](auto o) { return net::buildAudio(o, {}, {}); }, 24},
      {"list reply", [&](auto o) { return net::buildListReply(o, 0, members); }, 7},
      {"supervisor reply", [](auto o) { return net::buildSupervisorReply(o, 0); }, 3},
  };
  for (const Case& c : cases) {
    buf.fill(0xEE);
    EXPECT_EQ(c.build(std::span(buf.data(), c.need - 1)), 0u) << c.name;
    for (std::size_t i = 0; i < buf.size(); ++i) ASSERT_EQ(buf[i], 0xEE) << c.name << " wrote";
    EXPECT_EQ(c.build(std::span(buf.data(), c.need)), c.need) << c.name;
  }
  EXPECT_EQ(net::buildPoll(buf, 3, 1, ""), 0u);
  EXPECT_EQ(net::buildPoll(buf, -1, 1, ""), 0u);
  EXPECT_EQ(net::buildVoice(buf, 1, 1, std::span(pcm.data(), 999)), 0u);
  EXPECT_EQ(net::buildAudio(buf, {'A', 1, 1, 1, 0, proto::kContentSound}, {}), 0u);
  EXPECT_EQ(net::buildListReply(buf, -1, members), 0u);
  EXPECT_EQ(net::buildListReply(buf, 11, members), 0u);
}

TEST(Packets, ParsersRejectNearMisses) {
  const Bytes pcm = testBlock(2);
  std::array<std::uint8_t, proto::kDatagramBytes> voice{};
  net::buildVoice(voice, 1, 5, pcm);
  std::array<std::uint8_t, 32> n{}, d{}, v{};
  net::buildPoll(n, proto::kPollVariantN, 5, "");
  net::buildPoll(d, proto::kPollVariantD, 5, kIdentifier);
  net::buildPoll(v, proto::kPollVariantV, 5, "");
  struct Case {
    const char* name;
    Bytes bytes;
    std::size_t at;     // byte to change
    std::uint8_t value;
  };
  const Case polls[] = {
      {"tag", Bytes(n.begin(), n.begin() + 26), 0, 'r'},
      {"byte 2", Bytes(n.begin(), n.begin() + 26), 2, 1},
      {"zero field", Bytes(n.begin(), n.begin() + 26), 7, 1},
      {"N text", Bytes(n.begin(), n.begin() + 26), 15, 'x'},
      {"N terminator", Bytes(n.begin(), n.begin() + 26), 25, 'x'},
      {"D kind", Bytes(d.begin(), d.begin() + 27), 9, 'E'},
      {"D identifier with zero", Bytes(d.begin(), d.begin() + 27), 12, 0},
      {"V kind", Bytes(v.begin(), v.begin() + 14), 9, 'W'},
      {"V digit", Bytes(v.begin(), v.begin() + 14), 11, 'x'},
  };
  for (const Case& c : polls) {
    Bytes b = c.bytes;
    net::Poll poll;
    ASSERT_TRUE(net::parsePoll(b, poll)) << c.name;
    b[c.at] = c.value;
    EXPECT_FALSE(net::parsePoll(b, poll)) << c.name;
  }
  const Case voices[] = {
      {"kind", Bytes(voice.begin(), voice.end()), 0, 'B'},
      {"sequence 0", Bytes(voice.begin(), voice.end()), 1, 0},
      {"marker", Bytes(voice.begin(), voice.end()), 2, 3},
      {"byte 5", Bytes(voice.begin(), voice.end()), 5, 1},
      {"N", Bytes(voice.begin(), voice.end()), 6, 'M'},
      {"tag", Bytes(voice.begin(), voice.end()), 19, 'O'},
      {"padding", Bytes(voice.begin(), voice.end()), 23, 1},
  };
  for (const Case& c : voices) {
    Bytes b = c.bytes;
    net::Voice parsed;
    ASSERT_TRUE(net::parseVoice(b, parsed)) << c.name;
    b[c.at] = c.value;
    EXPECT_FALSE(net::parseVoice(b, parsed)) << c.name;
  }
  net::ListReply reply;
  EXPECT_FALSE(net::parseListReply(bytesOf({'L', 11, 0}), reply));
  EXPECT_FALSE(net::parseListReply(bytesOf({'L', 0xFF, 0}), reply));
  EXPECT_FALSE(net::parseListReply(bytesOf({'L', 0, 17}), reply));
  EXPECT_FALSE(net::parseListReply(bytesOf({'L', 0, 0xFF}), reply));
  EXPECT_FALSE(net::parseListReply(bytesOf({'L', 3, 3, 1, 0, 2, 0, 3}), reply));
  EXPECT_TRUE(net::parseListReply(bytesOf({'L', 3, 3, 1, 0, 2, 0, 3, 0}), reply));
  EXPECT_FALSE(net::parseListReply(bytesOf({'A', 3, 0}), reply));
  std::uint8_t echo = 0;
  EXPECT_FALSE(net::parseSupervisorRequest(bytesOf({'A', 2, 5}), echo));
  EXPECT_FALSE(net::parseSupervisorRequest(bytesOf({'A', 1, 5, 0}), echo));
  EXPECT_FALSE(net::parseListRequest(bytesOf({'L', 0, 1})));
  EXPECT_FALSE(net::parseListRequest(bytesOf({'L', 0, 0, 0})));
  EXPECT_FALSE(net::parseHello(bytesOf({'T', '.', 'W', 'I', 'N', 0, 0, 0, 1})));
  net::Audio audio;
  EXPECT_FALSE(net::parseAudio(bytesOf({'C', 1, 0, 0, 0, 0, 0, 2}), audio));
  EXPECT_FALSE(net::parseAudio(bytesOf({'A', 1, 0, 0, 0, 0, 0}), audio));
}

// Every parser is fed every length 0..1100 from three sources: random bytes,
// and prefixes or extensions of a valid datagram of each kind. The input is a
// heap block of exactly that length (so a sanitiser build sees any over-read),
// cut from a larger valid datagram where possible (so an over-read that reaches
// the valid tail shows up as a wrong acceptance even without a sanitiser).
TEST(Packets, HostileInputsOfEveryLength) {
  const Bytes pcm = testBlock(4);
  std::mt19937 rng(12345);
  struct Source {
    const char* name;
    Bytes valid;
  };
  auto make = [](auto build) { return built(build); };
  net::AudioHeader sound{'A', 3, 4, 5, 1, proto::kContentSound};
  const std::uint16_t members[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  const Source sources[] = {
      {"hello", make([](auto o) { return net::buildSupervisorHello(o); })},
      {"poll N", make([](auto o) { return net::buildPoll(o, proto::kPollVariantN, 1, ""); })},
      {"poll D",
       make([](auto o) { return net::buildPoll(o, proto::kPollVariantD, 1, kIdentifier); })},
      {"poll V", make([](auto o) { return net::buildPoll(o, proto::kPollVariantV, 1, ""); })},
      {"voice", make([&](auto o) { return net::buildVoice(o, 1, 1, pcm); })},
      {"list request", make([](auto o) { return net::buildListRequest(o); })},
      {"supervisor", make([](auto o) { return net::buildSupervisorRequest(o, 9); })},
      {"audio", make([&](auto o) { return net::buildAudio(o, sound, pcm); })},
      {"list reply", make([&](auto o) { return net::buildListReply(o, 2, members); })},
  };
  int accepted = 0;
  for (std::size_t len = 0; len <= 1100; ++len) {
    std::vector<Bytes> inputs;
    Bytes random(len);
    for (auto& b : random) b = static_cast<std::uint8_t>(rng());
    inputs.push_back(random);
    for (const Source& s : sources) {
      Bytes in(len);
      for (std::size_t i = 0; i < len; ++i) {
        in[i] = i < s.valid.size() ? s.valid[i] : static_cast<std::uint8_t>(rng());
      }
      inputs.push_back(in);
    }
    for (const Bytes& in : inputs) {
      auto exact = std::make_unique<std::uint8_t[]>(len);
      if (len > 0) std::memcpy(exact.get(), in.data(), len);
      std::span<const std::uint8_t> s(exact.get(), len);
      net::Poll poll;
      if (net::parsePoll(s, poll)) {
        ++accepted;
        EXPECT_TRUE(len == 14 || len == 20 || len == 26 || len == 27) << len;
      }
      net::Voice voice;
      if (net::parseVoice(s, voice)) {
        ++accepted;
        EXPECT_EQ(len, 1024u);
        EXPECT_EQ(voice.pcm.data() + voice.pcm.size(), s.data() + len);
      }
      if (net::parseHello(s)) {
        ++accepted;
        EXPECT_TRUE(len == 9 || len == 18) << len;
      }
      if (net::parseListRequest(s)) {
        ++accepted;
        EXPECT_EQ(len, 3u);
      }
      std::uint8_t echo = 0;
      if (net::parseSupervisorRequest(s, echo)) {
        ++accepted;
        EXPECT_EQ(len, 3u);
      }
      net::Audio audio;
      if (net::parseAudio(s, audio)) {
        EXPECT_GE(len, proto::kAudioMinBytes);
        if (audio.head.content == proto::kContentSound) {
          EXPECT_GE(len, 1024u);
          EXPECT_LE(audio.pcm.data() + audio.pcm.size(), s.data() + len);
        } else {
          EXPECT_TRUE(audio.pcm.empty());
        }
      }
      net::ListReply reply;
      if (net::parseListReply(s, reply)) {
        EXPECT_GE(len, 3u + 2 * reply.count);
        EXPECT_LE(reply.count, 16);
        EXPECT_LE(reply.channel, 10);
      }
      std::uint8_t code = 0;
      if (net::parseSupervisorReply(s, code)) {
        EXPECT_GE(len, 3u);
      }
    }
  }
  // Accepted exactly at their own lengths: hello 9 and 18, the three polls,
  // voice, list request, supervisor request, and the voice datagram's first
  // three bytes ('A', 1, 2), which are a genuine supervisor request.
  EXPECT_EQ(accepted, 9);
}

}  // namespace
