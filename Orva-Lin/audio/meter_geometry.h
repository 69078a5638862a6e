// What the meter windows draw from the stored levels: the needle's end and
// the colour of each LED-bar column.
#pragma once

#include <cstdint>

namespace meter {

struct Point {
  int x, y;
};

// The two meter windows and the LED bars under them, in the main window.
inline constexpr int kMeterLeftX = 200;
inline constexpr int kMeterRightX = 370;
inline constexpr int kMeterY = 80;
inline constexpr int kMeterWidth = 150;
inline constexpr int kMeterHeight = 84;
inline constexpr int kBarTop = 166;
inline constexpr int kBarBottom = 176;

// A level outside 218..320 degrees (the 0 of start-up among them) is drawn
// at rest.
inline constexpr int kNeedleRest = 218;
inline constexpr int kNeedleMax = 320;
inline constexpr int kNeedleLength = 70;
// The needle pivots at the middle of the face's bottom edge.
Point needleEnd(std::int32_t level, int faceWidth, int faceHeight);

inline constexpr int kBarColumns = 150;
inline constexpr int kRawPerColumn = 64;
int barLitColumns(std::int32_t raw);

struct Rgb {
  std::uint8_t r, g, b;
};
// Green through yellow to red along the lit part; white past it.
Rgb barColumnColour(int column, int lit);

}  // namespace meter
