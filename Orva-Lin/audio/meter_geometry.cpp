#include "Orva-Lin/audio/meter_geometry.h"

#include <cmath>

namespace meter {

Point needleEnd(std::int32_t level, int faceWidth, int faceHeight) {
  const double degrees = (level >= kNeedleRest && level <= kNeedleMax) ? level : kNeedleRest;
  const double theta = degrees * 3.14159265358979323846 / 180.0;
  return {faceWidth / 2 + static_cast<int>(kNeedleLength * std::cos(theta)),
          faceHeight + static_cast<int>(kNeedleLength * std::sin(theta))};
}

int barLitColumns(std::int32_t raw) {
  const std::int32_t lit = raw / kRawPerColumn;
  if (lit < 0) return 0;
  return lit > kBarColumns ? kBarColumns : static_cast<int>(lit);
}

Rgb barColumnColour(int column, int lit) {
  if (column >= lit) return {255, 255, 255};
  const float x = static_cast<float>(column) / kBarColumns;
  if (x < 0.7f) return {static_cast<std::uint8_t>(static_cast<int>(x / 0.7f * 255)), 255, 0};
  if (x < 0.9f) return {255, static_cast<std::uint8_t>(255 - static_cast<int>((x - 0.7f) / 0.2f * 255)), 0};
  return {255, 0, 0};
}

}  // namespace meter
