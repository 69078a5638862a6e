#include "common/ansi_text.h"

#include <gtest/gtest.h>

#include "Orva-Lin/input_map.h"

TEST(AnsiText, HelpTextsHaveTheirExactWindows1252Lengths) {
  struct Case {
    std::string_view text;
    std::size_t bytes;
  } cases[] = {
      {input::kTextNetwork.view(), 48},       {input::kTextChannel.view(), 48},
      {input::kTextDocumentation.view(), 51}, {input::kTextAnimation.view(), 56},
      {input::kTextDesigner.view(), 53},      {input::kTextVolume.view(), 56},
      {input::kTextMicGain.view(), 72},       {input::kTextParams.view(), 62},
      {input::kTextNothingHere.view(), 28},   {input::kTextGreeting.view(), 66},
  };
  for (const auto& c : cases) EXPECT_EQ(c.text.size(), c.bytes) << c.text;
}

TEST(AnsiText, AccentsBecomeSingleBytes) {
  // "... l'image partagée": é is 0xE9, and the text is still terminated.
  const auto& t = input::kTextAnimation;
  EXPECT_EQ(static_cast<unsigned char>(t.bytes[t.length - 2]), 0xE9);
  EXPECT_EQ(t.bytes[t.length - 1], 'e');
  EXPECT_EQ(t.bytes[t.length], '\0');
  const std::string_view greeting = input::kTextGreeting.view();
  EXPECT_EQ(greeting.substr(0, 20), std::string_view("Bonjour. Le synth\xE9ti", 20));
  EXPECT_EQ(greeting.find('\xC3'), std::string_view::npos);  // no UTF-8 lead byte left
}

TEST(AnsiText, ConversionTable) {
  struct Case {
    std::string_view utf8;
    std::string_view cp1252;  // empty with ok=false: rejected
    bool ok;
  } cases[] = {
      {"abc", "abc", true},
      {"\xC3\xA0\xC3\xA2\xC3\xA7\xC3\xA8\xC3\xAA\xC3\xB4", "\xE0\xE2\xE7\xE8\xEA\xF4", true},
      {"l\xE2\x80\x99" "application", "l\x92" "application", true},  // right single quote
      {"\xE2\x82\xAC", "\x80", true},                                 // euro sign
      {"\xC5\x93", "\x9C", true},                                     // oe ligature
      {"\xC2\xA0", "\xA0", true},
      {"\xE4\xB8\xAD", "", false},           // a CJK character has no byte
      {"\xC3", "", false},                   // cut short
      {"\xE2\x82", "", false},               // cut short
      {"\xC3\x28", "", false},               // bad continuation
      {"\xF0\x9F\x98\x80", "", false},       // four-byte sequence
      {"\x80", "", false},                   // stray continuation byte
  };
  for (const auto& c : cases) {
    char out[32];
    const long n = ansi::fromUtf8(c.utf8, out);
    if (!c.ok) {
      EXPECT_EQ(n, -1) << c.utf8;
      continue;
    }
    ASSERT_GE(n, 0) << c.utf8;
    EXPECT_EQ(std::string_view(out, static_cast<std::size_t>(n)), c.cp1252);
  }
}

TEST(AnsiText, OutputThatDoesNotFitIsRejected) {
  char out[3];
  EXPECT_EQ(ansi::fromUtf8("abcd", out), -1);
  EXPECT_EQ(ansi::fromUtf8("abc", out), 3);
}
