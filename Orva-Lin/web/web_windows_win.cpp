#include "Orva-Lin/web/web_windows.h"

std::atomic<bool> shareWindowOpen{false};

// The board shows no picture yet; the window opens and closes as it will.
LRESULT CALLBACK shareCanvasProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DESTROY) {
    shareWindowOpen.store(false);
    return 0;
  }
  return DefWindowProcW(w, msg, wp, lp);
}
