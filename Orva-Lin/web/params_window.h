// "Orva-Lin Params": the member's devices, profile and panel colour; a
// click on the colour swatch picks a new colour and stores it on the host.
#pragma once

#include <windows.h>

// Opens the window (it unfolds from the main window's left edge), or asks an
// open one to close. 1, or 0 when the window could not be created.
int toggleParamsWindow();

LRESULT CALLBACK paramsWindowProc(HWND, UINT, WPARAM, LPARAM);
