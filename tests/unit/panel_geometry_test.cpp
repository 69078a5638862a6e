#include "Orva-Lin/panel_geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using panel::Point;

namespace {
std::vector<std::pair<int, int>> pairs(const Point* p, int n) {
  std::vector<std::pair<int, int>> v;
  for (int i = 0; i < n; ++i) v.emplace_back(p[i].x, p[i].y);
  return v;
}
}  // namespace

TEST(PanelGeometry, RingRunsClockwiseFromBelowTheCentre) {
  // Worked out independently with the angle kept in single precision.
  const std::vector<std::pair<int, int>> expected = {
      {420, 420}, {405, 416}, {392, 408}, {384, 395}, {380, 380}, {384, 365}, {392, 352}, {405, 344},
      {420, 340}, {435, 344}, {448, 352}, {456, 365}, {460, 380}, {456, 395}, {448, 408}, {435, 416},
  };
  Point got[panel::kRingLeds];
  for (int k = 0; k < panel::kRingLeds; ++k) got[k] = panel::ringLedPosition(k);
  EXPECT_EQ(pairs(got, panel::kRingLeds), expected);
  for (int k = 0; k < panel::kRingLeds; ++k) {
    const double r = std::hypot(got[k].x - 420, got[k].y - 380);
    EXPECT_NEAR(r, 40, 1.5) << k;
  }
}

TEST(PanelGeometry, KnobTicksCountAndPlace) {
  struct Case {
    const char* knob;
    panel::KnobTicks ticks;
    std::vector<std::pair<int, int>> offsets;
  };
  const Case cases[] = {
      {"params: ten all round", panel::kParamsTicks,
       {{0, 30}, {-17, 24}, {-28, 9}, {-28, -9}, {-17, -24}, {0, -30}, {17, -24}, {28, -9}, {28, 9}, {17, 24}}},
      {"levels: seven down to 308.6 degrees", panel::kLevelTicks,
       {{0, 30}, {-23, 18}, {-29, -6}, {-13, -27}, {13, -27}, {29, -6}, {23, 18}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.knob);
    Point out[panel::kMaxTicks];
    const int n = panel::knobTickOffsets(c.ticks, out);
    EXPECT_EQ(pairs(out, n), c.offsets);
  }
  // A limit that the angle reaches first: the ticks stop once it is no
  // longer above zero rather than running round again.
  Point out[panel::kMaxTicks];
  EXPECT_EQ(panel::knobTickOffsets({1.0f, 100}, out), 7);
}

TEST(PanelGeometry, ServerLoadLedsForEveryPace) {
  constexpr std::uint32_t R = 1, G = 3, Y = 4, D = 6;
  struct Case {
    std::int32_t pace;
    std::uint32_t leds[5];
  };
  const Case cases[] = {
      {0, {G, D, D, D, D}},  {1, {D, G, D, D, D}},  {2, {D, D, G, D, D}},  {3, {D, D, D, Y, D}},
      {4, {D, D, D, D, R}},  {99, {R, R, R, R, R}}, {5, {D, D, D, D, D}},  {-1, {D, D, D, D, D}},
      {98, {D, D, D, D, D}}, {100, {D, D, D, D, D}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pace);
    std::uint32_t got[panel::kServerLoadLeds] = {7, 7, 7, 7, 7};
    panel::serverLoadLeds(c.pace, got);
    EXPECT_EQ(std::vector<std::uint32_t>(got, got + 5), std::vector<std::uint32_t>(c.leds, c.leds + 5));
  }
}

TEST(PanelGeometry, LedCodesPickTheirPictures) {
  const std::pair<std::uint32_t, const char*> cases[] = {
      {1, "LedRed.bmp"},    {2, "LedDarkRed.bmp"}, {3, "LedGreen.bmp"}, {4, "LedYellow.bmp"},
      {5, "LedBlue.bmp"},   {6, "LedDarkBlue.bmp"}, {0, nullptr},       {7, nullptr},
      {99, nullptr},        {0xFFFFFFFF, nullptr},
  };
  for (const auto& [code, name] : cases) {
    SCOPED_TRACE(code);
    const int i = panel::ledPictureIndex(code);
    if (!name) {
      EXPECT_EQ(i, -1);
    } else {
      ASSERT_GE(i, 0);
      EXPECT_STREQ(panel::kLedPictureNames[i], name);
    }
  }
}

TEST(PanelGeometry, CountdownShowsEachSecondThenExpires) {
  // From 2: 00:00:01, 00:00:00, then the closing.
  std::vector<std::string> shown;
  std::int32_t s = 2;
  bool expired = false;
  for (int tick = 0; tick < 3 && !expired; ++tick) {
    const panel::Countdown c = panel::countDown(s);
    s = c.seconds;
    expired = c.expired;
    if (expired) break;
    char text[panel::kTimeTextBytes];
    panel::formatTimeLeft(s, text);
    shown.push_back(text);
  }
  EXPECT_EQ(shown, (std::vector<std::string>{"00:00:01", "00:00:00"}));
  EXPECT_TRUE(expired);
  EXPECT_EQ(s, 0);
  const panel::Countdown below = panel::countDown(-5);
  EXPECT_TRUE(below.expired);
  EXPECT_EQ(below.seconds, 0);
  EXPECT_FALSE(panel::countDown(4500).expired);
  EXPECT_EQ(panel::countDown(4500).seconds, 4499);
}

TEST(PanelGeometry, TimeLeftText) {
  const std::pair<std::int32_t, const char*> cases[] = {
      {0, "00:00:00"},    {59, "00:00:59"},    {60, "00:01:00"},      {3599, "00:59:59"},
      {3600, "01:00:00"}, {4499, "01:14:59"},  {4500, "01:15:00"},    {86399, "23:59:59"},
      {360000, "100:00:00"},
  };
  for (const auto& [seconds, text] : cases) {
    char out[panel::kTimeTextBytes];
    panel::formatTimeLeft(seconds, out);
    EXPECT_STREQ(out, text) << seconds;
  }
}
