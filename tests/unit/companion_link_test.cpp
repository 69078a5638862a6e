#include "Orva-Lin/companion_link.h"

#include <gtest/gtest.h>

namespace {
constexpr std::uint32_t kOtherLoopback = 0x7F000002;
constexpr std::uint32_t kLanHost = 0xC0A8010A;
}  // namespace

TEST(CompanionLink, OnlyTheFirstByteOfTheCompanionsDatagramsCounts) {
  struct Case {
    const char* bytes;
    std::size_t length;
    LinkCommand expected;
  } cases[] = {
      {"T", 1, LinkCommand::TransmitOn},     {"R", 1, LinkCommand::TransmitOff},
      {"Rxyz", 4, LinkCommand::TransmitOff}, {"Talk", 4, LinkCommand::TransmitOn},
      {"r", 1, LinkCommand::None},           {"X", 1, LinkCommand::None},
      {"", 0, LinkCommand::None},            {"\0T", 2, LinkCommand::None},
  };
  for (const auto& c : cases)
    EXPECT_EQ(linkCommand(kLoopbackAddress, 5555, reinterpret_cast<const std::uint8_t*>(c.bytes), c.length),
              c.expected)
        << c.bytes;
}

TEST(CompanionLink, DatagramsFromAnywhereElseAreIgnored) {
  const std::uint8_t on[] = {'T'};
  EXPECT_EQ(linkCommand(kOtherLoopback, 5555, on, 1), LinkCommand::None);
  EXPECT_EQ(linkCommand(kLanHost, 5555, on, 1), LinkCommand::None);
  EXPECT_EQ(linkCommand(kLoopbackAddress, 5556, on, 1), LinkCommand::None);
  EXPECT_EQ(linkCommand(kLoopbackAddress, 0, on, 1), LinkCommand::None);
}
