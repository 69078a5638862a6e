#include "Orva-Lin/audio/level_meter.h"

#include <optional>

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
  std::int32_t drawnLevel;
  unsigned drawnPaints;
};

Meter meters[2] = {
    {L"VuMeterLeftClass", leftMeterProc, meter::kMeterLeftX, meter::kMeterY, 1, &levelLeft, {}, nullptr, 0, ~0u},
    {L"VuMeterRightClass", rightMeterProc, meter::kMeterRightX, meter::kMeterY, 2, &levelRight, {}, nullptr, 0, ~0u},
};

struct Bar {
  RECT area;
  std::atomic<std::int32_t>* raw;
  int drawnLit;
};
Bar bars[2] = {
    {{meter::kMeterLeftX, meter::kBarTop, meter::kMeterLeftX + meter::kBarColumns, meter::kBarBottom}, &levelLeftRaw, -1},
    {{meter::kMeterRightX, meter::kBarTop, meter::kMeterRightX + meter::kBarColumns, meter::kBarBottom},
     &levelRightRaw, -1},
};
unsigned barsDrawnPaints = ~0u;

constexpr COLORREF kNeedleColour = 0xFF5050;
constexpr int kNeedleWidth = 3;

// Levels change only while blocks are played or sent: a meter whose level
// and paints are as last drawn keeps its pixels and is not redrawn.
void drawNeedle(HWND w, Meter& m) {
  const std::int32_t level = m.level->load(std::memory_order_relaxed);
  if (level == m.drawnLevel && m.drawnPaints == panelPaints) return;
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
  static const win::Pen pen(CreatePen(PS_SOLID, kNeedleWidth, kNeedleColour));
  if (!pen) return;
  win::Selection usePen(dc.get(), pen.get());
  const meter::Point end = meter::needleEnd(level, bm.bmWidth, bm.bmHeight);
  MoveToEx(dc.get(), bm.bmWidth / 2, bm.bmHeight, nullptr);
  LineTo(dc.get(), end.x, end.y);
  m.drawnLevel = level;
  m.drawnPaints = panelPaints;
}

// Every column of a fully lit bar, drawn once with one pen per column as
// the bars always were; a bar is then its lit part copied from here and
// white for the rest: the same pixels as a column-by-column draw.
struct LitBar {
  win::Bitmap picture;
  win::MemoryDc dc;
  std::optional<win::Selection> select;
};

HDC litBar(HDC screen) {
  static LitBar bar;
  if (bar.dc) return bar.dc.get();
  const int height = bars[0].area.bottom - bars[0].area.top;
  bar.picture.reset(CreateCompatibleBitmap(screen, meter::kBarColumns, height));
  bar.dc.reset(CreateCompatibleDC(screen));
  if (!bar.picture || !bar.dc) {
    bar.dc.reset();
    return nullptr;
  }
  bar.select.emplace(bar.dc.get(), bar.picture.get());
  for (int i = 0; i < meter::kBarColumns; ++i) {
    const meter::Rgb c = meter::barColumnColour(i, meter::kBarColumns);
    win::Pen pen(CreatePen(PS_SOLID, 1, RGB(c.r, c.g, c.b)));
    win::Selection usePen(bar.dc.get(), pen.get());
    MoveToEx(bar.dc.get(), i, 0, nullptr);
    LineTo(bar.dc.get(), i, height);
  }
  return bar.dc.get();
}

void drawBars() {
  const bool whole = barsDrawnPaints != panelPaints;
  int lit[2];
  for (int b = 0; b < 2; ++b) lit[b] = meter::barLitColumns(bars[b].raw->load(std::memory_order_relaxed));
  if (!whole && lit[0] == bars[0].drawnLit && lit[1] == bars[1].drawnLit) return;
  win::WindowDc dc(mainWindow);
  if (!mainWindow || !dc) return;
  const HDC full = litBar(dc.get());
  if (!full) return;
  for (int b = 0; b < 2; ++b) {
    Bar& bar = bars[b];
    if (!whole && lit[b] == bar.drawnLit) continue;
    const RECT& a = bar.area;
    BitBlt(dc.get(), a.left, a.top, lit[b], a.bottom - a.top, full, 0, 0, SRCCOPY);
    const RECT unlit{a.left + lit[b], a.top, a.right, a.bottom};
    FillRect(dc.get(), &unlit, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    bar.drawnLit = lit[b];
  }
  barsDrawnPaints = panelPaints;
}

LRESULT meterProc(Meter& m, HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT: {
      // All drawing happens on the timer; a paint only validates, and
      // tells the timers that what they drew may be gone.
      win::PaintDc paint(w);
      ++panelPaints;
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
    // The window text is never drawn (no caption); it names the meter for a
    // screen reader that lands on the child window.
    const wchar_t* name = &m == &meters[0] ? L"VU-mètre gauche" : L"VU-mètre droit";
    m.window = CreateWindowExW(0, m.className, name, WS_CHILD | WS_VISIBLE, m.x, m.y, meter::kMeterWidth,
                               meter::kMeterHeight, parent, nullptr, instance, nullptr);
    m.face = loadPictureFile(L"vu_meter_150.bmp");
    if (m.window) SetTimer(m.window, m.timerId, 50, nullptr);
  }
}
