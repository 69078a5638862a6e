// The knob panel: the meter captions, the three knobs with their rotated
// arrows and ticks, and the two small icons.
#include "common/gdiplus_win.h"

#include "Orva-Lin/audio/endpoint_volume.h"
#include "Orva-Lin/draw_helpers.h"
#include "Orva-Lin/main_window.h"
#include "Orva-Lin/panel.h"
#include "Orva-Lin/panel_geometry.h"
#include "Orva-Lin/shared_state.h"

namespace {

constexpr int kKnobY = 220;
constexpr int kLabelY = 290;
constexpr float kArrowRest = 180.0f;   // degrees from the picture: level 0 points down
constexpr float kArrowSweep = 300.0f;  // from level 0 to level 1

// The arrow turned clockwise by `degrees` about its centre, on opaque black
// so that black stays its transparent colour. None when GDI+ fails.
win::Bitmap rotatedArrow(HBITMAP arrow, float degrees) {
  win::GdiplusSession gdiplus;
  if (!gdiplus.ok()) return {};
  Gdiplus::Bitmap source(arrow, nullptr);
  if (source.GetLastStatus() != Gdiplus::Ok) return {};
  const INT w = static_cast<INT>(source.GetWidth());
  const INT h = static_cast<INT>(source.GetHeight());
  Gdiplus::Bitmap turned(w, h, PixelFormat32bppARGB);
  if (turned.GetLastStatus() != Gdiplus::Ok) return {};
  {
    Gdiplus::Graphics g(&turned);
    if (g.GetLastStatus() != Gdiplus::Ok) return {};
    g.TranslateTransform(w / 2.0f, h / 2.0f);
    g.RotateTransform(degrees);
    g.TranslateTransform(-w / 2.0f, -h / 2.0f);
    g.DrawImage(&source, 0, 0, w, h);
  }
  HBITMAP out = nullptr;
  if (turned.GetHBITMAP(Gdiplus::Color(255, 0, 0, 0), &out) != Gdiplus::Ok) return {};
  return win::Bitmap(out);
}

void drawTicks(HDC dc, int centreX, int centreY, panel::KnobTicks ticks) {
  panel::Point offsets[panel::kMaxTicks];
  const int n = panel::knobTickOffsets(ticks, offsets);
  static const win::Pen outline(CreatePen(PS_SOLID, 1, RGB(255, 0, 0)));
  static const win::Brush first(CreateSolidBrush(RGB(0, 0, 255)));
  static const win::Brush others(CreateSolidBrush(RGB(0, 255, 0)));
  if (!outline || !first || !others) return;
  win::Selection usePen(dc, outline.get());
  win::Selection useBrush(dc, first.get());
  for (int i = 0; i < n; ++i) {
    if (i == 1) SelectObject(dc, others.get());  // the guard puts the old brush back
    const int x = centreX + offsets[i].x;
    const int y = centreY + offsets[i].y;
    Ellipse(dc, x - 4, y - 4, x + 4, y + 4);
  }
}

// False when the knob could not be drawn; the later ones are skipped then.
bool drawKnob(HDC dc, int x, float degrees, panel::KnobTicks ticks, input::Rect& zone, const char* label) {
  win::Bitmap arrow = rotatedArrow(arrowPicture.get(), degrees);
  BITMAP bm{};
  if (!arrow || !GetObjectW(arrow.get(), sizeof bm, &bm)) return false;
  drawPicture(dc, arrow.get(), x, kKnobY);
  drawTicks(dc, x + bm.bmWidth / 2, kKnobY + bm.bmHeight / 2, ticks);
  zone = {x, kKnobY, x + bm.bmWidth, kKnobY + bm.bmHeight};
  drawSettledLabel(dc, label, x + 8, kLabelY, panelBackground.load(std::memory_order_relaxed));
  return true;
}

}  // namespace

void CALLBACK knobPanelTick(HWND, UINT, UINT_PTR, DWORD) {
  if (!arrowPicture) return;
  // The arrows are turned only when a level, the background or a paint
  // changed since the last complete draw: the same pixels as every tick.
  static float drawnMic = -1.0f, drawnVolume = -1.0f;
  static COLORREF drawnBackground = CLR_INVALID;
  static unsigned drawnPaints = ~0u;
  const float mic = getCaptureEndpointLevel();
  const float volume = getRenderEndpointLevel();
  const COLORREF bg = panelBackground.load(std::memory_order_relaxed);
  if (mic == drawnMic && volume == drawnVolume && bg == drawnBackground && drawnPaints == panelPaints) return;
  win::WindowDc dc(mainWindow);
  if (!mainWindow || !dc) return;
  drawSettledLabel(dc.get(), "AUDIO LEFT", 245, 179, bg);
  drawSettledLabel(dc.get(), "AUDIO RIGHT", 415, 179, bg);
  if (!drawKnob(dc.get(), 25, kArrowRest, panel::kParamsTicks, mainZones.paramsKnob, "PARAMS")) return;
  if (!drawKnob(dc.get(), 115, kArrowRest + kArrowSweep * mic, panel::kLevelTicks, mainZones.micGainKnob,
                "MIC GAIN"))
    return;
  if (!drawKnob(dc.get(), 205, kArrowRest + kArrowSweep * volume, panel::kLevelTicks, mainZones.volumeKnob,
                "VOLUME"))
    return;
  const input::Rect doc = mainZones.documentation;
  const input::Rect companion = mainZones.companion;
  drawPictureScaled(dc.get(), docPicture.get(), doc.left, doc.top, 30, 30);
  drawPictureScaled(dc.get(), synthePicture.get(), companion.left, companion.top, 32, 32);
  drawnMic = mic;
  drawnVolume = volume;
  drawnBackground = bg;
  drawnPaints = panelPaints;
}
