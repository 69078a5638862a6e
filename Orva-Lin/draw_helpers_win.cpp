#include "Orva-Lin/draw_helpers.h"

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
  win::Font font = panelFont(14);
  if (!font) return;
  win::Selection useFont(dc, font.get());
  SetTextColor(dc, RGB(255, 255, 255));
  SetBkColor(dc, background);
  SetBkMode(dc, OPAQUE);
  TextOutW(dc, x, y, wide, n);
}

win::Bitmap loadPictureFile(const wchar_t* name) {
  return win::Bitmap(static_cast<HBITMAP>(LoadImageW(nullptr, name, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE)));
}
