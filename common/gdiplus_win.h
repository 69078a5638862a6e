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
