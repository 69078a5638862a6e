#include "Orva-Lin/audio/level_meter.h"

#include "Orva-Lin/audio/levels.h"
#include "Orva-Lin/audio/meter_geometry.h"
#include "Orva-Lin/draw_helpers.h"
#include "Orva-Lin/panel.h"

namespace {

struct Meter {
  const wchar_t* className;
  WNDPROC proc;
  int x, y;
  UINT timerId;
  std::atomic<std::int32_t>* level;
  win::Bitmap face;  // "vu_meter_150.bmp", one copy per meter
  HWND window;
};

Meter meters[2] = {
    {L"VuMeterLeftClass", leftMeterProc, 200, 80, 1, &levelLeft, {}, nullptr},
    {L"VuMeterRightClass", rightMeterProc, 370, 80, 2, &levelRight, {}, nullptr},
};

struct Bar {
  RECT area;
  std::atomic<std::int32_t>* raw;
};
Bar bars[2] = {
    {{200, 166, 350, 176}, &levelLeftRaw},
    {{370, 166, 520, 176}, &levelRightRaw},
};

constexpr COLORREF kNeedleColour = 0xFF5050;
constexpr int kNeedleWidth = 3;

void drawNeedle(HWND w, const Meter& m) {
  win::WindowDc dc(w);
  if (!dc || !m.face) return;
  BITMAP bm{};
  if (!GetObjectW(m.face.get(), sizeof bm, &bm)) return;
  {
    win::MemoryDc mem(CreateCompatibleDC(dc.get()));
    if (!mem) return;
    win::Selection useFace(mem.get(), m.face.get());
    BitBlt(dc.get(), 0, 0, bm.bmWidth, bm.bmHeight, mem.get(), 0, 0, SRCCOPY);
  }
  win::Pen pen(CreatePen(PS_SOLID, kNeedleWidth, kNeedleColour));
  if (!pen) return;
  win::Selection usePen(dc.get(), pen.get());
  const meter::Point end = meter::needleEnd(m.level->load(std::memory_order_relaxed), bm.bmWidth, bm.bmHeight);
  MoveToEx(dc.get(), bm.bmWidth / 2, bm.bmHeight, nullptr);
  LineTo(dc.get(), end.x, end.y);
}

// One pen per column, made and freed each time: the bars change colour
// along their length and the count stays flat over hours.
void drawBars() {
  win::WindowDc dc(mainWindow);
  if (!mainWindow || !dc) return;
  for (const Bar& bar : bars) {
    const int lit = meter::barLitColumns(bar.raw->load(std::memory_order_relaxed));
    for (int i = 0; i < meter::kBarColumns; ++i) {
      const meter::Rgb c = meter::barColumnColour(i, lit);
      win::Pen pen(CreatePen(PS_SOLID, 1, RGB(c.r, c.g, c.b)));
      if (!pen) return;
      win::Selection usePen(dc.get(), pen.get());
      const int x = bar.area.left + i;
      MoveToEx(dc.get(), x, bar.area.top, nullptr);
      LineTo(dc.get(), x, bar.area.bottom);
    }
  }
}

LRESULT meterProc(Meter& m, HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT: {
      // All drawing happens on the timer; a paint only validates.
      win::PaintDc paint(w);
      return 0;
    }
    case WM_TIMER:
      drawNeedle(w, m);
      if (&m == &meters[0]) drawBars();
      return 0;
    default:
      return DefWindowProcW(w, msg, wp, lp);
  }
}

}  // namespace

LRESULT CALLBACK leftMeterProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) { return meterProc(meters[0], w, msg, wp, lp); }
LRESULT CALLBACK rightMeterProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  return meterProc(meters[1], w, msg, wp, lp);
}

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
}
