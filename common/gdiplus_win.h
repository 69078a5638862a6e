// Include this instead of <gdiplus.h>. MinGW's GDI+ headers expect what
// WIN32_LEAN_AND_MEAN and NOMINMAX take away: PROPID from <objidl.h>, and
// min/max unqualified.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

namespace win {

// GdiplusStartup / GdiplusShutdown around one piece of work (the library
// counts nested starts). Declare it before any GDI+ object of that work, so
// the objects are gone before the shutdown.
class GdiplusSession {
 public:
  GdiplusSession() {
    Gdiplus::GdiplusStartupInput input;
    ok_ = Gdiplus::GdiplusStartup(&token_, &input, nullptr) == Gdiplus::Ok;
  }
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;
  ~GdiplusSession() {
    if (ok_) Gdiplus::GdiplusShutdown(token_);
  }
  bool ok() const { return ok_; }

 private:
  ULONG_PTR token_ = 0;
  bool ok_ = false;
};

}  // namespace win
