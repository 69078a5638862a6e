// "Orva-Lin Input device": fifteen radio buttons, one per entry of the input
// device table; a click chooses the capture device for the next transmission.
#pragma once

#include <windows.h>

// Opens the window and rebuilds the table, or asks an open window to close.
// 1, or 0 when the window cannot be created. `parametersWindow` (may be
// null) is repainted when the window closes, to show the new choice.
int openInputDeviceWindow(HWND parametersWindow);

LRESULT CALLBACK inputDeviceWindowProc(HWND, UINT, WPARAM, LPARAM);
