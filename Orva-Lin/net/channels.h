// The eleven group channels: relay port 30000 + index, and the name the main
// panel and the group list show for each.
#pragma once

#include <cstdint>

#include "common/protocol.h"

namespace channels {

inline constexpr const wchar_t* kNames[proto::kChannelCount] = {
    L"Bienvenue",          L"Accueil Général",   L"Place du village",   L"Zone Technologie",
    L"Les Ondes Radio",    L"Au café de la gare", L"Evasion et camping", L"La bonne ambiance",
    L"Entre copines",      L"Musique en stéréo", L"Tests divers",
};

// Channel index of a relay port, or -1 outside 30000..30010.
constexpr int indexOfPort(std::int32_t port) {
  const std::int32_t i = port - proto::kVoicePortBase;
  return (i >= 0 && i < proto::kChannelCount) ? static_cast<int>(i) : -1;
}

// The name shown for a port; empty outside the table.
constexpr const wchar_t* nameOfPort(std::int32_t port) {
  const int i = indexOfPort(port);
  return i < 0 ? L"" : kNames[i];
}

}  // namespace channels
