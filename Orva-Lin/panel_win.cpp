#include "Orva-Lin/panel.h"

#include "Orva-Lin/draw_helpers.h"
#include "Orva-Lin/input_map.h"
#include "Orva-Lin/main_window.h"
#include "Orva-Lin/shared_state.h"

HWND mainWindow = nullptr;
win::Bitmap arrowPicture;
win::Bitmap docPicture;
win::Bitmap synthePicture;
win::Bitmap channelPictures[11];
RECT timeLeftRect{};

void drawTitle() {
  win::WindowDc dc(mainWindow);
  if (!mainWindow || !dc) return;
  win::Font font = panelFont(30);
  if (!font) return;
  win::Selection useFont(dc.get(), font.get());
  SetTextColor(dc.get(), RGB(255, 255, 0));
  SetBkColor(dc.get(), panelBackground.load(std::memory_order_relaxed));
  SetBkMode(dc.get(), OPAQUE);
  RECT r{125, 15, 425, 35};
  DrawTextW(dc.get(), L"ORVA-LIN", -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

void drawQuitCross(bool highlighted) {
  if (!quitZoneReady) return;
  win::WindowDc dc(mainWindow);
  if (!mainWindow || !dc) return;
  win::Pen pen(CreatePen(PS_SOLID, 4, highlighted ? RGB(255, 255, 0) : RGB(255, 0, 0)));
  if (!pen) return;
  win::Selection usePen(dc.get(), pen.get());
  const input::Rect q = mainZones.quit;
  MoveToEx(dc.get(), q.left + 10, q.top + 10, nullptr);
  LineTo(dc.get(), q.left + 20, q.top + 20);
  MoveToEx(dc.get(), q.right - 10, q.top + 10, nullptr);
  LineTo(dc.get(), q.left + 10, q.top + 20);
}

// The remaining pieces are drawn by the panel renderer, which is not part of
// this build yet: their timers already run and find nothing to draw.
void loadLedPictures() { mainZones.network = {375, 335, 480, 440}; }
void CALLBACK channelPanelTick(HWND, UINT, UINT_PTR, DWORD) {}
void CALLBACK networkPanelTick(HWND, UINT, UINT_PTR, DWORD) {}
void CALLBACK knobPanelTick(HWND, UINT, UINT_PTR, DWORD) {}
void CALLBACK serverPanelTick(HWND, UINT, UINT_PTR, DWORD) {}
void CALLBACK timeLeftTick(HWND, UINT, UINT_PTR, DWORD) {}
