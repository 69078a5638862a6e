#include "Orva-Lin/web/image_decode.h"

#include <cstring>

#include "Orva-Lin/web/share_layout.h"
#include "common/gdiplus_win.h"
#include "common/win32_guards.h"

namespace {

constexpr std::uint8_t kPngSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
const Gdiplus::Color kBehindTransparent(0xFF000000);

// A stream over a movable copy of the bytes; the stream frees the block.
IStream* streamOver(const std::uint8_t* body, std::uint32_t length) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, length);
  if (!block) return nullptr;
  void* at = GlobalLock(block);
  if (!at) {
    GlobalFree(block);
    return nullptr;
  }
  std::memcpy(at, body, length);
  GlobalUnlock(block);
  IStream* stream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(block, TRUE, &stream))) {
    GlobalFree(block);
    return nullptr;
  }
  return stream;
}

// width or height 0: the picture's own size.
HBITMAP decodePng(const std::uint8_t* body, std::uint32_t length, int width, int height) {
  if (!body || length <= sizeof kPngSignature || std::memcmp(body, kPngSignature, sizeof kPngSignature) != 0)
    return nullptr;
  win::GdiplusSession gdiplus;
  if (!gdiplus.ok()) return nullptr;
  win::ComPtr<IStream> stream;
  *stream.put() = streamOver(body, length);
  if (!stream) return nullptr;
  Gdiplus::Bitmap picture(stream.get());
  if (picture.GetLastStatus() != Gdiplus::Ok ||
      !share::pictureSizeAccepted(picture.GetWidth(), picture.GetHeight()))
    return nullptr;
  HBITMAP out = nullptr;
  if (width <= 0 || height <= 0) {
    if (picture.GetHBITMAP(kBehindTransparent, &out) != Gdiplus::Ok) return nullptr;
    return out;
  }
  Gdiplus::Bitmap scaled(width, height, PixelFormat32bppARGB);
  if (scaled.GetLastStatus() != Gdiplus::Ok) return nullptr;
  {
    Gdiplus::Graphics g(&scaled);
    g.Clear(kBehindTransparent);
    g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
    if (g.DrawImage(&picture, 0, 0, width, height) != Gdiplus::Ok) return nullptr;
  }
  if (scaled.GetHBITMAP(kBehindTransparent, &out) != Gdiplus::Ok) return nullptr;
  return out;
}

}  // namespace

HBITMAP decodePngBytes(const std::uint8_t* body, std::uint32_t length) { return decodePng(body, length, 0, 0); }

HBITMAP decodePngScaled(const std::uint8_t* body, std::uint32_t length, int width, int height) {
  return decodePng(body, length, width, height);
}

HBITMAP decodeImageResponse(const std::uint8_t* body, std::uint32_t length) {
  if (!body || length == 0) return nullptr;
  win::GdiplusSession gdiplus;
  if (!gdiplus.ok()) return nullptr;
  win::ComPtr<IStream> stream;
  *stream.put() = streamOver(body, length);
  if (!stream) return nullptr;
  Gdiplus::Image image(stream.get());
  if (image.GetLastStatus() != Gdiplus::Ok) return nullptr;
  const UINT w = image.GetWidth(), h = image.GetHeight();
  if (!share::pictureSizeAccepted(w, h)) return nullptr;
  Gdiplus::Bitmap canvas(static_cast<INT>(w), static_cast<INT>(h), PixelFormat32bppARGB);
  if (canvas.GetLastStatus() != Gdiplus::Ok) return nullptr;
  {
    Gdiplus::Graphics g(&canvas);
    if (g.DrawImage(&image, 0, 0, static_cast<INT>(w), static_cast<INT>(h)) != Gdiplus::Ok) return nullptr;
  }
  HBITMAP out = nullptr;
  if (canvas.GetHBITMAP(kBehindTransparent, &out) != Gdiplus::Ok) return nullptr;
  return out;
}
