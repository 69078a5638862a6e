#include "Orva-Lin/net/group_list_window.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "Orva-Lin/draw_helpers.h"
#include "Orva-Lin/main_window.h"
#include "Orva-Lin/net/channel_grids.h"
#include "Orva-Lin/net/grid_accessible.h"
#include "Orva-Lin/net/voice_receive.h"
#include "Orva-Lin/panel.h"
#include "Orva-Lin/shared_state.h"
#include "Orva-Lin/web/picture_fetch.h"
#include "common/ansi_text.h"
#include "common/win32_guards.h"

namespace {

constexpr wchar_t kClassName[] = L"GroupWndClass";
constexpr wchar_t kTitle[] = L"Orva-Lin Group List";
constexpr COLORREF kBackground = 0xFF0000;
constexpr COLORREF kCellColour = 0xFFFF00;
constexpr COLORREF kMarkerColour = 0x0000FF;
constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMs = 1000;
constexpr UINT_PTR kUnfoldTimer = 2;
constexpr auto kWarning1 = ansi::text("Ne pas laisser cette fenêtre longtemps ouverte");
constexpr auto kWarning2 = ansi::text("car elle consomme beaucoup de ressources réseau");

bool groupListOpen = false;
bool groupListReady = false;
int groupRefreshRow = 1;   // kept from one opening to the next
HWND groupWindow = nullptr;

// The unfolding runs one frame per timer tick rather than in a loop of
// sleeps, so the panel's timers keep running while the window opens.
int unfoldFrame = 0;
int growFrame = -1;        // -1 while unfolding
int grownFrom[2] = {};     // size once unfolded

void fillRect(HDC dc, const grids::Rect& r, COLORREF colour) {
  win::Brush brush(CreateSolidBrush(colour));
  RECT area{r.left, r.top, r.right, r.bottom};
  FillRect(dc, &area, brush.get());
}

int peerCountOf(int channel) {
  return std::clamp(net::peerLists.peerCounts[channel].load(std::memory_order_acquire), 0, grids::kGroupCells);
}

void drawRow(HDC dc, int row) {
  const COLORREF background = panelBackground.load(std::memory_order_relaxed);
  char number[4];
  std::snprintf(number, sizeof number, "%02d", row);
  const grids::Rect label = grids::groupLabel(row);
  drawLabel(dc, number, label.left, label.top, background);
  for (int k = 0; k < grids::kGroupCells; ++k) fillRect(dc, grids::groupCell(row, k), kCellColour);
  const int count = peerCountOf(row);
  std::int32_t drawn[grids::kGroupCells] = {};
  int k = 0;
  for (int i = 0; i < count && k < grids::kGroupCells; ++i) {
    const std::int32_t member = net::peerLists.peerTable[row][i].load(std::memory_order_relaxed);
    const grids::Rect cell = grids::groupCell(row, k);
    if (grids::takesCell(drawMemberPicture(dc, member, cell.left, cell.top, grids::kGroupCellWidth,
                                           grids::kGroupCellHeight)))
      drawn[k++] = member;
  }
  noteGroupRow(row, drawn, k);
}

void drawWarnings(HDC dc) {
  const COLORREF background = panelBackground.load(std::memory_order_relaxed);
  drawLabel(dc, kWarning1.c_str(), 200, 550, background);
  drawLabel(dc, kWarning2.c_str(), 186, 570, background);
}

void paint(HWND w) {
  win::PaintDc dc(w);
  if (!dc || !groupListReady) return;
  for (int row = 1; row <= grids::kGroupRows; ++row) drawRow(dc.get(), row);
  // The refresh row moves with the refresh timer only: opening ends with a
  // paint, and a reopened list must go on at the row where it stopped.
  drawWarnings(dc.get());
}

void refreshTick(HWND w) {
  win::WindowDc dc(w);
  if (!dc) return;
  const int row = groupRefreshRow;
  drawRow(dc.get(), row);
  // The marker column is placed from the window's outer width, frame
  // included, so it sits a frame's width nearer the right edge.
  RECT outer{};
  GetWindowRect(w, &outer);
  const int width = outer.right - outer.left;
  fillRect(dc.get(), grids::groupMarker(width, row), kMarkerColour);
  fillRect(dc.get(), grids::groupPreviousMarker(width, row), kCellColour);
  groupRefreshRow = grids::nextGroupRow(row);
  drawWarnings(dc.get());
}

// A member's picture arrived: the rows where that member sits are drawn
// again from the cache.
void redrawRowsOf(HWND w, std::int32_t member) {
  win::WindowDc dc(w);
  if (!dc) return;
  for (int row = 1; row <= grids::kGroupRows; ++row) {
    const int count = peerCountOf(row);
    for (int i = 0; i < count; ++i) {
      if (net::peerLists.peerTable[row][i].load(std::memory_order_relaxed) == member) {
        drawRow(dc.get(), row);
        break;
      }
    }
  }
}

void unfoldTick(HWND w) {
  if (growFrame < 0) {
    RECT main{};
    GetWindowRect(mainWindow, &main);
    const grids::Frame f = grids::groupUnfoldFrame(unfoldFrame, main.left, main.top);
    MoveWindow(w, f.x, f.y, f.width, f.height, TRUE);
    UpdateWindow(w);
    if (++unfoldFrame < grids::kGroupUnfoldFrames) return;
    RECT r{};
    GetWindowRect(w, &r);
    grownFrom[0] = r.right - r.left;
    grownFrom[1] = r.bottom - r.top;
    growFrame = 0;
    SetTimer(w, kUnfoldTimer, grids::kGroupGrowMs, nullptr);
    return;
  }
  const grids::Frame f = grids::groupGrowFrame(growFrame, grownFrom[0], grownFrom[1]);
  SetWindowPos(w, nullptr, 0, 0, f.width, f.height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  UpdateWindow(w);
  if (++growFrame < grids::kGroupGrowFrames) return;
  KillTimer(w, kUnfoldTimer);
  groupListReady = true;
  SetForegroundWindow(mainWindow);
  SetTimer(w, kRefreshTimer, kRefreshMs, nullptr);
  InvalidateRect(w, nullptr, TRUE);
}

bool registerClass() {
  static bool registered = false;
  if (registered) return true;
  WNDCLASSEXW wc{sizeof wc};
  wc.lpfnWndProc = groupListProc;
  wc.hInstance = appInstance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  // Made once: a registration that fails leaves it for the next try.
  static const win::Brush background(CreateSolidBrush(kBackground));
  wc.hbrBackground = background.get();
  wc.lpszClassName = kClassName;
  registered = RegisterClassExW(&wc) != 0;
  return registered;
}

}  // namespace

void toggleGroupList() {
  if (groupListOpen) {
    PostMessageW(groupWindow, WM_CLOSE, 0, 0);
    return;
  }
  groupListOpen = true;
  groupListReady = false;
  groupWindow = registerClass() ? openMemberPictureWindow(kClassName, kTitle, 100, false, 135) : nullptr;
  if (!groupWindow) {
    groupListOpen = false;   // nothing is open: the next click tries again
    return;
  }
  unfoldFrame = 0;
  growFrame = -1;
  unfoldTick(groupWindow);
  SetTimer(groupWindow, kUnfoldTimer, grids::kGroupUnfoldMs, nullptr);
}

LRESULT CALLBACK groupListProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT:
      paint(w);
      return 0;
    case WM_TIMER:
      if (wp == kUnfoldTimer) unfoldTick(w);
      if (wp == kRefreshTimer && groupListReady) refreshTick(w);
      return 0;
    case kMemberPictureArrived:
      if (groupListReady) redrawRowsOf(w, static_cast<std::int32_t>(wp));
      return 0;
    case WM_GETOBJECT:
      return answerGroupListObject(w, wp, lp);
    case WM_DESTROY:
      KillTimer(w, kRefreshTimer);
      KillTimer(w, kUnfoldTimer);
      unwatchMemberPictures(w);
      groupListOpen = false;
      groupWindow = nullptr;
      return 0;
    default:
      return DefWindowProcW(w, msg, wp, lp);
  }
}
