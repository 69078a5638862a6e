// The shared-picture board window.
#pragma once

#include <windows.h>

#include <atomic>

extern std::atomic<bool> shareWindowOpen;
LRESULT CALLBACK shareCanvasProc(HWND, UINT, WPARAM, LPARAM);
