#include "Orva-Lin/led_container.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void put16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// A BMP file with a 40-byte information header, filled with `fill`.
Bytes bmp(std::int32_t width, std::int32_t height, std::uint16_t bits, std::uint32_t colours = 0,
          std::uint8_t fill = 0x5A) {
  const std::size_t table = bits <= 8 ? 4 * (colours ? colours : (1u << bits)) : 0;
  const std::size_t stride = (static_cast<std::size_t>(width) * bits + 31) / 32 * 4;
  const std::size_t rows = height < 0 ? -height : height;
  const std::size_t offset = 14 + 40 + table;
  Bytes b(offset + stride * rows, fill);
  b[0] = 'B';
  b[1] = 'M';
  put32(b, 2, static_cast<std::uint32_t>(b.size()));
  put32(b, 6, 0);
  put32(b, 10, static_cast<std::uint32_t>(offset));
  put32(b, 14, 40);
  put32(b, 18, static_cast<std::uint32_t>(width));
  put32(b, 22, static_cast<std::uint32_t>(height));
  put16(b, 26, 1);
  put16(b, 28, bits);
  put32(b, 30, 0);
  put32(b, 34, 0);
  put32(b, 38, 0);
  put32(b, 42, 0);
  put32(b, 46, colours);
  put32(b, 50, 0);
  return b;
}

struct Item {
  std::string name;  // up to 32 bytes; exactly 32 leaves no terminator
  Bytes picture;
};

// count, directory, then the pictures back to back.
Bytes container(const std::vector<Item>& items, std::uint32_t count) {
  Bytes b(4 + 40 * items.size(), 0);
  put32(b, 0, count);
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::size_t at = 4 + 40 * i;
    std::memcpy(b.data() + at, items[i].name.data(), std::min<std::size_t>(items[i].name.size(), 32));
    put32(b, at + 32, static_cast<std::uint32_t>(b.size()));
    put32(b, at + 36, static_cast<std::uint32_t>(items[i].picture.size()));
    b.insert(b.end(), items[i].picture.begin(), items[i].picture.end());
  }
  return b;
}

std::vector<Item> sixLeds() {
  std::vector<Item> items;
  std::uint8_t fill = 1;
  for (const char* n : {"LedRed.bmp", "LedDarkRed.bmp", "LedGreen.bmp", "LedYellow.bmp", "LedBlue.bmp",
                        "LedDarkBlue.bmp"})
    items.push_back({n, bmp(14, 14, 24, 0, fill++)});
  return items;
}

bool inside(std::span<const std::uint8_t> part, const Bytes& whole) {
  return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

// Which names give a picture that parses.
std::vector<bool> loadable(const Bytes& file, const std::vector<std::string>& names) {
  leds::Directory dir;
  std::vector<bool> got;
  const bool ok = leds::readDirectory(file, dir);
  for (const std::string& n : names) {
    leds::Bmp b;
    const auto pic = ok ? leds::findPicture(file, dir, n.c_str()) : std::span<const std::uint8_t>{};
    got.push_back(!pic.empty() && leds::parseBmp(pic, b));
  }
  return got;
}

const std::vector<std::string> kSixNames = {"LedRed.bmp",    "LedDarkRed.bmp", "LedGreen.bmp",
                                            "LedYellow.bmp", "LedBlue.bmp",    "LedDarkBlue.bmp"};

}  // namespace

TEST(LedContainer, GoodFileGivesEveryPictureWithItsOwnBits) {
  const std::vector<Item> items = sixLeds();
  const Bytes file = container(items, 6);
  leds::Directory dir;
  ASSERT_TRUE(leds::readDirectory(file, dir));
  EXPECT_EQ(dir.count, 6u);
  for (std::size_t i = 0; i < items.size(); ++i) {
    SCOPED_TRACE(items[i].name);
    const auto pic = leds::findPicture(file, dir, items[i].name.c_str());
    ASSERT_EQ(pic.size(), items[i].picture.size());
    EXPECT_EQ(0, std::memcmp(pic.data(), items[i].picture.data(), pic.size()));
    leds::Bmp b;
    ASSERT_TRUE(leds::parseBmp(pic, b));
    EXPECT_EQ(b.width, 14);
    EXPECT_EQ(b.height, 14);
    EXPECT_EQ(b.bitCount, 24);
    EXPECT_EQ(b.info.size(), 40u);
    EXPECT_EQ(b.bits.size(), 14u * 44u);  // 42 bytes a row, padded to 44
    EXPECT_EQ(b.bits[0], static_cast<std::uint8_t>(i + 1));
  }
}

TEST(LedContainer, CountAboveTwentyLoadsNothing) {
  struct Case {
    std::uint32_t count;
    bool loads;
  };
  for (const Case c : {Case{20, true}, Case{21, false}, Case{0xFFFFFFFF, false}}) {
    SCOPED_TRACE(c.count);
    std::vector<Item> items;
    for (std::uint32_t i = 0; i < std::min<std::uint32_t>(c.count, 21); ++i)
      items.push_back({i == 0 ? "LedRed.bmp" : "Filler" + std::to_string(i) + ".bmp", bmp(2, 2, 24)});
    const Bytes file = container(items, c.count);
    leds::Directory dir;
    EXPECT_EQ(leds::readDirectory(file, dir), c.loads);
    EXPECT_EQ(loadable(file, {"LedRed.bmp", "Filler19.bmp"}), std::vector<bool>(2, c.loads));
  }
}

TEST(LedContainer, NamesMatchExactlyAndTheFirstEntryWins) {
  std::vector<Item> items = {
      {"ledred.bmp", bmp(3, 3, 24)},
      {"LEDRED.BMP", bmp(3, 3, 24)},
      {"LedRed.bmp", bmp(5, 5, 24)},
      {"LedRed.bmp", bmp(7, 7, 24)},
      {"LedRed.bmp.old", bmp(9, 9, 24)},
  };
  const Bytes file = container(items, 5);
  leds::Directory dir;
  ASSERT_TRUE(leds::readDirectory(file, dir));
  leds::Bmp b;
  ASSERT_TRUE(leds::parseBmp(leds::findPicture(file, dir, "LedRed.bmp"), b));
  EXPECT_EQ(b.width, 5);
  EXPECT_TRUE(leds::findPicture(file, dir, "LedRed.BMP").empty());
  EXPECT_TRUE(leds::findPicture(file, dir, "LedRed").empty());
  EXPECT_TRUE(leds::findPicture(file, dir, "").empty());
  EXPECT_TRUE(leds::findPicture(file, dir, nullptr).empty());
}

TEST(LedContainer, HostileEntriesLoadNothingWhileTheRestLoad) {
  struct Case {
    const char* what;
    void (*spoil)(Bytes& file);  // acts on entry 2 ("LedGreen.bmp")
  };
  constexpr std::size_t e = 4 + 40 * 2;
  const Case cases[] = {
      {"offset past the end", [](Bytes& f) { put32(f, e + 32, static_cast<std::uint32_t>(f.size()) + 1); }},
      {"offset at the end", [](Bytes& f) { put32(f, e + 32, static_cast<std::uint32_t>(f.size())); }},
      {"size past the end", [](Bytes& f) { put32(f, e + 36, static_cast<std::uint32_t>(f.size())); }},
      {"offset plus size wraps", [](Bytes& f) {
         put32(f, e + 32, 0xFFFFFFF0u);
         put32(f, e + 36, 0x20u);
       }},
      {"huge size", [](Bytes& f) { put32(f, e + 36, 0xFFFFFFFFu); }},
      {"name without terminator", [](Bytes& f) { std::memset(f.data() + e + 12, 'x', 20); }},
      {"pixel offset past the picture", [](Bytes& f) {
         const std::uint32_t at = f[e + 32] | f[e + 33] << 8;
         put32(f, at + 10, 0x7FFFFFFF);
       }},
      {"information header longer than the picture", [](Bytes& f) {
         const std::uint32_t at = f[e + 32] | f[e + 33] << 8;
         put32(f, at + 14, 0xFFFFFF00u);
       }},
      {"picture cut short by its size", [](Bytes& f) {
         const std::uint32_t size = f[e + 36] | f[e + 37] << 8;
         put32(f, e + 36, size - 1);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes file = container(sixLeds(), 6);
    c.spoil(file);
    EXPECT_EQ(loadable(file, kSixNames), (std::vector<bool>{true, true, false, true, true, true}));
  }
}

TEST(LedContainer, DirectoryCutShortKeepsTheWholeEntries) {
  const Bytes good = container(sixLeds(), 6);
  // Keep the count and two and a half entries: the pictures are gone too.
  const Bytes cut(good.begin(), good.begin() + 4 + 40 * 2 + 20);
  leds::Directory dir;
  ASSERT_TRUE(leds::readDirectory(cut, dir));
  EXPECT_EQ(dir.declared, 6u);
  EXPECT_EQ(dir.count, 2u);
  EXPECT_EQ(loadable(cut, kSixNames), std::vector<bool>(6, false));
  EXPECT_FALSE(leds::readDirectory(std::span<const std::uint8_t>(good.data(), 3), dir));
}

TEST(LedContainer, NameFillingAllItsBytesIsNoName) {
  const std::string full(32, 'L');
  std::vector<Item> items = sixLeds();
  items.insert(items.begin() + 1, Item{full, bmp(4, 4, 24)});
  const Bytes file = container(items, 7);
  leds::Directory dir;
  ASSERT_TRUE(leds::readDirectory(file, dir));
  EXPECT_TRUE(dir.entries[0].nameOk);
  EXPECT_FALSE(dir.entries[1].nameOk);
  EXPECT_TRUE(leds::findPicture(file, dir, full.c_str()).empty());
  EXPECT_EQ(loadable(file, kSixNames), std::vector<bool>(6, true));
}

TEST(LedContainer, EveryTruncationStaysInsideTheBytesRead) {
  const Bytes good = container(sixLeds(), 6);
  for (std::size_t n = 0; n <= good.size(); ++n) {
    const Bytes cut(good.begin(), good.begin() + n);
    leds::Directory dir;
    if (!leds::readDirectory(cut, dir)) continue;
    int loaded = 0;
    for (const std::string& name : kSixNames) {
      const auto pic = leds::findPicture(cut, dir, name.c_str());
      if (pic.empty()) continue;
      ASSERT_TRUE(inside(pic, cut)) << n;
      leds::Bmp b;
      if (!leds::parseBmp(pic, b)) continue;
      ASSERT_TRUE(inside(b.info, cut) && inside(b.bits, cut)) << n;
      ++loaded;
    }
    // Pictures are stored in name order, so a cut keeps a leading run.
    if (n == good.size()) {
      EXPECT_EQ(loaded, 6);
    }
  }
}

TEST(LedContainer, BmpHeadersAreCheckedAgainstTheirBytes) {
  struct Case {
    const char* what;
    Bytes picture;
    bool ok;
  };
  auto with = [](Bytes b, std::size_t at, std::uint32_t v, int width = 4) {
    if (width == 4) {
      put32(b, at, v);
    } else {
      put16(b, at, static_cast<std::uint16_t>(v));
    }
    return b;
  };
  const Bytes base = bmp(14, 14, 24);
  const Bytes pal = bmp(9, 5, 8);
  const Case cases[] = {
      {"plain 24-bit", base, true},
      {"top-down", bmp(14, -14, 24), true},
      {"8-bit with a full table", pal, true},
      {"1-bit with two colours", bmp(17, 3, 1, 2), true},
      {"32-bit", bmp(3, 3, 32), true},
      {"no BM signature", with(base, 0, 'X', 2), false},
      {"pixel offset inside the header", with(base, 10, 20), false},
      {"pixel offset inside the colour table", with(pal, 10, 14 + 40 + 512), false},
      {"pixel offset past the end", with(base, 10, static_cast<std::uint32_t>(base.size()) + 1), false},
      {"pixel offset leaves a row short", with(base, 10, 14 + 40 + 1), false},
      {"core header", with(base, 14, 12), false},
      {"header of no known size", with(base, 14, 124 + 1), false},
      {"width 0", with(base, 18, 0), false},
      {"negative width", with(base, 18, static_cast<std::uint32_t>(-14)), false},
      {"height 0", with(base, 22, 0), false},
      {"height too tall for the bits", with(base, 22, 15), false},
      {"two planes", with(base, 26, 2, 2), false},
      {"7 bits a pixel", with(base, 28, 7, 2), false},
      {"run-length compressed", with(pal, 30, 1), false},
      {"more colours than 8 bits hold", with(pal, 46, 257), false},
      {"bit fields without room for the masks", with(bmp(4, 4, 32), 30, 3), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    leds::Bmp b;
    EXPECT_EQ(leds::parseBmp(c.picture, b), c.ok);
    if (c.ok) {
      EXPECT_TRUE(inside(b.info, c.picture));
      EXPECT_TRUE(inside(b.bits, c.picture));
    }
  }
  leds::Bmp b;
  ASSERT_TRUE(leds::parseBmp(pal, b));
  EXPECT_EQ(b.info.size(), 40u + 1024u);
  EXPECT_EQ(b.bits.size(), 5u * 12u);
  for (std::size_t n = 0; n < base.size(); ++n)
    EXPECT_FALSE(leds::parseBmp(std::span<const std::uint8_t>(base.data(), n), b)) << n;
}
