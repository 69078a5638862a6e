// The two needle meters (child windows of the main window) and the LED bars
// under them.
#pragma once

#include <windows.h>

// Registers "VuMeterLeftClass" and "VuMeterRightClass", creates both meter
// windows with their pictures and 50-ms timers, and sets the bar rectangles.
void createLevelMeters(HINSTANCE instance, HWND parent);

LRESULT CALLBACK leftMeterProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK rightMeterProc(HWND, UINT, WPARAM, LPARAM);
