// Process-wide state shared between the user-interface thread and the
// workers. Each value is one aligned word written whole; readers accept a
// value one update old, so relaxed ordering is enough. transmitFlag is the
// exception: it lives behind transmitLock (transmit.h).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "Orva-Lin/config.h"
#include "common/protocol.h"

namespace led {
inline constexpr std::uint32_t kRed = 1;
inline constexpr std::uint32_t kDarkRed = 2;
inline constexpr std::uint32_t kGreen = 3;
inline constexpr std::uint32_t kYellow = 4;
inline constexpr std::uint32_t kBlue = 5;
inline constexpr std::uint32_t kDarkBlue = 6;
}  // namespace led

inline constexpr std::size_t kNetworkLedCount = 16;
inline constexpr std::size_t kStatusTextBytes = 200;
inline constexpr int kInactivityStartSeconds = 4500;

extern std::atomic<std::uint32_t> panelBackground;  // COLORREF
extern std::atomic<std::int32_t> channelPort;
extern std::atomic<std::int32_t> channelPeerCount;
extern std::atomic<std::int32_t> sendPaceMode;
extern std::atomic<std::int32_t> inactivitySeconds;
extern std::atomic<std::uint16_t> accountNumber;
extern std::atomic<std::int32_t> talkerNumber;
extern std::atomic<std::int32_t> captureState;  // 1 running, 0 asked to stop, 99 ended
inline constexpr std::int32_t kCaptureEnded = 99;
extern std::atomic<bool> panelReady;
extern std::atomic<bool> paintedSinceFetch;

// LED codes drawn by the panel.
extern std::atomic<std::uint32_t> serverLedPhase;
extern std::atomic<std::uint32_t> packetLed;
extern std::atomic<std::uint32_t> httpsLedState;
extern std::atomic<std::uint32_t> txRxLedState;
extern std::atomic<std::uint32_t> voiceLinkLed;
extern std::atomic<std::uint32_t> supervisorLed;
extern std::atomic<std::int32_t> networkLedStates[kNetworkLedCount];

// Written and read on the user-interface thread only.
extern char statusText[kStatusTextBytes];
extern float savedCaptureLevel;

// The relay's address (host order) and this installation's identifier,
// fixed before any worker starts.
extern std::uint32_t relayAddress;
extern char clientIdentifier[17];
extern config::WebHost webHost;

inline std::int32_t relaxed(const std::atomic<std::int32_t>& v) { return v.load(std::memory_order_relaxed); }
inline std::uint32_t relaxed(const std::atomic<std::uint32_t>& v) { return v.load(std::memory_order_relaxed); }
