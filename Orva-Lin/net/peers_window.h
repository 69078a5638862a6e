// The peers window: the faces of the members on the current channel.
#pragma once

#include <windows.h>

// Nothing on channel 0; otherwise opens the window, or asks an open one to
// close.
void togglePeersWindow();
LRESULT CALLBACK peersWindowProc(HWND, UINT, WPARAM, LPARAM);
