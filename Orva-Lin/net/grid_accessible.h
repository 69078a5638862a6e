// The group list and the peers window as a screen reader sees them: each
// cell of their grids is a member, named by number, where the window draws
// its picture.
#pragma once

#include <windows.h>

#include <cstdint>

// The windows tell, as they draw, which member took each cell: a member
// whose picture the host lacks gives up its cell, so only the drawing knows
// where each face went. UI thread only.
void noteGroupRow(int row, const std::int32_t* members, int count);
void notePeerCells(const std::int32_t* members, int count);

LRESULT answerGroupListObject(HWND w, WPARAM wp, LPARAM lp);
LRESULT answerPeersObject(HWND w, WPARAM wp, LPARAM lp);
