// The windows of the web services: the shared-picture board and the
// member's parameters.
#pragma once

#include <windows.h>

#include <atomic>

extern std::atomic<bool> shareWindowOpen;
LRESULT CALLBACK shareCanvasProc(HWND, UINT, WPARAM, LPARAM);

void openParametersWindow();
