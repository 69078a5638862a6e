#include "Orva-Lin/accessible_parts.h"

#include <gtest/gtest.h>

#include <string>

using a11y::Part;

namespace {

a11y::PanelView shownPanel() {
  a11y::PanelView v;
  v.zones = {input::kDragZone,          input::designerZoneFor(550, 650), input::kQuitZone,
             input::kAnimationZone,     input::kDocumentationZone,        input::kCompanionZone,
             input::kChannelZone,       {375, 335, 480, 440},             {25, 220, 73, 268},
             {115, 220, 163, 268},      {205, 220, 253, 268}};
  return v;
}

std::string nameOf(Part p, const a11y::PanelView& v) {
  char out[a11y::kTextBytes];
  a11y::name(p, v, out);
  return out;
}
std::string valueOf(Part p, const a11y::PanelView& v) {
  char out[a11y::kTextBytes];
  a11y::value(p, v, out);
  return out;
}

}  // namespace

TEST(AccessibleParts, EveryPartLiesOnThePanelAndIsFoundAtItsCentre) {
  const a11y::PanelView v = shownPanel();
  for (int i = 0; i < a11y::kPartCount; ++i) {
    const Part p = static_cast<Part>(i);
    const input::Rect r = a11y::rect(p, v);
    EXPECT_LT(r.left, r.right) << i;
    EXPECT_LT(r.top, r.bottom) << i;
    EXPECT_GE(r.left, 0) << i;
    EXPECT_GE(r.top, 0) << i;
    EXPECT_LE(r.right, input::kWindowWidth) << i;
    EXPECT_LE(r.bottom, input::kWindowHeight) << i;
    EXPECT_EQ(a11y::partAt(v, (r.left + r.right) / 2, (r.top + r.bottom) / 2), p) << i;
    EXPECT_FALSE(nameOf(p, v).empty()) << i;
  }
  // A zone not set yet is not shown, and nothing is found outside the parts.
  a11y::PanelView early;
  EXPECT_NE(a11y::state(Part::VolumeKnob, early) & a11y::kInvisible, 0u);
  EXPECT_EQ(a11y::partAt(v, 545, 400), Part::Count);
}

TEST(AccessibleParts, NamesValuesAndStatesFollowThePanel) {
  struct Case {
    const char* what;
    void (*set)(a11y::PanelView&);
    Part part;
    const char* name;
    const char* value;
    unsigned state;
  };
  const Case cases[] = {
      {"start", [](a11y::PanelView&) {}, Part::Channel, "Canal 0 : Bienvenue", "nombre de membres inconnu", 0},
      {"channel 3, five members", [](a11y::PanelView& v) { v.channelPort = 30003, v.channelPeerCount = 5; },
       Part::Channel, "Canal 3 : Zone Technologie", "5 membres", 0},
      {"one member", [](a11y::PanelView& v) { v.channelPort = 30005, v.channelPeerCount = 1; }, Part::Channel,
       "Canal 5 : Au café de la gare", "1 membre", 0},
      {"nobody heard", [](a11y::PanelView&) {}, Part::Talker, "Personne ne parle", "", a11y::kReadOnly},
      {"a talker", [](a11y::PanelView& v) { v.talkerFirstName = "Mathéo", v.talkerCity = "Lyon"; }, Part::Talker,
       "Mathéo, Lyon", "", a11y::kReadOnly},
      {"red lamp", [](a11y::PanelView& v) { v.lamps[1] = 1; }, Part::LampSvc, "Voyant SVC", "rouge",
       a11y::kReadOnly | a11y::kAlert},
      {"lamp off", [](a11y::PanelView& v) { v.lamps[0] = 0; }, Part::LampUdp, "Voyant UDP", "éteint",
       a11y::kReadOnly | a11y::kInvisible},
      {"relay silent", [](a11y::PanelView& v) { v.paceMode = 99; }, Part::ServerLoad, nullptr,
       "aucun contact, rouge", a11y::kReadOnly | a11y::kAlert},
      {"relay at pace 3", [](a11y::PanelView& v) { v.paceMode = 3; }, Part::ServerLoad, nullptr,
       "niveau 4 sur 5, jaune", a11y::kReadOnly},
      {"volume", [](a11y::PanelView& v) { v.volumeLevel = 0.724f; }, Part::VolumeKnob, nullptr, "72 %", 0},
      {"needle at full scale", [](a11y::PanelView& v) { v.levelLeft = 319; }, Part::MeterLeft, nullptr, "100 %",
       a11y::kReadOnly},
      {"half a bar", [](a11y::PanelView& v) { v.levelRightRaw = 4800; }, Part::BarRight, nullptr, "50 %",
       a11y::kReadOnly},
      {"ring on channel 0", [](a11y::PanelView&) {}, Part::Network, nullptr, "", a11y::kUnavailable},
      {"time left", [](a11y::PanelView& v) { v.inactivitySeconds = 4499; }, Part::TimeLeft, nullptr, "01:14:59",
       a11y::kReadOnly},
  };
  for (const Case& c : cases) {
    a11y::PanelView v = shownPanel();
    v.lamps[0] = v.lamps[1] = 5;
    c.set(v);
    if (c.name) {
      EXPECT_EQ(nameOf(c.part, v), c.name) << c.what;
    }
    EXPECT_EQ(valueOf(c.part, v), c.value) << c.what;
    EXPECT_EQ(a11y::state(c.part, v), c.state) << c.what;
  }
}

TEST(AccessibleParts, DescriptionsAreTheSpokenHelpTextsAndClicksLandInTheZone) {
  const a11y::PanelView v = shownPanel();
  EXPECT_EQ(a11y::description(Part::Channel), input::kTextChannel.view());
  EXPECT_EQ(a11y::description(Part::VolumeKnob), input::kTextVolume.view());
  EXPECT_TRUE(a11y::description(Part::LampTst).empty());
  int x = 0, y = 0;
  ASSERT_TRUE(a11y::clickPoint(Part::Channel, v, x, y));
  EXPECT_EQ(input::leftClickZone(v.zones, x, y), input::Zone::Channel);
  ASSERT_TRUE(a11y::clickPoint(Part::Quit, v, x, y));
  EXPECT_EQ(input::leftClickZone(v.zones, x, y), input::Zone::Quit);
  EXPECT_FALSE(a11y::clickPoint(Part::VolumeKnob, v, x, y));  // where a click lands sets the level
  EXPECT_FALSE(a11y::clickPoint(Part::Network, v, x, y));     // nothing to see on channel 0
}
