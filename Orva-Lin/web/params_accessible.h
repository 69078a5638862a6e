// The parameters window as a screen reader sees it: the two devices, the
// member's own profile and the colour swatch, where the window draws them.
#pragma once

#include <windows.h>

LRESULT answerParamsObject(HWND w, WPARAM wp, LPARAM lp);
