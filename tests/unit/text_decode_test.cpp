#include "Orva-Lin/text_decode.h"

#include <gtest/gtest.h>

#include <string>

TEST(TextDecode, EacuteEntitiesBecomeUtf8) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"Ren&#xE9;", "Ren\xC3\xA9"},
      {"&#xE9;t&#xE9;", "\xC3\xA9t\xC3\xA9"},
      {"&#xE9;&#xE9;", "\xC3\xA9\xC3\xA9"},
      {"caf&#xE9", "caf&#xE9"},        // no semicolon
      {"caf&#xe9;", "caf&#xe9;"},      // the host writes upper case; nothing else is touched
      {"&&#xE9;;", "&\xC3\xA9;"},
      {"plain text", "plain text"},
  };
  for (const auto& [in, out] : cases) {
    std::string buffer = in + std::string(8, '\0');
    decodeEacute(buffer.data());
    EXPECT_EQ(std::string(buffer.c_str()), out) << in;
  }
  decodeEacute(nullptr);
}
