// Socket and worker of the link with Talvo.
#pragma once

#include <windows.h>

#include <cstdint>

// Opens the link socket on 127.0.0.1 (port chosen by the system) and sends
// the greeting; on any failure the link stays closed and sends are lost.
void openCompanionLink();

// Sends one datagram to Talvo on 127.0.0.1:5555; nothing when the length
// does not fit a signed 32-bit count. The result of the send, or 0.
int sendToCompanion(std::uint64_t length, const char* bytes);

DWORD WINAPI CompanionReceiveThread(void*);
