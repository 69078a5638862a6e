// The web host's pure helpers: what a request's text becomes in a log line,
// a stored file name and a range decision, and the sign-in guard's counts.
#include <gtest/gtest.h>

#include <string>

#include "servers/webhost/signin_guard.h"
#include "servers/webhost/webhost.h"

namespace {

using namespace webhost;

TEST(WebhostText, LogLinesCannotBeForged) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"/users/7/client.xml", "/users/7/client.xml"},
      {"/a\norva-webhost: forged", "/a\\x0Aorva-webhost: forged"},
      {"x\r\ty\x7Fz", "x\\x0D\\x09y\\x7Fz"},
      {"back\\slash", "back\\x5Cslash"},
      {"photo-été", "photo-été"},
      {std::string("nul\0end", 7), "nul\\x00end"},
  };
  for (const auto& c : cases) EXPECT_EQ(escapeLogText(c.in), c.out) << c.in;
}

TEST(WebhostText, Windows1252NamesBecomeUtf8) {
  const struct {
    std::string in;
    bool ok;
    std::string out;
  } cases[] = {
      {"chat.png", true, "chat.png"},
      {"photo-\xE9t\xE9.png", true, "photo-été.png"},
      {"\x80 \x9C\xFF", true, "€ œÿ"},
      {"\x81", false, ""},
      {"\x9D", false, ""},
      {"a\x01", false, ""},
      {"a\x7F", false, ""},
  };
  for (const auto& c : cases) {
    std::string out;
    EXPECT_EQ(cp1252ToUtf8(c.in, out), c.ok) << c.in;
    if (c.ok) {
      EXPECT_EQ(out, c.out) << c.in;
    }
  }
}

TEST(WebhostText, OnlyOneWellFormedRangeIsKept) {
  const struct {
    const char* header;
    bool single;
  } cases[] = {
      {"bytes=0-9", true},   {"bytes=5-", true},       {"bytes=-4", true},     {" bytes=0-0 ", true},
      {"bytes=0-1,4-5", false}, {"bytes=0-,0-", false}, {"bytes=9-2", false},  {"bytes=-", false},
      {"items=0-9", false},  {"bytes=a-b", false},     {"bytes=1-2-3", false},
      {"bytes=0-99999999999999999999", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isSingleRange(c.header), c.single) << c.header;
}

TEST(WebhostText, AnIpv6ClientIsCountedByItsNetwork) {
  const struct {
    const char* address;
    const char* group;
  } cases[] = {
      {"203.0.113.7", "203.0.113.7"},
      {"2001:db8:1:2:aaaa:bbbb:cccc:dddd", "2001:db8:1:2::/64"},
      {"2001:db8:1:2::1", "2001:db8:1:2::/64"},
      {"::ffff:203.0.113.7", "::ffff:203.0.113.7"},
      {"not an address", "not an address"},
  };
  for (const auto& c : cases) EXPECT_EQ(addressGroup(c.address), c.group) << c.address;
}

TEST(SignInGuard, LocksThePairThenTheAddressAndForgivesASuccess) {
  auto attempt = [](SignInKind kind, const std::string& account, const std::string& address, bool good) {
    SignInAttempt a;
    const SignInVerdict v = beginSignIn(kind, account, address, a);
    if (v == SignInVerdict::Go) endSignIn(a, good);
    return v;
  };
  const auto go = SignInVerdict::Go, locked = SignInVerdict::Locked;
  // A success clears the pair's earlier failures.
  for (int i = 0; i < kPairFailures - 1; ++i) EXPECT_EQ(attempt(SignInKind::Member, "7", "a", false), go);
  EXPECT_EQ(attempt(SignInKind::Member, "7", "a", true), go);
  for (int i = 0; i < kPairFailures; ++i) EXPECT_EQ(attempt(SignInKind::Member, "7", "a", false), go);
  EXPECT_EQ(attempt(SignInKind::Member, "7", "a", true), locked);
  EXPECT_EQ(attempt(SignInKind::Member, "7", "b", true), go);      // the member, from elsewhere
  EXPECT_EQ(attempt(SignInKind::Operator, "7", "a", true), go);    // another kind of account
  // One address over many accounts; every Go gave its hashing slot back.
  for (int n = 0; n < kAddressFailures; ++n)
    EXPECT_EQ(attempt(SignInKind::Member, std::to_string(100 + n), "c", false), go) << n;
  EXPECT_EQ(attempt(SignInKind::Member, "500", "c", true), locked);
  EXPECT_EQ(attempt(SignInKind::Member, "500", "d", true), go);
}

}  // namespace
