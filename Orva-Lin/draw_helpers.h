// Drawing helpers shared by the panel pieces and the child windows. Each
// takes its own device context and does nothing when it or the picture is
// missing; the label font is made once and kept, anything else a call makes
// it frees.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>

#include "Orva-Lin/led_container.h"
#include "Orva-Lin/text_decode.h"
#include "common/win32_guards.h"

// Arial, bold, TrueType output precision: the face of every panel text.
win::Font panelFont(int height);

// White 8-bit (Windows-1252) text at (x, y) on the given background,
// Arial 14 bold.
void drawLabel(HDC dc, const char* text, int x, int y, COLORREF background);

// drawLabel as a panel label looks after many redraws. Antialiasing puts
// the edge of some glyphs (the bar of a final 'T') one pixel past the box
// that the opaque background covers; that pixel blends again on every draw
// and only turns solid after several. A label that used to be redrawn on
// every tick and is now drawn once is drawn until it is settled.
void drawSettledLabel(HDC dc, const char* text, int x, int y, COLORREF background);

// UTF-8 text at (x, y), transparent background, Arial 20 bold.
void drawUtf8Text(HDC dc, const char* utf8, int x, int y, COLORREF colour);

// The bitmap at its own size, black (0) transparent.
void drawPicture(HDC dc, HBITMAP picture, int x, int y);

// The whole bitmap scaled to width by height with halftone stretching, then
// copied opaquely to (x, y).
void drawPictureScaled(HDC dc, HBITMAP picture, int x, int y, int width, int height);

// Icon number `index` of an executable, 64 by 64 on a menu-coloured square
// at (50, y) of the window. False, with nothing drawn, when it has none.
bool drawFileIcon(HWND window, int index, const wchar_t* path, int y);

// A bitmap loaded from a file of the program folder, at its own size.
win::Bitmap loadPictureFile(const wchar_t* name);

// The LED picture container as read from disk, with its checked directory.
struct OpenContainer {
  std::span<const std::uint8_t> bytes;
  leds::Directory directory;
};
// A screen-compatible bitmap of the first entry named exactly `name`; none
// when there is no such entry or its bytes do not hold a whole BMP.
win::Bitmap loadContainerPicture(const OpenContainer& container, const char* name);

// Windows-1252 is the code page of every 8-bit text this client makes, so
// it is named rather than left to the machine's ANSI code page.
inline constexpr UINT kTextCodePage = 1252;
