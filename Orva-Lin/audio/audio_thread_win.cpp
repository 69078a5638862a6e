#include "Orva-Lin/audio/audio_thread.h"

#include "Orva-Lin/shared_state.h"

// Playback and capture are not part of this build yet: the thread keeps the
// captureState handshake (1 while it runs, 99 once it has ended) so shutdown
// already behaves as it will with sound.
DWORD WINAPI AudioThread(void*) {
  captureState.store(1);
  while (captureState.load() == 1) Sleep(50);
  captureState.store(99);
  return 0;
}
