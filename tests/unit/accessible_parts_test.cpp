#include "Orva-Lin/accessible_parts.h"

#include <gtest/gtest.h>

#include <string>

using a11y::Part;
using V = a11y::PanelView;

namespace {

V shownPanel() {
  V v;
  v.zones = {input::kDragZone,      input::designerZoneFor(550, 650), input::kQuitZone,  input::kAnimationZone,
             input::kDocumentationZone, input::kCompanionZone, input::kChannelZone, {375, 335, 480, 440},
             {25, 220, 73, 268},    {115, 220, 163, 268},  {205, 220, 253, 268}};
  v.lamps[0] = v.lamps[1] = 5;
  return v;
}

template <void (*Text)(Part, const V&, char (&)[a11y::kTextBytes])>
std::string text(Part p, const V& v) {
  char out[a11y::kTextBytes];
  Text(p, v, out);
  return out;
}

}  // namespace

TEST(AccessibleParts, EveryPartLiesOnThePanelAndIsFoundAtItsCentre) {
  const V v = shownPanel();
  for (int i = 0; i < a11y::kPartCount; ++i) {
    const Part p = static_cast<Part>(i);
    const input::Rect r = a11y::rect(p, v);
    EXPECT_TRUE(0 <= r.left && r.left < r.right && r.right <= input::kWindowWidth) << i;
    EXPECT_TRUE(0 <= r.top && r.top < r.bottom && r.bottom <= input::kWindowHeight) << i;
    EXPECT_EQ(a11y::partAt(v, (r.left + r.right) / 2, (r.top + r.bottom) / 2), p) << i;
  }
  EXPECT_EQ(a11y::partAt(v, 545, 400), Part::Count);
  EXPECT_NE(a11y::state(Part::VolumeKnob, V{}) & a11y::kInvisible, 0u);  // not drawn yet
}

TEST(AccessibleParts, NamesValuesStatesAndActionsFollowThePanel) {
  constexpr unsigned kRed = a11y::kReadOnly | a11y::kAlert;
  struct Case {
    void (*set)(V&);
    Part part;
    const char *name, *value;
    unsigned state;
  } const cases[] = {
      {[](V& v) { v.channelPort = 30003, v.channelPeerCount = 5; }, Part::Channel, "Canal 3 : Zone Technologie",
       "5 membres", 0},
      {[](V& v) { v.channelPeerCount = 1; }, Part::Channel, "Canal 0 : Bienvenue", "1 membre", 0},
      {[](V& v) { v.talkerFirstName = "Mathéo", v.talkerCity = "Lyon"; }, Part::Talker, "Mathéo, Lyon", "",
       a11y::kReadOnly},
      {[](V& v) { v.lamps[1] = 1; }, Part::LampSvc, "Voyant SVC", "rouge", kRed},
      {[](V& v) { v.paceMode = 99; }, Part::ServerLoad, "Charge du serveur (SERVER LOAD)", "aucun contact, rouge",
       kRed},
      {[](V& v) { v.paceMode = 3; }, Part::ServerLoad, "Charge du serveur (SERVER LOAD)", "niveau 4 sur 5, jaune",
       a11y::kReadOnly},
      {[](V& v) { v.volumeLevel = 0.724f; }, Part::VolumeKnob, "VOLUME : volume sonore", "72 %", 0},
      {[](V&) {}, Part::Network, "NETWORK : voir les correspondants", "", a11y::kUnavailable},
  };
  for (const Case& c : cases) {
    V v = shownPanel();
    c.set(v);
    EXPECT_EQ(text<a11y::name>(c.part, v), c.name);
    EXPECT_EQ(text<a11y::value>(c.part, v), c.value) << c.name;
    EXPECT_EQ(a11y::state(c.part, v), c.state) << c.name;
  }
  // Descriptions are the help texts Talvo speaks; a default action is a click in the zone.
  const V v = shownPanel();
  EXPECT_EQ(a11y::description(Part::Channel), input::kTextChannel.view());
  EXPECT_TRUE(a11y::description(Part::LampTst).empty());
  int x = 0, y = 0;
  ASSERT_TRUE(a11y::clickPoint(Part::Channel, v, x, y));
  EXPECT_EQ(input::leftClickZone(v.zones, x, y), input::Zone::Channel);
  EXPECT_FALSE(a11y::clickPoint(Part::VolumeKnob, v, x, y));  // where a click lands sets the level
  EXPECT_FALSE(a11y::clickPoint(Part::Network, v, x, y));     // nothing to see on channel 0
}
