// The looping picture in the animation zone.
#pragma once

#include <cstdint>

// Decodes "electron-animation.gif" once and starts window timer 4.
void startAnimation();
// Draws the next prepared frame; any kind other than 1 draws nothing.
void drawNextAnimationFrame(std::uint32_t kind);
