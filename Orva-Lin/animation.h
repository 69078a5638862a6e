// The looping picture in the animation zone, and the blur that softens a
// piece of the panel before text goes over it.
#pragma once

#include <windows.h>

#include <cstdint>

// Decodes "electron-animation.gif" once and starts window timer 4.
void startAnimation();
// Draws the next prepared frame; any kind other than 1 draws nothing.
void drawNextAnimationFrame(std::uint32_t kind);
// Copies `area` of the main window, blurs it (5 by 5 box on red and blue,
// green fixed at 127, a two-pixel border kept) and draws it on `target` at
// the area's top-left corner.
void blurPanelRegion(HDC target, const RECT& area);
