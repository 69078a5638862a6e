#include "Orva-Lin/panel_geometry.h"

#include <cmath>
#include <cstdio>

#include "Orva-Lin/shared_state.h"
#include "common/protocol.h"

namespace panel {

namespace {
constexpr float kTwoPi = 6.2831855f;
constexpr float kRingStep = 0.3926991f;
}  // namespace

Point ringLedPosition(int k) {
  float h = kTwoPi;
  for (int i = 0; i < k; ++i) h -= kRingStep;
  return {kRingCentre.x + static_cast<int>(kRingRadius * std::sin(h)),
          kRingCentre.y + static_cast<int>(kRingRadius * std::cos(h))};
}

int knobTickOffsets(KnobTicks ticks, Point (&out)[kMaxTicks]) {
  float h = kTwoPi;
  int n = 0;
  for (int g = 0; n < kMaxTicks; ++g) {
    out[n++] = {static_cast<int>(kTickRadius * std::sin(h)), static_cast<int>(kTickRadius * std::cos(h))};
    if (g >= 1 && g > ticks.limit) break;
    h -= ticks.step;
    if (!(h > 0)) break;
  }
  return n;
}

void serverLoadLeds(std::int32_t paceMode, std::uint32_t (&out)[kServerLoadLeds]) {
  for (std::uint32_t& led : out) led = led::kDarkBlue;
  switch (paceMode) {
    case 0: out[0] = led::kGreen; break;
    case 1: out[1] = led::kGreen; break;
    case 2: out[2] = led::kGreen; break;
    case 3: out[3] = led::kYellow; break;
    case proto::kPaceMax: out[4] = led::kRed; break;
    case proto::kPaceNoContact:
      for (std::uint32_t& led : out) led = led::kRed;
      break;
    default: break;
  }
}

int ledPictureIndex(std::uint32_t code) {
  switch (code) {
    case led::kRed: return 0;
    case led::kDarkRed: return 1;
    case led::kGreen: return 2;
    case led::kYellow: return 3;
    case led::kBlue: return 4;
    case led::kDarkBlue: return 5;
    default: return -1;
  }
}

Countdown countDown(std::int32_t seconds) {
  if (seconds <= 0) return {0, true};
  return {seconds - 1, false};
}

void formatTimeLeft(std::int32_t seconds, char (&out)[kTimeTextBytes]) {
  std::snprintf(out, kTimeTextBytes, "%02d:%02d:%02d", static_cast<int>(seconds / 3600),
                static_cast<int>(seconds % 3600 / 60), static_cast<int>(seconds % 60));
}

}  // namespace panel
