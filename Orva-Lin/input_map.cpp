#include "Orva-Lin/input_map.h"

#include <cmath>

namespace input {

namespace {

struct Entry {
  Zone zone;
  Rect Zones::*rect;
};

// Orders in which overlapping zones are tried.
constexpr Entry kHoverOrder[] = {
    {Zone::Network, &Zones::network},     {Zone::Channel, &Zones::channel},
    {Zone::Documentation, &Zones::documentation}, {Zone::Animation, &Zones::animation},
    {Zone::Designer, &Zones::designer},   {Zone::Companion, &Zones::companion},
    {Zone::Drag, &Zones::drag},
};
constexpr Entry kRightClickOrder[] = {
    {Zone::Network, &Zones::network},     {Zone::Channel, &Zones::channel},
    {Zone::Documentation, &Zones::documentation}, {Zone::Animation, &Zones::animation},
    {Zone::Designer, &Zones::designer},   {Zone::VolumeKnob, &Zones::volumeKnob},
    {Zone::MicGainKnob, &Zones::micGainKnob}, {Zone::ParamsKnob, &Zones::paramsKnob},
    {Zone::Companion, &Zones::companion},
};
constexpr Entry kLeftClickOrder[] = {
    {Zone::VolumeKnob, &Zones::volumeKnob}, {Zone::MicGainKnob, &Zones::micGainKnob},
    {Zone::ParamsKnob, &Zones::paramsKnob}, {Zone::Network, &Zones::network},
    {Zone::Channel, &Zones::channel},       {Zone::Documentation, &Zones::documentation},
    {Zone::Animation, &Zones::animation},   {Zone::Companion, &Zones::companion},
    {Zone::Designer, &Zones::designer},     {Zone::Quit, &Zones::quit},
};

bool isKnob(Zone z) { return z == Zone::VolumeKnob || z == Zone::MicGainKnob || z == Zone::ParamsKnob; }

template <std::size_t N>
Zone firstMatch(const Entry (&order)[N], const Zones& z, int x, int y, int knobGrow) {
  for (const Entry& e : order) {
    const Rect r = isKnob(e.zone) ? grow(z.*e.rect, knobGrow) : z.*e.rect;
    if (contains(r, x, y)) return e.zone;
  }
  return Zone::Elsewhere;
}

}  // namespace

Zone hoverZone(const Zones& z, int x, int y) { return firstMatch(kHoverOrder, z, x, y, 0); }
Zone leftClickZone(const Zones& z, int x, int y) { return firstMatch(kLeftClickOrder, z, x, y, kKnobGrow); }
Zone rightClickZone(const Zones& z, int x, int y) { return firstMatch(kRightClickOrder, z, x, y, 0); }

std::string_view helpText(Zone zone) {
  switch (zone) {
    case Zone::Network: return kTextNetwork.view();
    case Zone::Channel: return kTextChannel.view();
    case Zone::Documentation: return kTextDocumentation.view();
    case Zone::Animation: return kTextAnimation.view();
    case Zone::Designer: return kTextDesigner.view();
    case Zone::Companion: return kTextCompanion.view();
    case Zone::VolumeKnob: return kTextVolume.view();
    case Zone::MicGainKnob: return kTextMicGain.view();
    case Zone::ParamsKnob: return kTextParams.view();
    case Zone::Drag: return kTextDrag.view();
    case Zone::Quit:
    case Zone::Elsewhere: break;
  }
  return kTextWelcome.view();
}

RightClick rightClick(const Zones& z, int x, int y) {
  const Zone zone = rightClickZone(z, x, y);
  switch (zone) {
    case Zone::Companion: return {helpText(zone), {}};
    case Zone::Elsewhere: return {kTextWelcome.view(), kTextNothingHere.view()};
    default: return {helpText(zone), helpText(zone)};
  }
}

double knobAngle(Rect knob, int x, int y) {
  const int dx = x - (knob.left + (knob.right - knob.left) / 2);
  const int dy = y - (knob.top + (knob.bottom - knob.top) / 2);
  double angle = std::atan2(static_cast<double>(dy), static_cast<double>(dx)) * 57.29577951308232;
  if (angle < 0) angle += 360;
  angle -= 90;
  if (angle < 0) angle += 360;
  return angle;
}

float knobLevel(double angle) { return static_cast<float>((angle < 300 ? angle : 300) / 300); }

Key keyFor(unsigned vk) {
  constexpr unsigned kEscape = 27, kSpace = 32, kDigit0 = 48, kDigit9 = 57;
  constexpr unsigned kPad0 = 96, kPad9 = 105, kPadPlus = 107, kF1 = 112;
  if (vk == kEscape) return {KeyAction::Quit, 0};
  if (vk == kSpace) return {KeyAction::Talk, 0};
  if (vk >= kDigit0 && vk <= kDigit9) return {KeyAction::Channel, static_cast<int>(vk - kDigit0)};
  if (vk >= kPad0 && vk <= kPad9) return {KeyAction::Channel, static_cast<int>(vk - kPad0)};
  if (vk == kPadPlus) return {KeyAction::Channel, 10};
  if (vk == kF1) return {KeyAction::About, 0};
  return {KeyAction::Inactive, 0};
}

}  // namespace input
