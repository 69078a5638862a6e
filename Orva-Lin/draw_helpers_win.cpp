#include "Orva-Lin/draw_helpers.h"

#include <shellapi.h>

#include <cstring>

win::Font panelFont(int height) {
  return win::Font(CreateFontW(height, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_TT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Arial"));
}

void drawLabel(HDC dc, const char* text, int x, int y, COLORREF background) {
  if (!dc || !text) return;
  wchar_t wide[256];
  const int n = MultiByteToWideChar(kTextCodePage, 0, text, static_cast<int>(std::strlen(text)), wide, 255);
  if (n <= 0) return;
  // Made once: labels are the most frequent text of the panel.
  static const win::Font font = panelFont(14);
  if (!font) return;
  win::Selection useFont(dc, font.get());
  SetTextColor(dc, RGB(255, 255, 255));
  SetBkColor(dc, background);
  SetBkMode(dc, OPAQUE);
  TextOutW(dc, x, y, wide, n);
}

void drawSettledLabel(HDC dc, const char* text, int x, int y, COLORREF background) {
  constexpr int kDrawsToSettle = 16;  // a half-covered edge pixel is solid after about ten
  for (int i = 0; i < kDrawsToSettle; ++i) drawLabel(dc, text, x, y, background);
}

void drawUtf8Text(HDC dc, const char* utf8, int x, int y, COLORREF colour) {
  if (!dc || !utf8) return;
  wchar_t wide[1024];
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, static_cast<int>(std::strlen(utf8)), wide, 1023);
  if (n <= 0) return;
  win::Font font = panelFont(20);
  if (!font) return;
  win::Selection useFont(dc, font.get());
  SetTextColor(dc, colour);
  SetBkMode(dc, TRANSPARENT);
  TextOutW(dc, x, y, wide, n);
}

void drawPicture(HDC dc, HBITMAP picture, int x, int y) {
  if (!dc || !picture) return;
  BITMAP bm{};
  if (!GetObjectW(picture, sizeof bm, &bm)) return;
  win::MemoryDc mem(CreateCompatibleDC(dc));
  if (!mem) return;
  win::Selection usePicture(mem.get(), picture);
  TransparentBlt(dc, x, y, bm.bmWidth, bm.bmHeight, mem.get(), 0, 0, bm.bmWidth, bm.bmHeight, RGB(0, 0, 0));
}

void drawPictureScaled(HDC dc, HBITMAP picture, int x, int y, int width, int height) {
  if (!dc || !picture || width <= 0 || height <= 0) return;
  BITMAP bm{};
  if (!GetObjectW(picture, sizeof bm, &bm)) return;
  win::MemoryDc source(CreateCompatibleDC(dc));
  win::MemoryDc scaled(CreateCompatibleDC(dc));
  win::Bitmap canvas(CreateCompatibleBitmap(dc, width, height));
  if (!source || !scaled || !canvas) return;
  win::Selection useSource(source.get(), picture);
  win::Selection useCanvas(scaled.get(), canvas.get());
  // Halftone needs the brush origin reset after the mode is set.
  SetStretchBltMode(scaled.get(), HALFTONE);
  SetBrushOrgEx(scaled.get(), 0, 0, nullptr);
  StretchBlt(scaled.get(), 0, 0, width, height, source.get(), 0, 0, bm.bmWidth, bm.bmHeight, SRCCOPY);
  BitBlt(dc, x, y, width, height, scaled.get(), 0, 0, SRCCOPY);
}

bool drawFileIcon(HWND window, int index, const wchar_t* path, int y) {
  if (!window || !path) return false;
  HICON extracted = nullptr;
  if (ExtractIconExW(path, index, &extracted, nullptr, 1) == 0 || !extracted) return false;
  win::Icon icon(extracted);
  win::WindowDc dc(window);
  if (!dc) return false;
  RECT square{50, y, 114, y + 64};
  FillRect(dc.get(), &square, GetSysColorBrush(COLOR_MENU));
  return DrawIconEx(dc.get(), 50, y, icon.get(), 64, 64, 0, nullptr, DI_NORMAL) != FALSE;
}

win::Bitmap loadPictureFile(const wchar_t* name) {
  return win::Bitmap(static_cast<HBITMAP>(LoadImageW(nullptr, name, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE)));
}

win::Bitmap loadContainerPicture(const OpenContainer& container, const char* name) {
  leds::Bmp bmp;
  if (!leds::parseBmp(leds::findPicture(container.bytes, container.directory, name), bmp)) return {};
  // The header sits at any byte offset inside the file; GDI reads it as a
  // structure, so it gets an aligned copy.
  alignas(BITMAPINFOHEADER) std::uint8_t info[124 + 12 + 1024];
  if (bmp.info.size() > sizeof info) return {};
  std::memcpy(info, bmp.info.data(), bmp.info.size());
  const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(info);
  win::WindowDc screen(nullptr);
  if (!screen) return {};
  return win::Bitmap(CreateDIBitmap(screen.get(), header, CBM_INIT, bmp.bits.data(),
                                    reinterpret_cast<const BITMAPINFO*>(info), DIB_RGB_COLORS));
}
