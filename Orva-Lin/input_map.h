// What the main window's mouse and keys mean: its zones, their help texts,
// the knob angle and the key map. Pure functions; the window procedure calls
// them with the zones it has set so far.
#pragma once

#include <cstdint>
#include <string_view>

#include "common/ansi_text.h"

namespace input {

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
};
// Half-open: left <= x < right and top <= y < bottom. An empty rectangle
// (a zone never set) matches no point.
constexpr bool contains(Rect r, int x, int y) {
  return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}
constexpr Rect grow(Rect r, int by) {
  if (r.right <= r.left || r.bottom <= r.top) return r;  // never set stays empty
  return {r.left - by, r.top - by, r.right + by, r.bottom + by};
}

enum class Zone {
  Network, Channel, Documentation, Animation, Designer, Companion,
  VolumeKnob, MicGainKnob, ParamsKnob, Drag, Quit, Elsewhere,
};

struct Zones {
  Rect drag, designer, quit, animation, documentation, companion, channel, network;
  Rect paramsKnob, micGainKnob, volumeKnob;
};

// Fixed geometry of the 550 by 650 panel.
inline constexpr int kWindowWidth = 550;
inline constexpr int kWindowHeight = 650;
inline constexpr Rect kDragZone{50, 0, 500, 100};
inline constexpr Rect kQuitZone{510, 10, 540, 40};
inline constexpr Rect kAnimationZone{350, 450, 500, 600};
inline constexpr Rect kDocumentationZone{315, 610, 345, 640};
inline constexpr Rect kCompanionZone{15, 8, 47, 40};
inline constexpr Rect kChannelZone{10, 80, 190, 190};
inline constexpr Rect kStatusLine{10, 45, 540, 65};
inline constexpr int kKnobGrow = 14;
constexpr Rect designerZoneFor(int clientWidth, int clientHeight) {
  return {clientWidth - 160, clientHeight - 40, clientWidth - 15, clientHeight};
}

Zone hoverZone(const Zones& z, int x, int y);
Zone leftClickZone(const Zones& z, int x, int y);   // knobs grown by kKnobGrow
Zone rightClickZone(const Zones& z, int x, int y);  // knobs as drawn

// Help texts in Windows-1252, as shown on the status line and sent to Talvo.
inline constexpr auto kTextNetwork = ansi::text("Cliquez sur NETWORK pour voir les correspondants");
inline constexpr auto kTextChannel = ansi::text("Cliquez dans ce cadre pour voir tous les groupes");
inline constexpr auto kTextDocumentation = ansi::text("Cliquez sur cette icon pour ouvrir la documentation");
inline constexpr auto kTextAnimation = ansi::text("Cliquez sur cette animation pour ouvrir l'image partagée");
inline constexpr auto kTextDesigner = ansi::text("Cliquez ici pour plus d'information sur le concepteur");
inline constexpr auto kTextCompanion = ansi::text("Cliquez ici pour activer le synthétiseur vocal");
inline constexpr auto kTextVolume = ansi::text("Cliquez autour de ce bouton pour régler le volume sonore");
inline constexpr auto kTextMicGain =
    ansi::text("Cliquez autour de ce bouton pour régler le niveau d'entrée du microphone");
inline constexpr auto kTextParams = ansi::text("Cliquez sur ce bouton pour accéder à vos paramètres de réglage");
inline constexpr auto kTextDrag = ansi::text("Cliquez ici pour déplacer la fenêtre Orva-Lin");
inline constexpr auto kTextWelcome = ansi::text("Bienvenue sur le réseau Orva-Lin de téléphonie de loisir");
inline constexpr auto kTextNothingHere = ansi::text("Il n'y a rien de spécial ici");
inline constexpr auto kTextGreeting = ansi::text("Bonjour. Le synthétiseur est actif. Sur la clé droite de la souris");

// The help text for a zone (hover and right click show the same one).
std::string_view helpText(Zone zone);

// What a right click does: the status text to show, and the bytes to send to
// the companion (empty: nothing is sent).
struct RightClick {
  std::string_view status;
  std::string_view spoken;
};
RightClick rightClick(const Zones& z, int x, int y);

// Knob angle in degrees for a click at (x, y) in the (grown) knob rectangle:
// 0 straight below the centre, clockwise on the screen through 90 (left),
// 180 (above), 270 (right). The level is min(angle, 300) / 300.
double knobAngle(Rect knob, int x, int y);
float knobLevel(double angle);

enum class KeyAction { Quit, Talk, Channel, About, Inactive };
struct Key {
  KeyAction action;
  int channel;  // 0..10 for KeyAction::Channel
};
// Meaning of a virtual-key code on key down (Talk also on key up).
Key keyFor(unsigned virtualKey);

}  // namespace input
