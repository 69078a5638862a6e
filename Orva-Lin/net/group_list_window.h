// The group list: a row of faces for each of channels 1 to 10.
#pragma once

#include <windows.h>

// Opens the window, or asks an open one to close.
void toggleGroupList();
LRESULT CALLBACK groupListProc(HWND, UINT, WPARAM, LPARAM);
