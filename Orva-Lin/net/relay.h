// The relay sockets and the network workers.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>

// Opens the voice and supervisor sockets and greets the relay; 0, or -1 when
// the socket library cannot be started. The workers start in every case.
int setUpRelaySockets();

// One captured 1000-byte block to the relay on the current channel, then
// the microphone meters and the transmit ring. Audio thread only.
void sendVoiceBlock(const std::uint8_t* pcm);

DWORD WINAPI LedBlinker(void*);
DWORD WINAPI SendLoop(void*);
DWORD WINAPI VoiceReceiveThread(void*);
DWORD WINAPI SupervisorLoop(void*);
