// Drawing helpers shared by the panel pieces and the child windows. Each
// takes its own device context and does nothing when it or the picture is
// missing; every font, pen and brush is made and freed within the call.
#pragma once

#include <windows.h>

#include "common/win32_guards.h"

// Arial, bold, TrueType output precision: the face of every panel text.
win::Font panelFont(int height);

// White 8-bit (Windows-1252) text at (x, y) on the given background,
// Arial 14 bold.
void drawLabel(HDC dc, const char* text, int x, int y, COLORREF background);

// A bitmap loaded from a file of the program folder, at its own size.
win::Bitmap loadPictureFile(const wchar_t* name);

// Windows-1252 is the code page of every 8-bit text this client makes, so
// it is named rather than left to the machine's ANSI code page.
inline constexpr UINT kTextCodePage = 1252;
