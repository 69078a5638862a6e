// The main window: a 550 by 650 painted panel with no controls, divided into
// zones that the mouse acts on.
#pragma once

#include <windows.h>

#include "Orva-Lin/input_map.h"

extern input::Zones mainZones;
extern bool quitZoneReady;
extern HINSTANCE appInstance;

LRESULT CALLBACK mainWindowProc(HWND, UINT, WPARAM, LPARAM);
void aboutBox();

// Status line timer: redraws statusText.
void CALLBACK statusLineTick(HWND, UINT, UINT_PTR, DWORD);

// "https://host[:port]" + path, as a wide text for the shell.
void webPageAddress(const wchar_t* path, wchar_t* out, int outChars);
