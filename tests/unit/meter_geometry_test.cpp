#include "Orva-Lin/audio/meter_geometry.h"

#include <gtest/gtest.h>

#include <vector>

TEST(MeterGeometry, NeedleSweepsTheTopHalfAndRestsOutsideItsRange) {
  struct Case {
    std::int32_t level;
    int x, y;
  };
  // Face 150 by 84: pivot (75, 84), needle 70 long.
  const Case cases[] = {
      {218, 75 - 55, 84 - 43},  // up-left
      {270, 75, 84 - 70},       // straight up (cos 270 is -1.8e-16: truncates to 0)
      {319, 75 + 52, 84 - 45},  {320, 75 + 53, 84 - 44},
      {0, 75 - 55, 84 - 43},    {217, 75 - 55, 84 - 43}, {321, 75 - 55, 84 - 43}, {-270, 75 - 55, 84 - 43},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    const meter::Point p = meter::needleEnd(c.level, 150, 84);
    EXPECT_EQ(p.x, c.x);
    EXPECT_EQ(p.y, c.y);
  }
  // An odd width halves down.
  EXPECT_EQ(meter::needleEnd(270, 151, 10).x, 75);
}

TEST(MeterGeometry, BarLightsOneColumnPer64) {
  const std::pair<std::int32_t, int> cases[] = {
      {0, 0}, {63, 0}, {64, 1}, {6400, 100}, {6463, 100}, {9599, 149}, {9600, 150}, {32767, 150}, {-1, 0},
      {-32768, 0},
  };
  for (const auto& [raw, lit] : cases) EXPECT_EQ(meter::barLitColumns(raw), lit) << raw;
}

TEST(MeterGeometry, ColumnColoursRunGreenYellowRedThenWhite) {
  auto rgb = [](meter::Rgb c) { return std::vector<int>{c.r, c.g, c.b}; };
  struct Case {
    int column, lit;
    std::vector<int> colour;
  };
  const Case cases[] = {
      {0, 150, {0, 255, 0}},      {52, 150, {126, 255, 0}},  {104, 150, {252, 255, 0}},
      {105, 150, {255, 255, 0}},  // x = 0.7: yellow, the second stretch begins
      {120, 150, {255, 128, 0}},  {134, 150, {255, 9, 0}},   {135, 150, {255, 0, 0}},
      {149, 150, {255, 0, 0}},    {100, 100, {255, 255, 255}}, {99, 100, {240, 255, 0}},
      {0, 0, {255, 255, 255}},
  };
  for (const Case& c : cases) EXPECT_EQ(rgb(meter::barColumnColour(c.column, c.lit)), c.colour) << c.column;
  // A raw level of 6400 lights exactly the first 100 columns.
  const int lit = meter::barLitColumns(6400);
  int white = 0;
  for (int i = 0; i < meter::kBarColumns; ++i)
    white += rgb(meter::barColumnColour(i, lit)) == std::vector<int>{255, 255, 255};
  EXPECT_EQ(white, 50);
  EXPECT_NE(rgb(meter::barColumnColour(99, lit)), (std::vector<int>{255, 255, 255}));
}
