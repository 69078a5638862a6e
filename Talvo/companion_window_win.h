// Talvo's one window: the editor, "Effacer", "Envoyer", "Ecouter", and the
// client's address as last seen.
#pragma once

#include <windows.h>

// Registers the class and creates the window with its font and controls.
// Null when the program must end; exitCode then says with which code (a
// font failure has shown its message by then).
HWND openCompanionWindow(HINSTANCE instance, int& exitCode);

LRESULT CALLBACK CompanionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
