#include "Orva-Lin/config.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(Config, Ipv4Addresses) {
  struct Case {
    const char* text;
    std::optional<std::uint32_t> expected;
  } cases[] = {
      {"127.0.0.1", 0x7F000001},  {"0.0.0.0", 0u},       {"255.255.255.255", 0xFFFFFFFFu},
      {"10.1.2.3", 0x0A010203},   {"256.0.0.1", {}},     {"1.2.3", {}},
      {"1.2.3.4.5", {}},          {"1..2.3", {}},        {"", {}},
      {"a.b.c.d", {}},            {"1.2.3.4 ", {}},      {"0001.2.3.4", {}},
      {"-1.2.3.4", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(config::parseIpv4(c.text), c.expected) << c.text;
}

TEST(Config, WebHostWithOptionalPort) {
  auto h = config::parseWebHost("orva-lin.example");
  ASSERT_TRUE(h);
  EXPECT_STREQ(h->name, "orva-lin.example");
  EXPECT_EQ(h->port, 443);
  h = config::parseWebHost("localhost:8443");
  ASSERT_TRUE(h);
  EXPECT_STREQ(h->name, "localhost");
  EXPECT_EQ(h->port, 8443);
  for (const char* bad : {"", ":443", "host:", "host:0", "host:65536", "host:12a", "bad/host", "a b",
                          "host?x", "h\"q"})
    EXPECT_FALSE(config::parseWebHost(bad)) << bad;
  std::string longName(config::kHostChars, 'a');
  EXPECT_FALSE(config::parseWebHost(longName));
  longName.pop_back();
  EXPECT_TRUE(config::parseWebHost(longName));
}

TEST(Config, AccountNumbers) {
  EXPECT_EQ(config::parseAccount("0"), 0);
  EXPECT_EQ(config::parseAccount("65535"), 65535);
  EXPECT_EQ(config::parseAccount("4242"), 4242);
  for (const char* bad : {"", "65536", "-1", "12x", "999999", " 1"}) EXPECT_FALSE(config::parseAccount(bad)) << bad;
}

TEST(Config, ClientIdentifierIsSixteenStableHexCharacters) {
  const std::uint8_t a[] = {'P', 'C', '-', '1', 0x12, 0x34, 0x56, 0x78};
  const std::uint8_t b[] = {'P', 'C', '-', '2', 0x12, 0x34, 0x56, 0x78};
  char first[17], again[17], other[17];
  config::makeClientIdentifier(a, first);
  config::makeClientIdentifier(a, again);
  config::makeClientIdentifier(b, other);
  EXPECT_EQ(std::strlen(first), 16u);
  EXPECT_STREQ(first, again);
  EXPECT_STRNE(first, other);
  for (char c : std::string_view(first, 16)) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << c;
}

TEST(Config, EnvironmentOverridesTheCompiledInDefaults) {
  struct Case {
    const char* relay;
    const char* webHost;
    const char* account;
    std::uint32_t wantRelay;
    const char* wantHost;
    std::uint16_t wantPort;
    std::uint16_t wantAccount;
    int rejected;
  };
  const std::uint32_t defaultRelay = *config::parseIpv4(config::kDefaultRelay);
  const config::WebHost defaultHost = *config::parseWebHost(config::kDefaultWebHost);
  const Case cases[] = {
      {nullptr, nullptr, nullptr, defaultRelay, defaultHost.name, defaultHost.port, 1, 0},
      {"10.0.0.9", "voix.example:8443", "4242", 0x0A000009, "voix.example", 8443, 4242, 0},
      {"10.0.0", "bad host", "x", defaultRelay, defaultHost.name, defaultHost.port, 1, 3},
  };
  for (const Case& c : cases) {
    static const Case* current;
    current = &c;
    const config::Settings s = config::readSettings([](const char* name) -> const char* {
      if (std::strcmp(name, config::kRelayVar) == 0) return current->relay;
      if (std::strcmp(name, config::kWebHostVar) == 0) return current->webHost;
      if (std::strcmp(name, config::kAccountVar) == 0) return current->account;
      return nullptr;
    });
    EXPECT_EQ(s.relayAddress, c.wantRelay);
    EXPECT_STREQ(s.webHost.name, c.wantHost);
    EXPECT_EQ(s.webHost.port, c.wantPort);
    EXPECT_EQ(s.accountNumber, c.wantAccount);
    EXPECT_EQ(s.rejectedCount, c.rejected);
  }
}
