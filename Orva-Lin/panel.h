// The pieces of the main panel, each redrawn straight onto the main window by
// its own timer, and the pictures they draw.
#pragma once

#include <windows.h>

#include "common/win32_guards.h"

extern HWND mainWindow;

// Pictures loaded by start-up from the program folder.
extern win::Bitmap arrowPicture;    // "btn-fleche.bmp"
extern win::Bitmap docPicture;      // "doc_img.bmp"
extern win::Bitmap synthePicture;   // "synthe_1.bmp"
extern win::Bitmap channelPictures[11];  // "0.bmp" .. "10.bmp"

// Paints of the main window and of its meter windows so far. A paint may
// have drawn over any piece (the main window's paint fills the whole face),
// so a piece that sees this move redraws whole; otherwise each piece
// redraws only what changed since it last drew, which leaves the same
// pixels as a full redraw and costs nothing while the panel is still.
extern unsigned panelPaints;

void drawTitle();
void drawQuitCross(bool highlighted);

// Loads "mini_leds.bmf", sets the initial LED states and the NETWORK zone.
void loadLedPictures();

// Thread-timer procedures (no window).
void CALLBACK channelPanelTick(HWND, UINT, UINT_PTR, DWORD);
void CALLBACK networkPanelTick(HWND, UINT, UINT_PTR, DWORD);
void CALLBACK knobPanelTick(HWND, UINT, UINT_PTR, DWORD);
void CALLBACK serverPanelTick(HWND, UINT, UINT_PTR, DWORD);
void CALLBACK timeLeftTick(HWND, UINT, UINT_PTR, DWORD);

// Where the time left is drawn; set by start-up once the account is known.
extern RECT timeLeftRect;
