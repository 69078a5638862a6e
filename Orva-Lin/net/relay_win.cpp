#include "Orva-Lin/net/relay.h"

#include "Orva-Lin/shared_state.h"

// The "TCP" lamp breathes blue / dark blue, five seconds each.
DWORD WINAPI LedBlinker(void*) {
  for (;;) {
    Sleep(5000);
    serverLedPhase.store(led::kBlue, std::memory_order_relaxed);
    Sleep(5000);
    serverLedPhase.store(led::kDarkBlue, std::memory_order_relaxed);
  }
}

// The voice network is not part of this build yet: no socket is opened and
// the workers idle, so the panel shows a client without a server.
int setUpRelaySockets() { return 0; }

DWORD WINAPI SendLoop(void*) {
  for (;;) Sleep(INFINITE);
}
DWORD WINAPI VoiceReceiveThread(void*) {
  for (;;) Sleep(INFINITE);
}
DWORD WINAPI SupervisorLoop(void*) {
  for (;;) Sleep(INFINITE);
}
