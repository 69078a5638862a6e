// The half-duplex audio worker: playback runs while listening, capture runs
// while transmitting.
#pragma once

#include <windows.h>

DWORD WINAPI AudioThread(void*);
