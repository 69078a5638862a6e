#include "Orva-Lin/web/records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::int32_t int32At(const Bytes& b, std::size_t at) {
  std::int32_t v;
  std::memcpy(&v, b.data() + at, 4);   // the test machine is little-endian, as the wire
  return v;
}

void putInt32(Bytes& b, std::size_t at, std::int32_t v) { std::memcpy(b.data() + at, &v, 4); }

TEST(ColourRecord, PureRedForMember513IsTheTwentyBytesTheHostExpects) {
  std::uint8_t out[web::kColourRecordSize];
  ASSERT_EQ(web::buildColourRecord(out, {255, 0, 0, 513}), 20u);
  const Bytes expected = {1, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x02, 0, 0};
  EXPECT_EQ(Bytes(out, out + 20), expected);
  std::uint8_t small[19];
  EXPECT_EQ(web::buildColourRecord(small, {1, 2, 3, 4}), 0u);

  web::ColourUpdate back;
  ASSERT_EQ(web::parseColourRecord(out, back), web::ColourError::None);
  EXPECT_EQ(back.red, 255);
  EXPECT_EQ(back.green, 0);
  EXPECT_EQ(back.blue, 0);
  EXPECT_EQ(back.account, 513);
}

TEST(ColourRecord, RefusesWrongLengthTagComponentsAndAccount) {
  std::uint8_t good[web::kColourRecordSize];
  web::buildColourRecord(good, {10, 20, 30, 65535});
  struct Case {
    const char* what;
    std::size_t length;
    std::size_t at;       // where to write value (length 20 only)
    std::int32_t value;
    web::ColourError expected;
  } cases[] = {
      {"empty", 0, 0, 0, web::ColourError::Size},
      {"19 bytes", 19, 0, 0, web::ColourError::Size},
      {"21 bytes", 21, 0, 0, web::ColourError::Size},
      {"tag 0", 20, 0, 0, web::ColourError::Tag},
      {"tag 2", 20, 0, 2, web::ColourError::Tag},
      {"red 256", 20, 4, 256, web::ColourError::Component},
      {"green -1", 20, 8, -1, web::ColourError::Component},
      {"blue 0x7fffffff", 20, 12, 0x7fffffff, web::ColourError::Component},
      {"account -1", 20, 16, -1, web::ColourError::Account},
      {"account 65536", 20, 16, 65536, web::ColourError::Account},
      {"blue 255 is fine", 20, 12, 255, web::ColourError::None},
  };
  for (const Case& c : cases) {
    Bytes record(good, good + 20);
    record.resize(c.length);
    if (c.length == 20) putInt32(record, c.at, c.value);
    web::ColourUpdate out;
    EXPECT_EQ(web::parseColourRecord(record, out), c.expected) << c.what;
  }
}

TEST(ColourRecord, BackgroundTextIsBlueFirstSoBaseSixteenGivesRedLow) {
  char text[7];
  web::backgroundText(0x12, 0x34, 0x56, text);
  EXPECT_STREQ(text, "563412");
  EXPECT_EQ(std::strtol(text, nullptr, 16), 0x563412);
  web::backgroundText(0, 0, 255, text);   // blue, which the client reads as 0xFF0000
  EXPECT_STREQ(text, "FF0000");
}

class UploadRecord : public ::testing::Test {
 protected:
  Bytes record = Bytes(web::kUploadRecordSize, 0);
};

TEST_F(UploadRecord, LayoutOfAThreeByteFileOnChannel4) {
  const std::uint8_t content[] = {0xAA, 0xBB, 0xCC};
  ASSERT_TRUE(web::buildUploadRecord(record, content, "chat.png", 4));
  EXPECT_EQ(record[0], 0xAA);
  EXPECT_EQ(record[2], 0xCC);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(record.data() + 10'000'000)), "chat.png");
  EXPECT_EQ(int32At(record, 10'000'256), 3);
  EXPECT_EQ(int32At(record, 10'000'260), 8);
  EXPECT_EQ(int32At(record, 10'000'264), 4);

  web::Upload upload;
  ASSERT_EQ(web::parseUploadRecord(record, upload), web::UploadError::None);
  EXPECT_EQ(upload.content.size(), 3u);
  EXPECT_EQ(upload.content.data(), record.data());
  EXPECT_EQ(upload.name, "chat.png");
  EXPECT_EQ(upload.channel, 4);
}

TEST_F(UploadRecord, ContentOf9999999BytesIsTakenAndOf10000000Refused) {
  Bytes content(9'999'999, 0x5A);
  ASSERT_TRUE(web::buildUploadRecord(record, content, "a.jpg", 1));
  web::Upload upload;
  ASSERT_EQ(web::parseUploadRecord(record, upload), web::UploadError::None);
  EXPECT_EQ(upload.content.size(), 9'999'999u);

  content.push_back(0x5A);
  EXPECT_FALSE(web::buildUploadRecord(record, content, "a.jpg", 1));
  putInt32(record, web::kUploadFileSizeOffset, 10'000'000);
  EXPECT_EQ(web::parseUploadRecord(record, upload), web::UploadError::FileSize);
}

TEST_F(UploadRecord, EmptyFileIsNeitherBuiltNorAccepted) {
  EXPECT_FALSE(web::buildUploadRecord(record, {}, "a.png", 1));
  EXPECT_FALSE(web::fillUploadTrailer(record, 0, "a.png", 1));
  const std::uint8_t one[] = {1};
  ASSERT_TRUE(web::buildUploadRecord(record, one, "a.png", 1));
  putInt32(record, web::kUploadFileSizeOffset, 0);
  web::Upload upload;
  EXPECT_EQ(web::parseUploadRecord(record, upload), web::UploadError::FileSize);
}

TEST_F(UploadRecord, NameOf255BytesFitsAndOneOver255LeavesTheFieldEmptyAndIsRefused) {
  const std::uint8_t one[] = {1};
  web::Upload upload;
  ASSERT_TRUE(web::buildUploadRecord(record, one, std::string(255, 'n'), 2));
  ASSERT_EQ(web::parseUploadRecord(record, upload), web::UploadError::None);
  EXPECT_EQ(upload.name.size(), 255u);

  ASSERT_TRUE(web::buildUploadRecord(record, one, std::string(256, 'n'), 2));
  EXPECT_EQ(record[web::kUploadNameOffset], 0);
  EXPECT_EQ(int32At(record, web::kUploadNameLengthOffset), 0);
  EXPECT_EQ(web::parseUploadRecord(record, upload), web::UploadError::NameLength);
}

// Each case damages a good record one way; the parser must say which.
TEST_F(UploadRecord, RefusesEveryDamagedField) {
  struct Case {
    const char* what;
    void (*damage)(Bytes&);
    web::UploadError expected;
  } cases[] = {
      {"one byte short", [](Bytes& r) { r.pop_back(); }, web::UploadError::Size},
      {"one byte over", [](Bytes& r) { r.push_back(0); }, web::UploadError::Size},
      {"empty", [](Bytes& r) { r.clear(); }, web::UploadError::Size},
      {"negative fileSize", [](Bytes& r) { putInt32(r, web::kUploadFileSizeOffset, -1); }, web::UploadError::FileSize},
      {"length says 4 for 5", [](Bytes& r) { putInt32(r, web::kUploadNameLengthOffset, 4); }, web::UploadError::NameLength},
      {"length negative", [](Bytes& r) { putInt32(r, web::kUploadNameLengthOffset, -5); }, web::UploadError::NameLength},
      {"no terminator in 256", [](Bytes& r) { std::memset(r.data() + web::kUploadNameOffset, 'x', 256); }, web::UploadError::NameLength},
      {"bytes after the terminator", [](Bytes& r) { r[web::kUploadNameOffset + 100] = 'x'; }, web::UploadError::Name},
      {"Windows-1252 é", [](Bytes& r) { r[web::kUploadNameOffset + 1] = 0xE9; }, web::UploadError::None},
      {"byte Windows-1252 lacks", [](Bytes& r) { r[web::kUploadNameOffset + 1] = 0x81; }, web::UploadError::Name},
      {"DEL", [](Bytes& r) { r[web::kUploadNameOffset + 1] = 0x7F; }, web::UploadError::Name},
      {"slash", [](Bytes& r) { r[web::kUploadNameOffset + 1] = '/'; }, web::UploadError::Name},
      {"backslash", [](Bytes& r) { r[web::kUploadNameOffset + 1] = '\\'; }, web::UploadError::Name},
      {"control byte", [](Bytes& r) { r[web::kUploadNameOffset + 1] = '\n'; }, web::UploadError::Name},
      {"channel -1", [](Bytes& r) { putInt32(r, web::kUploadChannelOffset, -1); }, web::UploadError::Channel},
      {"channel 11", [](Bytes& r) { putInt32(r, web::kUploadChannelOffset, 11); }, web::UploadError::Channel},
  };
  const std::uint8_t content[] = {1, 2, 3};
  for (const Case& c : cases) {
    ASSERT_TRUE(web::buildUploadRecord(record, content, "a.png", 10));
    Bytes damaged = record;
    c.damage(damaged);
    web::Upload upload;
    EXPECT_EQ(web::parseUploadRecord(damaged, upload), c.expected) << c.what;
  }
  Bytes dots = record;
  web::buildUploadRecord(dots, content, "..", 0);
  web::Upload upload;
  EXPECT_EQ(web::parseUploadRecord(dots, upload), web::UploadError::Name);
}

TEST_F(UploadRecord, TrailerLeavesTheContentBeyondTheFileAsItWas) {
  record[5] = 0x77;   // left from an earlier, longer upload
  record[0] = 0x11;
  ASSERT_TRUE(web::fillUploadTrailer(record, 1, "b.gif", 0));
  EXPECT_EQ(record[5], 0x77);
  web::Upload upload;
  ASSERT_EQ(web::parseUploadRecord(record, upload), web::UploadError::None);
  EXPECT_EQ(upload.content.size(), 1u);
  Bytes wrongSize(100);
  EXPECT_FALSE(web::fillUploadTrailer(wrongSize, 1, "b.gif", 0));
}

}  // namespace
