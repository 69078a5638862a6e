#include "Orva-Lin/accessible_parts.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "Orva-Lin/audio/meter_geometry.h"
#include "Orva-Lin/net/channels.h"
#include "Orva-Lin/panel_geometry.h"
#include "Orva-Lin/shared_state.h"

namespace a11y {

namespace {

using input::Rect;
using input::Zone;

struct Spec {
  const char* name;  // fixed name; null when made from the view
  Role role;
  Zone zone;
  bool clicks;
};

// In Part order. The talker card and the status line are named from what
// they show; the rest keep the words printed on the panel beside them.
constexpr Spec kSpecs[kPartCount] = {
    {"Ligne d'état", Role::Text, Zone::Elsewhere, false},
    {nullptr, Role::Button, Zone::Channel, true},
    {nullptr, Role::Text, Zone::Elsewhere, false},
    {"VU-mètre gauche (AUDIO LEFT)", Role::Meter, Zone::Elsewhere, false},
    {"VU-mètre droit (AUDIO RIGHT)", Role::Meter, Zone::Elsewhere, false},
    {"Barre de niveau gauche", Role::Meter, Zone::Elsewhere, false},
    {"Barre de niveau droite", Role::Meter, Zone::Elsewhere, false},
    {"PARAMS : vos paramètres", Role::Button, Zone::ParamsKnob, true},
    {"MIC GAIN : niveau du microphone", Role::Slider, Zone::MicGainKnob, false},
    {"VOLUME : volume sonore", Role::Slider, Zone::VolumeKnob, false},
    {"Voyant UDP", Role::Lamp, Zone::Elsewhere, false},
    {"Voyant SVC", Role::Lamp, Zone::Elsewhere, false},
    {"Voyant TCP", Role::Lamp, Zone::Elsewhere, false},
    {"Voyant HTTPS", Role::Lamp, Zone::Elsewhere, false},
    {"Voyant TX-RX", Role::Lamp, Zone::Elsewhere, false},
    {"Voyant TST", Role::Lamp, Zone::Elsewhere, false},
    {"Charge du serveur (SERVER LOAD)", Role::Lamp, Zone::Elsewhere, false},
    {"Temps restant (TIME LEFT)", Role::Text, Zone::Elsewhere, false},
    {"NETWORK : voir les correspondants", Role::Button, Zone::Network, true},
    {"Animation : ouvrir l'image partagée", Role::Animation, Zone::Animation, true},
    {"Documentation", Role::Link, Zone::Documentation, true},
    {"Synthétiseur vocal Talvo", Role::Button, Zone::Companion, true},
    {"Concepteur : Équipe Orva-Lin", Role::Button, Zone::Designer, true},
    {"Fermer Orva-Lin", Role::Button, Zone::Quit, true},
};

// The talker card: its name line over its picture area.
constexpr Rect kTalkerCard{9, 318, 342, 602};
// Captions are Arial 14 bold capitals: about 9 pixels a letter.
constexpr int kCaptionLetter = 9;
constexpr int kCaptionHeight = 14;

constexpr int kLampPlace[kLamps] = {3, 4, 5, 1, 2, 0};  // Part order -> kIndicatorPlaces

bool empty(Rect r) { return r.right <= r.left || r.bottom <= r.top; }

int max(int a, int b) { return a > b ? a : b; }
int min(int a, int b) { return a < b ? a : b; }

// An LED or a row of them with its caption below.
Rect withCaption(int x, int y, int right, const char* caption, panel::Point at) {
  const int captionRight = at.x + static_cast<int>(std::strlen(caption)) * kCaptionLetter;
  return {min(x, at.x), y, max(right, captionRight), at.y + kCaptionHeight};
}

// Appends the UTF-8 of a wide text (the channel names are wide).
void appendWide(char (&out)[kTextBytes], const wchar_t* text) {
  std::size_t n = std::strlen(out);
  for (; *text; ++text) {
    const auto c = static_cast<std::uint32_t>(*text);
    char bytes[3];
    std::size_t k = 0;
    if (c < 0x80) {
      bytes[k++] = static_cast<char>(c);
    } else if (c < 0x800) {
      bytes[k++] = static_cast<char>(0xC0 | c >> 6);
      bytes[k++] = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      bytes[k++] = static_cast<char>(0xE0 | c >> 12);
      bytes[k++] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
      bytes[k++] = static_cast<char>(0x80 | (c & 0x3F));
    }
    if (n + k >= kTextBytes) break;
    std::memcpy(out + n, bytes, k);
    n += k;
  }
  out[n] = '\0';
}

int percent(float level) { return static_cast<int>(std::lround((level < 0 ? 0 : level > 1 ? 1 : level) * 100)); }

int needlePercent(std::int32_t angle) {
  if (angle < meter::kNeedleRest || angle > meter::kNeedleMax) return 0;
  const int p = (angle - meter::kNeedleRest) * 100 / (meter::kNeedleMax - 1 - meter::kNeedleRest);
  return p > 100 ? 100 : p;
}

void serverLoadText(std::int32_t pace, char (&out)[kTextBytes]) {
  std::uint32_t leds[panel::kServerLoadLeds];
  panel::serverLoadLeds(pace, leds);
  if (pace == proto::kPaceNoContact) {
    std::snprintf(out, kTextBytes, "aucun contact, %s", lampColour(leds[0]));
    return;
  }
  for (int i = 0; i < panel::kServerLoadLeds; ++i) {
    if (leds[i] != led::kDarkBlue) {
      std::snprintf(out, kTextBytes, "niveau %d sur %d, %s", i + 1, panel::kServerLoadLeds, lampColour(leds[i]));
      return;
    }
  }
  std::snprintf(out, kTextBytes, "inconnue");
}

}  // namespace

Role role(Part p) { return kSpecs[static_cast<int>(p)].role; }
Zone zone(Part p) { return kSpecs[static_cast<int>(p)].zone; }
bool clickable(Part p) { return kSpecs[static_cast<int>(p)].clicks; }

Rect rect(Part p, const PanelView& v) {
  const auto lamp = [](int place) {
    const panel::LampPlace& l = panel::kIndicatorPlaces[place];
    return withCaption(l.ledX, l.ledY, l.ledX + panel::kLedSize, l.label, {l.labelX, l.labelY});
  };
  switch (p) {
    case Part::StatusLine: return input::kStatusLine;
    case Part::Channel: return v.zones.channel;
    case Part::Talker: return kTalkerCard;
    case Part::MeterLeft:
    case Part::MeterRight: {
      const int x = p == Part::MeterLeft ? meter::kMeterLeftX : meter::kMeterRightX;
      return {x, meter::kMeterY, x + meter::kMeterWidth, meter::kMeterY + meter::kMeterHeight};
    }
    case Part::BarLeft:
    case Part::BarRight: {
      const int x = p == Part::BarLeft ? meter::kMeterLeftX : meter::kMeterRightX;
      return {x, meter::kBarTop, x + meter::kBarColumns, meter::kBarBottom};
    }
    case Part::ParamsKnob: return v.zones.paramsKnob;
    case Part::MicGainKnob: return v.zones.micGainKnob;
    case Part::VolumeKnob: return v.zones.volumeKnob;
    case Part::LampUdp:
    case Part::LampSvc:
    case Part::LampTcp:
    case Part::LampHttps:
    case Part::LampTxRx:
    case Part::LampTst:
      return lamp(kLampPlace[static_cast<int>(p) - static_cast<int>(Part::LampUdp)]);
    case Part::ServerLoad: {
      const panel::Point at = panel::kServerLoadAt;
      const int right = at.x + panel::kServerLoadStep * (panel::kServerLoadLeds - 1) + panel::kLedSize;
      return withCaption(at.x, at.y, right, "SERVER LOAD", panel::kServerLoadLabel);
    }
    case Part::TimeLeft: {
      const panel::Point at = panel::kTimeLeftAt;
      return withCaption(at.x, at.y, at.x, "TIME LEFT", panel::kTimeLeftLabel);
    }
    case Part::Network: return v.zones.network;
    case Part::Animation: return v.zones.animation;
    case Part::Documentation: return v.zones.documentation;
    case Part::Companion: return v.zones.companion;
    case Part::Designer: return v.zones.designer;
    case Part::Quit: return v.zones.quit;
    case Part::Count: break;
  }
  return {};
}

unsigned state(Part p, const PanelView& v) {
  unsigned s = 0;
  const Role r = role(p);
  if (r == Role::Text || r == Role::Meter || r == Role::Lamp) s |= kReadOnly;
  if (empty(rect(p, v))) s |= kInvisible;
  if (p >= Part::LampUdp && p <= Part::LampTst) {
    const std::uint32_t code = v.lamps[static_cast<int>(p) - static_cast<int>(Part::LampUdp)];
    if (panel::ledPictureIndex(code) < 0) s |= kInvisible;
    if (code == led::kRed) s |= kAlert;
  }
  if (p == Part::ServerLoad && (v.paceMode == proto::kPaceNoContact || v.paceMode == proto::kPaceMax)) s |= kAlert;
  // Clicks on these do nothing on the welcome channel.
  if ((p == Part::Network || p == Part::Animation) && v.channelPort == proto::kVoicePortBase) s |= kUnavailable;
  return s;
}

void name(Part p, const PanelView& v, char (&out)[kTextBytes]) {
  out[0] = '\0';
  if (const char* fixed = kSpecs[static_cast<int>(p)].name) {
    std::snprintf(out, kTextBytes, "%s", fixed);
    return;
  }
  if (p == Part::Channel) {
    const int channel = channels::indexOfPort(v.channelPort);
    if (channel < 0) {
      std::snprintf(out, kTextBytes, "Canal inconnu");
      return;
    }
    std::snprintf(out, kTextBytes, "Canal %d : ", channel);
    appendWide(out, channels::kNames[channel]);
    return;
  }
  if (p == Part::Talker) {
    if (!v.talkerFirstName[0]) {
      std::snprintf(out, kTextBytes, "Personne ne parle");
    } else if (!v.talkerCity[0]) {
      std::snprintf(out, kTextBytes, "%s", v.talkerFirstName);
    } else {
      std::snprintf(out, kTextBytes, "%s, %s", v.talkerFirstName, v.talkerCity);
    }
  }
}

void value(Part p, const PanelView& v, char (&out)[kTextBytes]) {
  out[0] = '\0';
  switch (p) {
    case Part::StatusLine: std::snprintf(out, kTextBytes, "%s", v.status); break;
    case Part::Channel:
      if (v.channelPeerCount < 0)
        std::snprintf(out, kTextBytes, "nombre de membres inconnu");
      else
        std::snprintf(out, kTextBytes, "%d %s", static_cast<int>(v.channelPeerCount),
                      v.channelPeerCount > 1 ? "membres" : "membre");
      break;
    case Part::Talker: std::snprintf(out, kTextBytes, "%s", v.talkerPhrase); break;
    case Part::MeterLeft: std::snprintf(out, kTextBytes, "%d %%", needlePercent(v.levelLeft)); break;
    case Part::MeterRight: std::snprintf(out, kTextBytes, "%d %%", needlePercent(v.levelRight)); break;
    case Part::BarLeft:
    case Part::BarRight: {
      const int lit = meter::barLitColumns(p == Part::BarLeft ? v.levelLeftRaw : v.levelRightRaw);
      std::snprintf(out, kTextBytes, "%d %%", lit * 100 / meter::kBarColumns);
      break;
    }
    case Part::MicGainKnob: std::snprintf(out, kTextBytes, "%d %%", percent(v.micLevel)); break;
    case Part::VolumeKnob: std::snprintf(out, kTextBytes, "%d %%", percent(v.volumeLevel)); break;
    case Part::LampUdp:
    case Part::LampSvc:
    case Part::LampTcp:
    case Part::LampHttps:
    case Part::LampTxRx:
    case Part::LampTst:
      std::snprintf(out, kTextBytes, "%s", lampColour(v.lamps[static_cast<int>(p) - static_cast<int>(Part::LampUdp)]));
      break;
    case Part::ServerLoad: serverLoadText(v.paceMode, out); break;
    case Part::TimeLeft: {
      char time[panel::kTimeTextBytes];
      panel::formatTimeLeft(v.inactivitySeconds, time);
      std::snprintf(out, kTextBytes, "%s", time);
      break;
    }
    default: break;
  }
}

std::string_view description(Part p) {
  const Zone z = zone(p);
  if (z == Zone::Elsewhere || z == Zone::Quit) return {};
  return input::helpText(z);
}

bool clickPoint(Part p, const PanelView& v, int& x, int& y) {
  const Rect r = rect(p, v);
  if (!clickable(p) || empty(r) || (state(p, v) & kUnavailable)) return false;
  x = r.left + (r.right - r.left) / 2;
  y = r.top + (r.bottom - r.top) / 2;
  return true;
}

Part partAt(const PanelView& v, int x, int y) {
  for (int i = 0; i < kPartCount; ++i) {
    const Part p = static_cast<Part>(i);
    if (input::contains(rect(p, v), x, y)) return p;
  }
  return Part::Count;
}

const char* lampColour(std::uint32_t code) {
  switch (code) {
    case led::kRed: return "rouge";
    case led::kDarkRed: return "rouge foncé";
    case led::kGreen: return "vert";
    case led::kYellow: return "jaune";
    case led::kBlue: return "bleu";
    case led::kDarkBlue: return "bleu foncé";
    default: return "éteint";
  }
}

}  // namespace a11y
