#include "Orva-Lin/input_map.h"

#include <gtest/gtest.h>

#include <cmath>

using input::Zone;

namespace {

// Zones as start-up and the knob panel leave them (knob pictures 48 x 48).
input::Zones fullZones() {
  input::Zones z;
  z.drag = input::kDragZone;
  z.designer = input::designerZoneFor(550, 650);
  z.quit = input::kQuitZone;
  z.animation = input::kAnimationZone;
  z.documentation = input::kDocumentationZone;
  z.companion = input::kCompanionZone;
  z.channel = input::kChannelZone;
  z.network = {375, 335, 480, 440};
  z.paramsKnob = {25, 220, 73, 268};
  z.micGainKnob = {115, 220, 163, 268};
  z.volumeKnob = {205, 220, 253, 268};
  return z;
}

}  // namespace

TEST(Zones, DesignerZoneFollowsTheClientSize) {
  const input::Rect d = input::designerZoneFor(550, 650);
  EXPECT_EQ(d.left, 390);
  EXPECT_EQ(d.top, 610);
  EXPECT_EQ(d.right, 535);
  EXPECT_EQ(d.bottom, 650);
}

TEST(Zones, RectanglesAreHalfOpenAndUnsetZonesMatchNothing) {
  const input::Rect r{10, 20, 30, 40};
  EXPECT_TRUE(input::contains(r, 10, 20));
  EXPECT_TRUE(input::contains(r, 29, 39));
  EXPECT_FALSE(input::contains(r, 30, 39));
  EXPECT_FALSE(input::contains(r, 29, 40));
  EXPECT_FALSE(input::contains(input::Rect{}, 0, 0));
  EXPECT_FALSE(input::contains(input::grow(input::Rect{}, 14), 0, 0));
  const input::Rect g = input::grow(r, 14);
  EXPECT_TRUE(input::contains(g, -4, 6));
  EXPECT_FALSE(input::contains(g, -5, 6));
}

TEST(Zones, HoverFollowsItsOrder) {
  const input::Zones z = fullZones();
  struct Case {
    int x, y;
    Zone expected;
  } cases[] = {
      {400, 350, Zone::Network},     {100, 150, Zone::Channel},   {320, 620, Zone::Documentation},
      {400, 500, Zone::Animation},   {450, 630, Zone::Designer},  {20, 20, Zone::Companion},
      {200, 50, Zone::Drag},         {275, 400, Zone::Elsewhere},
      // Knobs have no hover text, and the quit cross lies outside the drag zone.
      {30, 230, Zone::Elsewhere},    {520, 20, Zone::Elsewhere},
  };
  for (const Case& c : cases) EXPECT_EQ(input::hoverZone(z, c.x, c.y), c.expected) << c.x << "," << c.y;
}

TEST(Zones, HoverTextsOfTheDragZoneAndElsewhere) {
  const input::Zones z = fullZones();
  EXPECT_EQ(input::helpText(input::hoverZone(z, 200, 50)), input::kTextDrag.view());
  EXPECT_EQ(input::helpText(input::hoverZone(z, 275, 400)), input::kTextWelcome.view());
}

TEST(Zones, LeftClickGrowsTheKnobsAndTriesThemFirst) {
  input::Zones z = fullZones();
  // 14 pixels left of the volume knob, still the volume knob.
  EXPECT_EQ(input::leftClickZone(z, 191, 240), Zone::VolumeKnob);
  EXPECT_EQ(input::leftClickZone(z, 190, 240), Zone::Elsewhere);
  EXPECT_EQ(input::leftClickZone(z, 176, 240), Zone::MicGainKnob);
  EXPECT_EQ(input::leftClickZone(z, 180, 240), Zone::Elsewhere);
  EXPECT_EQ(input::leftClickZone(z, 525, 25), Zone::Quit);
  EXPECT_EQ(input::leftClickZone(z, 30, 20), Zone::Companion);
  EXPECT_EQ(input::leftClickZone(z, 275, 400), Zone::Elsewhere);
  // A knob drawn over the channel frame would take the click first.
  z.paramsKnob = {20, 150, 60, 190};
  EXPECT_EQ(input::leftClickZone(z, 30, 160), Zone::ParamsKnob);
}

TEST(Zones, RightClickSpeaksEveryZoneButTheCompanionIcon) {
  const input::Zones z = fullZones();
  struct Case {
    int x, y;
    const char* status;
    const char* spoken;
  } cases[] = {
      {400, 350, input::kTextNetwork.c_str(), input::kTextNetwork.c_str()},
      {100, 150, input::kTextChannel.c_str(), input::kTextChannel.c_str()},
      {210, 230, input::kTextVolume.c_str(), input::kTextVolume.c_str()},
      {120, 230, input::kTextMicGain.c_str(), input::kTextMicGain.c_str()},
      {30, 230, input::kTextParams.c_str(), input::kTextParams.c_str()},
      {20, 20, input::kTextCompanion.c_str(), ""},
      {275, 400, input::kTextWelcome.c_str(), input::kTextNothingHere.c_str()},
      // The drag zone counts as elsewhere; so does a point just beside a
      // knob, which is not grown for the right button.
      {200, 50, input::kTextWelcome.c_str(), input::kTextNothingHere.c_str()},
      {200, 240, input::kTextWelcome.c_str(), input::kTextNothingHere.c_str()},
  };
  for (const Case& c : cases) {
    const input::RightClick r = input::rightClick(z, c.x, c.y);
    EXPECT_EQ(r.status, c.status) << c.x << "," << c.y;
    EXPECT_EQ(r.spoken, c.spoken) << c.x << "," << c.y;
  }
}

TEST(Knob, AngleAndLevelAroundTheCentre) {
  const input::Rect knob{0, 0, 100, 100};  // centre (50, 50)
  struct Case {
    int x, y;
    double angle;
    float level;
  } cases[] = {
      {50, 50, 270.0, 0.9f},   // on the centre: atan2(0, 0) = 0
      {50, 90, 0.0, 0.0f},     // straight below
      {10, 50, 90.0, 0.3f},    // left
      {50, 10, 180.0, 0.6f},   // above
      {90, 50, 270.0, 0.9f},   // right
  };
  for (const Case& c : cases) {
    const double a = input::knobAngle(knob, c.x, c.y);
    EXPECT_NEAR(a, c.angle, 1e-9) << c.x << "," << c.y;
    EXPECT_FLOAT_EQ(input::knobLevel(a), c.level) << c.x << "," << c.y;
  }
}

TEST(Knob, TheSectorBelowRightGivesTheFullLevel) {
  const input::Rect knob{0, 0, 100, 100};
  // From 30 degrees below the right-hand horizontal to just short of straight down.
  for (double below = 30.5; below < 89.5; below += 1.0) {
    const double rad = below * 3.14159265358979 / 180.0;
    const int x = 50 + static_cast<int>(std::lround(40 * std::cos(rad)));
    const int y = 50 + static_cast<int>(std::lround(40 * std::sin(rad)));
    EXPECT_FLOAT_EQ(input::knobLevel(input::knobAngle(knob, x, y)), 1.0f) << below;
  }
  // Just clockwise of straight down the level starts again from zero.
  EXPECT_LT(input::knobLevel(input::knobAngle(knob, 48, 90)), 0.02f);
}

TEST(Knob, IntegerHalvesLocateTheCentreOfOddRectangles) {
  const input::Rect knob{0, 0, 101, 101};  // centre at 50, not 50.5
  EXPECT_NEAR(input::knobAngle(knob, 50, 90), 0.0, 1e-9);
}

TEST(Keys, MapOfVirtualKeys) {
  using input::KeyAction;
  EXPECT_EQ(input::keyFor(27).action, KeyAction::Quit);
  EXPECT_EQ(input::keyFor(32).action, KeyAction::Talk);
  EXPECT_EQ(input::keyFor(112).action, KeyAction::About);
  for (unsigned d = 0; d <= 9; ++d) {
    const input::Key row = input::keyFor(48 + d);
    const input::Key pad = input::keyFor(96 + d);
    EXPECT_EQ(row.action, KeyAction::Channel);
    EXPECT_EQ(pad.action, KeyAction::Channel);
    EXPECT_EQ(row.channel, static_cast<int>(d));
    EXPECT_EQ(pad.channel, static_cast<int>(d));
  }
  EXPECT_EQ(input::keyFor(107).action, KeyAction::Channel);
  EXPECT_EQ(input::keyFor(107).channel, 10);
  // Neither the main row's '+' (VK_OEM_PLUS) nor letters nor the other
  // function keys select anything.
  for (unsigned vk : {0xBBu, 65u, 90u, 113u, 106u, 109u, 13u, 16u})
    EXPECT_EQ(input::keyFor(vk).action, KeyAction::Inactive) << vk;
}
