#include "Orva-Lin/shared_state.h"

std::atomic<std::uint32_t> panelBackground{0};
std::atomic<std::int32_t> channelPort{proto::kVoicePortBase};
std::atomic<std::int32_t> channelPeerCount{-1};
std::atomic<std::int32_t> sendPaceMode{proto::kPaceNoContact};
std::atomic<std::int32_t> inactivitySeconds{kInactivityStartSeconds};
std::atomic<std::uint16_t> accountNumber{0};
std::atomic<std::int32_t> talkerNumber{0};
// 1 from the start: a shutdown that comes before the audio thread has run
// must not be undone by the thread's start.
std::atomic<std::int32_t> captureState{1};
std::atomic<bool> panelReady{false};
std::atomic<bool> paintedSinceFetch{false};

std::atomic<std::uint32_t> serverLedPhase{led::kBlue};
std::atomic<std::uint32_t> packetLed{led::kBlue};
std::atomic<std::uint32_t> httpsLedState{led::kBlue};
std::atomic<std::uint32_t> txRxLedState{led::kBlue};
std::atomic<std::uint32_t> voiceLinkLed{led::kBlue};
std::atomic<std::uint32_t> supervisorLed{led::kBlue};
std::atomic<std::int32_t> networkLedStates[kNetworkLedCount]{};

char statusText[kStatusTextBytes] = {};
float savedCaptureLevel = 0.0f;

std::uint32_t relayAddress = 0x7F000001;
char clientIdentifier[17] = {};
config::WebHost webHost{};
