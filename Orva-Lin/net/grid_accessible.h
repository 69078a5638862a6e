// The group list and the peers window as a screen reader sees them: each
// cell of their grids is a member, named by number, where the window draws
// its picture.
#pragma once

#include <windows.h>

LRESULT answerGroupListObject(HWND w, WPARAM wp, LPARAM lp);
LRESULT answerPeersObject(HWND w, WPARAM wp, LPARAM lp);
