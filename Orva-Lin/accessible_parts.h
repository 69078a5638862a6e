// What a screen reader finds on the painted panel: one part per zone and
// piece, with its French name, role, value, state and rectangle, made from
// the same zones and positions the panel draws with. Pure functions over a
// snapshot of what the panel shows; the Windows side answers the
// accessibility calls with them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "Orva-Lin/input_map.h"

namespace a11y {

enum class Part {
  StatusLine, Channel, Talker, MeterLeft, MeterRight, BarLeft, BarRight,
  ParamsKnob, MicGainKnob, VolumeKnob,
  LampUdp, LampSvc, LampTcp, LampHttps, LampTxRx, LampTst,
  ServerLoad, TimeLeft, Network, Animation, Documentation, Companion, Designer, Quit,
  Count,
};
inline constexpr int kPartCount = static_cast<int>(Part::Count);

// Kinds of part; the Windows side maps them to the system's roles.
enum class Role { Text, Button, Link, Slider, Meter, Lamp, Animation };

// State bits; the Windows side maps them to the system's states.
inline constexpr unsigned kReadOnly = 1;
inline constexpr unsigned kAlert = 2;        // a red lamp
inline constexpr unsigned kUnavailable = 4;  // a click does nothing now
inline constexpr unsigned kInvisible = 8;    // nothing drawn (zone not set, lamp off)

// The six indicator lamps in Part order (LampUdp..LampTst).
inline constexpr int kLamps = 6;

// What the panel shows now. Texts are UTF-8 and never null.
struct PanelView {
  input::Zones zones;
  std::int32_t channelPort = 30000;
  std::int32_t channelPeerCount = -1;
  const char* talkerFirstName = "";  // empty: nobody heard yet
  const char* talkerCity = "";
  const char* talkerPhrase = "";
  std::int32_t levelLeft = 0, levelRight = 0;        // needle angles
  std::int32_t levelLeftRaw = 0, levelRightRaw = 0;  // bar levels
  float micLevel = 0, volumeLevel = 0;               // 0..1
  std::uint32_t lamps[kLamps] = {};                  // LED codes, UDP SVC TCP HTTPS TX-RX TST
  std::int32_t paceMode = 99;
  std::int32_t inactivitySeconds = 0;
  const char* status = "";
};

Role role(Part p);
// The zone whose help text describes the part and whose left click is its
// default action; Zone::Elsewhere for a part with neither.
input::Zone zone(Part p);
bool clickable(Part p);

input::Rect rect(Part p, const PanelView& v);  // client coordinates; empty when not shown
unsigned state(Part p, const PanelView& v);

// Name and value, UTF-8, cut to fit and always terminated.
inline constexpr std::size_t kTextBytes = 192;
void name(Part p, const PanelView& v, char (&out)[kTextBytes]);
void value(Part p, const PanelView& v, char (&out)[kTextBytes]);  // empty: none

// The right-click help text of the part's zone (Windows-1252, the bytes
// Talvo speaks), empty for a part with none.
std::string_view description(Part p);
// Where a left click on the part lands: the centre of its zone. False when
// a click there does nothing or the part is not shown.
bool clickPoint(Part p, const PanelView& v, int& x, int& y);

// The part under a client point, or Part::Count for none.
Part partAt(const PanelView& v, int x, int y);

// French word for an LED colour code ("vert", "rouge"...), "éteint" for none.
const char* lampColour(std::uint32_t code);

}  // namespace a11y
