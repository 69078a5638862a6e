#include "Orva-Lin/audio/endpoint_description.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(EndpointDescription, IconPathSplitsAtTheFirstComma) {
  struct Case {
    const wchar_t* path;
    bool ok;
    const wchar_t* module;  // what iconModule holds afterwards ("old" when untouched)
    int id;
  };
  const Case cases[] = {
      {L"%windir%\\system32\\mmres.dll,-3012", true, L"%windir%\\system32\\mmres.dll", -3012},
      {L"a.dll,7", true, L"a.dll", 7},
      {L"a.dll,-3012,5", true, L"a.dll", -3012},
      {L",-5", true, L"", -5},
      {L"a.dll,", true, L"a.dll", 0},
      {L"a.dll,-1234567890123", true, L"a.dll", -12345678},  // nine units read
      {L"a.dll,12x", true, L"a.dll", 12},
      {L"no comma here", false, L"old", 0},
      {L"", false, L"old", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::wstring(c.path).size());
    EndpointDescription d{};
    copyWide(d.iconModule, kIconModuleUnits, L"old");
    d.iconId = 99;
    EXPECT_EQ(splitIconPath(c.path, d), c.ok);
    EXPECT_EQ(std::wstring(d.iconModule), std::wstring(c.module));
    EXPECT_EQ(d.iconId, c.id);
  }
}

TEST(EndpointDescription, LongTextsAreCutAndTerminated) {
  EndpointDescription d{};
  const std::wstring longModule(400, L'm');
  EXPECT_TRUE(splitIconPath((longModule + L",-1").c_str(), d));
  EXPECT_EQ(std::wstring(d.iconModule), std::wstring(259, L'm'));
  EXPECT_EQ(d.iconId, -1);
  copyWide(d.friendlyName, kFriendlyNameUnits, std::wstring(300, L'f').c_str());
  EXPECT_EQ(std::wstring(d.friendlyName), std::wstring(255, L'f'));
}

TEST(EndpointDescription, ProductNamesMatchOverTheShorterName) {
  const std::wstring friendly = L"Microphone (Realtek High Definition Audio)";
  struct Case {
    std::wstring product, endpoint;
    bool match;
  };
  const Case cases[] = {
      {friendly.substr(0, 31), friendly, true},  // the waveform API's cut
      {friendly, friendly, true},
      {L"Microphone (USB Audio Device)", friendly, false},
      {L"microphone (Realtek", friendly, false},  // case counts
      {friendly + L" extra", friendly, true},     // shorter side decides either way
      {L"Windows Driver", L"Non trouvée", false},
      {L"", friendly, false},
      {friendly, L"", false},
      {L"", L"", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(productNameMatches(c.product.c_str(), c.endpoint.c_str()), c.match)
        << std::string(c.product.begin(), c.product.end());
}

}  // namespace
