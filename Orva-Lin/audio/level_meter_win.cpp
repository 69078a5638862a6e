#include "Orva-Lin/audio/level_meter.h"

#include "Orva-Lin/draw_helpers.h"

namespace {

struct Meter {
  const wchar_t* className;
  WNDPROC proc;
  int x, y;
  UINT timerId;
  win::Bitmap face;  // "vu_meter_150.bmp", one copy per meter
  HWND window;
};

Meter meters[2] = {
    {L"VuMeterLeftClass", leftMeterProc, 200, 80, 1, {}, nullptr},
    {L"VuMeterRightClass", rightMeterProc, 370, 80, 2, {}, nullptr},
};

RECT leftBar{200, 166, 350, 176};
RECT rightBar{370, 166, 520, 176};

LRESULT meterProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT: {
      // All drawing happens on the timer; a paint only validates.
      win::PaintDc paint(w);
      return 0;
    }
    case WM_TIMER:
      return 0;
    default:
      return DefWindowProcW(w, msg, wp, lp);
  }
}

}  // namespace

LRESULT CALLBACK leftMeterProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) { return meterProc(w, msg, wp, lp); }
LRESULT CALLBACK rightMeterProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) { return meterProc(w, msg, wp, lp); }

void createLevelMeters(HINSTANCE instance, HWND parent) {
  for (Meter& m : meters) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = m.proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    wc.lpszClassName = m.className;
    RegisterClassW(&wc);
    m.window = CreateWindowExW(0, m.className, L"", WS_CHILD | WS_VISIBLE, m.x, m.y, 150, 84, parent, nullptr,
                               instance, nullptr);
    m.face = loadPictureFile(L"vu_meter_150.bmp");
    if (m.window) SetTimer(m.window, m.timerId, 50, nullptr);
  }
  (void)leftBar;
  (void)rightBar;
}
