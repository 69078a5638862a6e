#include "Talvo/temp_path.h"
#include "Talvo/wave_export.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void tag(Bytes& b, const char* t) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(t[i]));
}
void le32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
Bytes riff() {
  Bytes b;
  tag(b, "RIFF");
  le32(b, 0);   // never read
  tag(b, "WAVE");
  return b;
}
void chunk(Bytes& b, const char* t, std::uint32_t size, std::size_t present) {
  tag(b, t);
  le32(b, size);
  for (std::size_t i = 0; i < present; ++i) b.push_back(static_cast<std::uint8_t>(i + 1));
}

struct Found {
  bool any;
  std::size_t offset, length;
};

Found walk(const Bytes& b) {
  const auto payload = wavDataPayload(b);
  if (!payload) return {false, 0, 0};
  return {true, static_cast<std::size_t>(payload->data() - b.data()), payload->size()};
}

TEST(WavDataPayload, WalksChunksAndNeverReadsPastTheStream) {
  struct Case {
    const char* what;
    Bytes wave;
    Found expected;
  };
  std::vector<Case> cases;
  {
    Bytes b = riff();
    chunk(b, "fmt ", 16, 16);
    chunk(b, "data", 8, 8);
    cases.push_back({"fmt then data", b, {true, 44, 8}});
  }
  {
    Bytes b = riff();
    chunk(b, "fmt ", 18, 18);
    chunk(b, "LIST", 4, 4);
    chunk(b, "data", 6, 6);
    cases.push_back({"chunks between fmt and data are skipped by size", b, {true, 12 + 26 + 12 + 8, 6}});
  }
  {
    Bytes b = riff();
    chunk(b, "data", 7, 7);
    cases.push_back({"odd data length loses its last byte", b, {true, 20, 6}});
  }
  {
    Bytes b = riff();
    chunk(b, "data", 1, 1);
    cases.push_back({"one byte is no sample", b, {true, 20, 0}});
  }
  {
    Bytes b = riff();
    chunk(b, "fmt ", 16, 16);
    chunk(b, "LIST", 4, 4);
    cases.push_back({"no data chunk", b, {false, 0, 0}});
  }
  cases.push_back({"empty stream", Bytes{}, {false, 0, 0}});
  cases.push_back({"under 12 bytes", Bytes{'R', 'I', 'F', 'F', 0, 0, 0}, {false, 0, 0}});
  cases.push_back({"header only", riff(), {false, 0, 0}});
  {
    Bytes b = riff();
    tag(b, "data");
    le32(b, 100);
    b.resize(b.size() - 1);
    cases.push_back({"chunk header cut short", b, {false, 0, 0}});
  }
  {
    Bytes b = riff();
    chunk(b, "data", 1000, 11);
    cases.push_back({"data claiming more than present", b, {true, 20, 10}});
  }
  {
    Bytes b = riff();
    chunk(b, "fmt ", 0xFFFFFFF8u, 16);
    chunk(b, "data", 4, 4);
    cases.push_back({"size near 2^32 does not wrap back", b, {false, 0, 0}});
  }
  {
    Bytes b = riff();
    chunk(b, "data", 0xFFFFFFFFu, 9);
    cases.push_back({"data size 2^32-1 keeps what is present", b, {true, 20, 8}});
  }
  {
    Bytes b = riff();
    chunk(b, "junk", 0xFFFFFFF0u, 0);
    cases.push_back({"huge size past the end", b, {false, 0, 0}});
  }
  for (const auto& c : cases) {
    const Found got = walk(c.wave);
    EXPECT_EQ(got.any, c.expected.any) << c.what;
    EXPECT_EQ(got.offset, c.expected.offset) << c.what;
    EXPECT_EQ(got.length, c.expected.length) << c.what;
  }
}

TEST(TempFilePath, WholePathMustFitElseTheBareName) {
  std::array<char16_t, kMaxPathChars> out{};
  const std::u16string fits(260 - 9 - 15 - 1, u'a');   // + "Orva-Lin\" + "talvo_sound.wav" = 259
  const std::u16string tooLong = fits + u"a";
  struct Case {
    const char* what;
    std::u16string folder;
    std::u16string expected;
  } cases[] = {
      {"temporary folder", u"C:\\Temp\\", u"C:\\Temp\\Orva-Lin\\talvo_sound.wav"},
      {"no folder", u"", u"talvo_sound.wav"},
      {"259 characters fit", fits, fits + u"Orva-Lin\\talvo_sound.wav"},
      {"260 do not, with the file name", tooLong, u"talvo_sound.wav"},
  };
  for (const auto& c : cases) {
    const std::size_t n = tempFilePathInto(c.folder, u"talvo_sound.wav", out);
    EXPECT_EQ(std::u16string(out.data(), n), c.expected) << c.what;
    EXPECT_EQ(out[n], 0) << c.what;
  }
}

}  // namespace
