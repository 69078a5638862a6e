// Where the panel's moving parts go and what they show: the NETWORK ring,
// the knob ticks, the SERVER LOAD LEDs, the LED pictures, the time left.
// Pure functions; the timers draw what these return.
#pragma once

#include <cstddef>
#include <cstdint>

namespace panel {

struct Point {
  int x, y;
};

// The ring turns clockwise on the screen from LED 0, 40 pixels below its
// centre. The angle steps down by pi/8 in single precision, as the LEDs
// have always been placed; doubles would move some of them by a pixel.
inline constexpr int kRingLeds = 16;
inline constexpr Point kRingCentre{420, 380};
inline constexpr int kRingRadius = 40;
Point ringLedPosition(int k);

// The six indicator lamps and their captions, in the order the server
// panel draws them.
struct LampPlace {
  int ledX, ledY;
  const char* label;
  int labelX, labelY;
};
inline constexpr int kIndicators = 6;
inline constexpr LampPlace kIndicatorPlaces[kIndicators] = {
    {420, 270, "TST", 417, 293},   {310, 270, "HTTPS", 300, 293}, {370, 270, "TX-RX", 361, 293},
    {310, 220, "UDP", 307, 243},   {340, 220, "SVC", 337, 243},   {370, 220, "TCP", 367, 243},
};
inline constexpr int kLedSize = 14;  // the LED pictures are square
inline constexpr Point kServerLoadAt{420, 220};
inline constexpr int kServerLoadStep = 18;
inline constexpr Point kServerLoadLabel{423, 243};
inline constexpr Point kTimeLeftAt{455, 270};
inline constexpr Point kTimeLeftLabel{455, 293};

// Knob ticks, as offsets from the knob's centre (30 pixels out). Tick 0
// stands straight below and the rest follow clockwise.
struct KnobTicks {
  float step;
  int limit;  // stop after the first tick numbered above it
};
inline constexpr KnobTicks kParamsTicks{0.62831855f, 8};  // 10 all round
inline constexpr KnobTicks kLevelTicks{0.8975979f, 5};    // 7, down to 308.6 degrees
inline constexpr int kTickRadius = 30;
inline constexpr int kMaxTicks = 16;
// Fills out (tick 0 first) and returns how many ticks the knob has.
int knobTickOffsets(KnobTicks ticks, Point (&out)[kMaxTicks]);

// LED codes of the five SERVER LOAD LEDs for a pace value from the relay
// (99: no contact).
inline constexpr int kServerLoadLeds = 5;
void serverLoadLeds(std::int32_t paceMode, std::uint32_t (&out)[kServerLoadLeds]);

// Pictures of the LED codes 1..6, in the order the container is searched.
inline constexpr int kLedPictures = 6;
inline constexpr const char* kLedPictureNames[kLedPictures] = {
    "LedRed.bmp", "LedDarkRed.bmp", "LedGreen.bmp", "LedYellow.bmp", "LedBlue.bmp", "LedDarkBlue.bmp",
};
// Index into kLedPictureNames, or -1 for a code that draws nothing.
int ledPictureIndex(std::uint32_t code);

// One second of the inactivity countdown: the value to store, and whether
// the countdown has run out (the value then stays at 0).
struct Countdown {
  std::int32_t seconds;
  bool expired;
};
Countdown countDown(std::int32_t seconds);

// "hh:mm:ss" of a count of seconds; out must hold at least 16 bytes.
inline constexpr std::size_t kTimeTextBytes = 16;
void formatTimeLeft(std::int32_t seconds, char (&out)[kTimeTextBytes]);

}  // namespace panel
