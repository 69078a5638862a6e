#include "Orva-Lin/animation.h"

#include "common/gdiplus_win.h"

#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "Orva-Lin/panel.h"
#include "common/win32_guards.h"

namespace {

constexpr wchar_t kAnimationFile[] = L"electron-animation.gif";
constexpr UINT_PTR kAnimationTimer = 4;
constexpr int kFrameSide = 150;
constexpr int kFrameX = 350;
constexpr int kFrameY = 450;
constexpr UINT kDefaultDelayMs = 100;

// Made once at start-up and kept for the life of the process.
std::vector<std::unique_ptr<Gdiplus::Bitmap>> animationFrames;
std::vector<UINT> animationDelays;
UINT animationFrameCount = 0;
UINT animationIndex = 0;
// The same frames as screen bitmaps, for those with no transparent pixel
// (null for the others). Drawing a GDI+ frame on a window blends it with
// what is there, which under Wine means reading the panel back on every
// tick; an opaque frame gives the same pixels with a plain blit.
std::vector<win::Bitmap> opaqueFrames;

win::Bitmap opaqueCopy(Gdiplus::Bitmap& frame) {
  const Gdiplus::Rect all(0, 0, kFrameSide, kFrameSide);
  Gdiplus::BitmapData bits{};
  if (frame.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &bits) != Gdiplus::Ok) return {};
  bool opaque = true;
  for (int y = 0; y < kFrameSide && opaque; ++y) {
    const auto* row = static_cast<const UINT32*>(
        static_cast<const void*>(static_cast<const BYTE*>(bits.Scan0) + y * bits.Stride));
    for (int x = 0; x < kFrameSide; ++x) opaque = opaque && (row[x] >> 24) == 0xFF;
  }
  frame.UnlockBits(&bits);
  HBITMAP out = nullptr;
  if (!opaque || frame.GetHBITMAP(Gdiplus::Color(255, 0, 0, 0), &out) != Gdiplus::Ok) return {};
  return win::Bitmap(out);
}

struct FreeMemory {
  void operator()(void* p) const { std::free(p); }
};

}  // namespace

void startAnimation() {
  if (GetFileAttributesW(kAnimationFile) == INVALID_FILE_ATTRIBUTES) {
    MessageBoxW(nullptr,
                L"Il manque un fichier *.gif dans\nl’installation de Orva-Lin\nL’application Orva-Lin va\n"
                L"être stopper. Cliquez sur OK\n",
                L"Orva-Lin System", MB_ICONERROR);
    PostMessageW(mainWindow, WM_DESTROY, 0, 0);
    return;
  }
  Gdiplus::Image image(kAnimationFile);
  if (image.GetLastStatus() != Gdiplus::Ok) return;
  const UINT dimensions = image.GetFrameDimensionsCount();
  if (dimensions == 0) return;
  std::vector<GUID> ids(dimensions);
  if (image.GetFrameDimensionsList(ids.data(), dimensions) != Gdiplus::Ok) return;
  animationFrameCount = image.GetFrameCount(&ids[0]);

  // Delays in hundredths of a second, one per frame, when the file has them.
  std::unique_ptr<Gdiplus::PropertyItem, FreeMemory> delays;
  UINT delayCount = 0;
  const UINT delayBytes = image.GetPropertyItemSize(PropertyTagFrameDelay);
  if (delayBytes >= sizeof(Gdiplus::PropertyItem)) {
    delays.reset(static_cast<Gdiplus::PropertyItem*>(std::malloc(delayBytes)));
    if (delays && image.GetPropertyItem(PropertyTagFrameDelay, delayBytes, delays.get()) == Gdiplus::Ok)
      delayCount = delays->length / sizeof(UINT);
    else
      delays.reset();
  }

  animationFrames.reserve(animationFrameCount);
  animationDelays.reserve(animationFrameCount);
  for (UINT i = 0; i < animationFrameCount; ++i) {
    if (image.SelectActiveFrame(&ids[0], i) != Gdiplus::Ok) break;
    auto frame = std::make_unique<Gdiplus::Bitmap>(kFrameSide, kFrameSide, PixelFormat32bppPARGB);
    if (frame->GetLastStatus() != Gdiplus::Ok) break;
    {
      Gdiplus::Graphics g(frame.get());
      g.DrawImage(&image, 0, 0, kFrameSide, kFrameSide);
    }
    opaqueFrames.push_back(opaqueCopy(*frame));
    animationFrames.push_back(std::move(frame));
    const UINT* values = delays ? static_cast<const UINT*>(delays->value) : nullptr;
    animationDelays.push_back(values && i < delayCount ? values[i] * 10 : kDefaultDelayMs);
  }
  // A frame that could not be made ends the list; the loop runs over the rest.
  animationFrameCount = static_cast<UINT>(animationFrames.size());
  if (animationFrameCount > 0) SetTimer(mainWindow, kAnimationTimer, animationDelays[0], nullptr);
}

void drawNextAnimationFrame(std::uint32_t kind) {
  if (kind != 1 || !mainWindow) return;
  win::WindowDc dc(mainWindow);
  if (!dc) return;
  if (animationFrames.empty() || animationIndex >= animationFrameCount) return;
  static const win::MemoryDc mem(CreateCompatibleDC(dc.get()));
  if (const HBITMAP opaque = opaqueFrames[animationIndex].get(); opaque && mem) {
    win::Selection useFrame(mem.get(), opaque);
    BitBlt(dc.get(), kFrameX, kFrameY, kFrameSide, kFrameSide, mem.get(), 0, 0, SRCCOPY);
    animationIndex = (animationIndex + 1) % animationFrameCount;
    return;
  }
  Gdiplus::Graphics g(dc.get());
  if (g.GetLastStatus() != Gdiplus::Ok) return;
  g.DrawImage(animationFrames[animationIndex].get(), kFrameX, kFrameY, kFrameSide, kFrameSide);
  animationIndex = (animationIndex + 1) % animationFrameCount;
}

void blurPanelRegion(HDC target, const RECT& area) {
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  if (!target || !mainWindow || width <= 0 || height <= 0) return;
  win::GdiplusSession gdiplus;
  if (!gdiplus.ok()) return;
  win::Bitmap copy;
  {
    win::WindowDc panel(mainWindow);
    if (!panel) return;
    win::MemoryDc mem(CreateCompatibleDC(panel.get()));
    copy.reset(CreateCompatibleBitmap(panel.get(), width, height));
    if (!mem || !copy) return;
    win::Selection useCopy(mem.get(), copy.get());
    BitBlt(mem.get(), 0, 0, width, height, panel.get(), area.left, area.top, SRCCOPY);
  }
  Gdiplus::Bitmap blurred(copy.get(), nullptr);
  if (blurred.GetLastStatus() != Gdiplus::Ok) return;
  std::unique_ptr<Gdiplus::Bitmap> original(
      blurred.Clone(0, 0, width, height, blurred.GetPixelFormat()));
  if (!original || original->GetLastStatus() != Gdiplus::Ok) return;

  // Whole-picture locks rather than a call per pixel: a panel strip is tens
  // of thousands of pixels, each read 25 times.
  const Gdiplus::Rect all(0, 0, width, height);
  Gdiplus::BitmapData in{}, out{};
  if (original->LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &in) != Gdiplus::Ok) return;
  if (blurred.LockBits(&all, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeWrite, PixelFormat32bppARGB,
                       &out) != Gdiplus::Ok) {
    original->UnlockBits(&in);
    return;
  }
  auto pixel = [](const Gdiplus::BitmapData& d, int x, int y) {
    return static_cast<UINT32*>(static_cast<void*>(static_cast<BYTE*>(d.Scan0) + y * d.Stride)) + x;
  };
  for (int y = 2; y < height - 2; ++y) {
    for (int x = 2; x < width - 2; ++x) {
      UINT32 red = 0, blue = 0;
      for (int dy = -2; dy <= 2; ++dy) {
        for (int dx = -2; dx <= 2; ++dx) {
          const UINT32 argb = *pixel(in, x + dx, y + dy);
          red += (argb >> 16) & 0xFF;
          blue += argb & 0xFF;
        }
      }
      *pixel(out, x, y) = 0xFF000000u | (red / 25) << 16 | 127u << 8 | (blue / 25);
    }
  }
  blurred.UnlockBits(&out);
  original->UnlockBits(&in);
  Gdiplus::Graphics g(target);
  if (g.GetLastStatus() == Gdiplus::Ok) g.DrawImage(&blurred, area.left, area.top, width, height);
}
