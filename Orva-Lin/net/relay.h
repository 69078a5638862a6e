// The relay sockets and the network workers.
#pragma once

#include <windows.h>

// Opens the voice and supervisor sockets and greets the relay; 0, or -1 when
// the socket library cannot be started. The workers start in every case.
int setUpRelaySockets();

DWORD WINAPI LedBlinker(void*);
DWORD WINAPI SendLoop(void*);
DWORD WINAPI VoiceReceiveThread(void*);
DWORD WINAPI SupervisorLoop(void*);
