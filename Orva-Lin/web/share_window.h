// The share window: the current channel's shared picture, with "Actualiser"
// and "Envoyer" in its menu.
#pragma once

#include <windows.h>

// Nothing on channel 0; otherwise opens the window, or asks an open one to
// close.
void toggleShareWindow();
LRESULT CALLBACK shareCanvasProc(HWND, UINT, WPARAM, LPARAM);
