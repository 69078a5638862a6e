#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Orva-Lin/web/elements.h"
#include "Orva-Lin/web/service_paths.h"

namespace {

std::wstring path(const wchar_t* base, std::int32_t number, int variant) {
  wchar_t out[kServicePathUnits];
  const bool ok = buildServicePath(base, number, variant, std::span<wchar_t, kServicePathUnits>(out));
  return ok ? std::wstring(out) : L"<refused:" + std::wstring(out) + L">";
}

std::string extract(const std::string& body, const char* name, std::size_t size, std::size_t bytesRead) {
  char field[256];
  std::memset(field, 0, sizeof field);
  std::strcpy(field, "untouched");
  extractElement(std::span<const char>(body.data(), bytesRead), name, field, size);
  return field;
}

}  // namespace

TEST(ServicePath, EveryBaseAndVariant) {
  const struct {
    const wchar_t* base;
    std::int32_t number;
    int variant;
    const wchar_t* expected;
  } cases[] = {
      {L"/users/", 42, 1, L"/users/42/images.php?N=1"},
      {L"/users/", 42, 2, L"/users/42/images.php?N=2"},
      {L"/users/", 42, 3, L"/users/42/images.php?N=1"},
      {L"/users/", 42, 5, L"/users/42/params.php"},
      {L"/users/", 65535, 0, L"/users/65535/images.php?N=1"},
      {L"/users/", -3, 1, L"/users/-3/images.php?N=1"},
      {L"/echange/", 5, 1, L"/echange/pc_img_share_get.php?F=5&N=1"},
      {L"/echange/", 5, 2, L"/echange/pc_img_share_get.php?F=5&N=2"},
      {L"/echange/", 5, 3, L"/echange/pc_img_share_post.php"},
      {L"/echange/", 5, 5, L"/echange/pc_img_share_get.php?F=5&N=1"},
      {L"/users", 7, 2, L"/users"},  // only the exact bases are services
      {L"/USERS/", 7, 2, L"/USERS/"},
      {L"/FR-Orva-Lin.php", 7, 1, L"/FR-Orva-Lin.php"},
      {L"", 7, 1, L""},
  };
  for (const auto& c : cases) EXPECT_EQ(path(c.base, c.number, c.variant), c.expected) << c.base << " " << c.variant;
}

TEST(ServicePath, APathThatDoesNotFitIsRefusedNotCut) {
  const std::wstring fits(kServicePathUnits - 1, L'a');
  const std::wstring tooLong(kServicePathUnits, L'a');
  EXPECT_EQ(path(fits.c_str(), 1, 1), fits);
  EXPECT_EQ(path(tooLong.c_str(), 1, 1), L"<refused:>");
  EXPECT_EQ(path(nullptr, 1, 1), L"<refused:>");
}

TEST(ServicePath, AccountKinds) {
  const struct {
    AccountKind kind;
    const wchar_t* expected;
  } cases[] = {
      {TalkerImage, L"/users/17/images.php?N=2"},
      {TalkerProfile, L"/users/17/client.xml"},
      {OwnProfile, L"/users/17/client.xml"},
      {OwnParameters, L"/users/17/params.xml"},
      {static_cast<AccountKind>(3), L""},
  };
  for (const auto& c : cases) {
    wchar_t out[kServicePathUnits] = L"x";
    const bool ok = buildAccountPath(c.kind, 17, std::span<wchar_t, kServicePathUnits>(out));
    EXPECT_EQ(ok, c.expected[0] != L'\0');
    EXPECT_EQ(std::wstring(out), c.expected);
  }
}

TEST(ExtractElement, TagSearchCases) {
  const std::string v63(63, 'x');
  const std::string v64(64, 'y');
  const struct {
    std::string body;
    const char* name;
    std::size_t size;
    std::string expected;
  } cases[] = {
      {"<C><PRENOM>Ana</PRENOM></C>", "PRENOM", 64, "Ana"},
      {"<PRENOM>first</PRENOM><PRENOM>second</PRENOM>", "PRENOM", 64, "first"},
      {"<PRENOM></PRENOM>", "PRENOM", 64, ""},
      {"<PRENOM>" + v63 + "</PRENOM>", "PRENOM", 64, v63},
      {"<PRENOM>" + v64 + "</PRENOM>", "PRENOM", 64, "untouched"},  // dropped whole
      {"<VILLE>Lyon</VILLE>", "PRENOM", 64, "untouched"},
      {"<PRENOM>no end", "PRENOM", 64, "untouched"},
      {"</PRENOM><PRENOM>Ana</PRENOM>", "PRENOM", 64, "Ana"},  // the closing tag after the opening one
      {"<PRENOMS>x</PRENOMS><PRENOM>Ana</PRENOM>", "PRENOM", 64, "Ana"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(extract(c.body, c.name, c.size, c.body.size()), c.expected) << c.body.substr(0, 40);
}

TEST(ExtractElement, NeverLooksPastTheBytesRead) {
  // Stale bytes of an earlier, longer response sit beyond the new body.
  const std::string buffer = "<PRENOM>Ana</PRE" "NOM><VILLE>Old</VILLE>";
  EXPECT_EQ(extract(buffer, "PRENOM", 64, 16), "untouched");
  EXPECT_EQ(extract(buffer, "VILLE", 64, 21), "untouched");
  EXPECT_EQ(extract(buffer, "PRENOM", 64, 20), "Ana");
  EXPECT_EQ(extract(buffer, "PRENOM", 64, 0), "untouched");
  // A zero byte ends a text body.
  const std::string nul("<A>x</A>\0<B>y</B>", 17);
  EXPECT_EQ(extract(nul, "B", 64, nul.size()), "untouched");
  // The longest name whose closing tag fits 63 characters still matches.
  const std::string name60(60, 'N');
  const std::string longTag = "<" + name60 + ">v</" + name60 + ">";
  EXPECT_EQ(extract(longTag, name60.c_str(), 64, longTag.size()), "v");
  const std::string name61(61, 'N');
  const std::string tooLongTag = "<" + name61 + ">v</" + name61 + ">";
  EXPECT_EQ(extract(tooLongTag, name61.c_str(), 64, tooLongTag.size()), "untouched");
}

TEST(Background, HexTextKeepsTheColourBits) {
  constexpr std::uint32_t current = 0x123456;
  const struct {
    const char* text;
    std::uint32_t expected;
  } cases[] = {
      {"FF0000", 0xFF0000},      // blue digits first: a blue panel
      {"0000ff", 0x0000FF},
      {"  80FF00", 0x80FF00},
      {"0x00FF00", 0x00FF00},
      {"C0C0C0 trailing", 0xC0C0C0},
      {"1FF0000", 0xFF0000},     // only 24 bits are a colour
      {"FFFFFFFF", 0xFFFFFF},
      {"0", 0x000000},
      {"", current},
      {"zz", current},
      {"0x", 0x000000},          // the 0 is a digit, as base-16 reading has it
      {"-FF", current},
  };
  for (const auto& c : cases) EXPECT_EQ(parseBackground(c.text, current), c.expected) << c.text;
  EXPECT_EQ(parseBackground(nullptr, current), current);
}
