#include "Orva-Lin/net/peers_window.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "Orva-Lin/main_window.h"
#include "Orva-Lin/net/channel_grids.h"
#include "Orva-Lin/net/grid_accessible.h"
#include "Orva-Lin/net/voice_receive.h"
#include "Orva-Lin/panel.h"
#include "Orva-Lin/shared_state.h"
#include "Orva-Lin/web/picture_fetch.h"
#include "common/protocol.h"
#include "common/win32_guards.h"

namespace {

constexpr wchar_t kClassName[] = L"NetworkWndClass";
constexpr wchar_t kTitle[] = L"Orva-Lin Network";
constexpr COLORREF kBackground = 0x00FFFF;
constexpr COLORREF kFreeCell = 0x00FF00;
constexpr UINT_PTR kRedrawTimer = 1;
constexpr UINT kRedrawMs = 1000;
constexpr UINT_PTR kUnfoldTimer = 2;

bool peersOpen = false;
bool peersReady = false;
std::int32_t peersDrawnCount = -1;
HWND peersWindow = nullptr;
// The members of the last drawn grid: a member who leaves while another
// joins keeps the count and must still redraw.
std::int32_t drawnChannel = -1;
std::int32_t drawnMembers[grids::kPeerCells];
int drawnMemberCount = 0;

int unfoldFrame = 0;
int growFrame = -1;
int grownFrom[2] = {};

enum class Mode { Full, ChangedOnly };

struct Members {
  int channel = 0;
  int count = 0;
  std::int32_t numbers[grids::kPeerCells] = {};
};

Members currentMembers() {
  Members m;
  m.channel = relaxed(channelPort) - proto::kVoicePortBase;
  if (m.channel <= 0 || m.channel >= proto::kChannelCount) return m;
  m.count = std::clamp(net::peerLists.peerCounts[m.channel].load(std::memory_order_acquire), 0, grids::kPeerCells);
  for (int i = 0; i < m.count; ++i) m.numbers[i] = net::peerLists.peerTable[m.channel][i].load(std::memory_order_relaxed);
  return m;
}

bool sameAsDrawn(const Members& m) {
  return m.channel == drawnChannel && m.count == drawnMemberCount &&
         std::memcmp(m.numbers, drawnMembers, sizeof(std::int32_t) * static_cast<std::size_t>(m.count)) == 0;
}

void fillCell(HDC dc, int k, COLORREF colour) {
  const grids::Rect r = grids::peerCell(k);
  win::Brush brush(CreateSolidBrush(colour));
  RECT area{r.left, r.top, r.right, r.bottom};
  FillRect(dc, &area, brush.get());
}

void drawGrid(HWND w, HDC dc, Mode mode) {
  if (relaxed(channelPort) == proto::kVoicePortBase) {
    PostMessageW(w, WM_CLOSE, 0, 0);
    return;
  }
  const std::int32_t count = channelPeerCount.load(std::memory_order_acquire);
  const Members m = currentMembers();
  if (mode == Mode::ChangedOnly && count == peersDrawnCount && sameAsDrawn(m)) return;
  // Every cell is drawn whatever became of the fetches: a cell whose
  // member has no picture on the host goes to the next member, and the
  // cells left over are green, so the grid always holds sixteen.
  std::int32_t drawn[grids::kPeerCells] = {};
  int k = 0;
  for (int i = 0; i < m.count && k < grids::kPeerCells; ++i) {
    const grids::Rect r = grids::peerCell(k);
    // A pending or failed cell is cleared first: the grid is drawn over
    // what an earlier pass left there.
    fillCell(dc, k, kBackground);
    if (grids::takesCell(drawMemberPicture(dc, m.numbers[i], r.left, r.top, grids::kPeerCellWidth,
                                           grids::kPeerCellHeight)))
      drawn[k++] = m.numbers[i];
  }
  notePeerCells(drawn, k);
  for (; k < grids::kPeerCells; ++k) fillCell(dc, k, kFreeCell);
  drawnChannel = m.channel;
  drawnMemberCount = m.count;
  std::memcpy(drawnMembers, m.numbers, sizeof drawnMembers);
  if (mode == Mode::ChangedOnly) peersDrawnCount = count;
}

void redraw(HWND w, Mode mode) {
  win::WindowDc dc(w);
  if (dc) drawGrid(w, dc.get(), mode);
}

void unfoldTick(HWND w) {
  if (growFrame < 0) {
    RECT main{};
    GetWindowRect(mainWindow, &main);
    const grids::Frame f = grids::peerUnfoldFrame(unfoldFrame, main.right, main.top);
    MoveWindow(w, f.x, f.y, f.width, f.height, TRUE);
    UpdateWindow(w);
    if (++unfoldFrame < grids::kPeerUnfoldFrames) return;
    RECT r{};
    GetWindowRect(w, &r);
    grownFrom[0] = r.right - r.left;
    grownFrom[1] = r.bottom - r.top;
    growFrame = 0;
    return;   // the grow frames come at the same 20 ms pace
  }
  const grids::Frame f = grids::peerGrowFrame(growFrame, grownFrom[0], grownFrom[1]);
  SetWindowPos(w, nullptr, 0, 0, f.width, f.height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  UpdateWindow(w);
  if (++growFrame < grids::kPeerGrowFrames) return;
  KillTimer(w, kUnfoldTimer);
  peersReady = true;
  SetForegroundWindow(mainWindow);
  SetTimer(w, kRedrawTimer, kRedrawMs, nullptr);
  InvalidateRect(w, nullptr, TRUE);
}

bool registerClass() {
  static bool registered = false;
  if (registered) return true;
  WNDCLASSEXW wc{sizeof wc};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = peersWindowProc;
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

void togglePeersWindow() {
  if (relaxed(channelPort) == proto::kVoicePortBase) return;
  if (peersOpen) {
    PostMessageW(peersWindow, WM_CLOSE, 0, 0);
    return;
  }
  peersOpen = true;
  peersReady = false;
  peersDrawnCount = -1;
  drawnChannel = -1;
  peersWindow = registerClass() ? openMemberPictureWindow(kClassName, kTitle, -50, true, 200) : nullptr;
  if (!peersWindow) {
    peersOpen = false;   // nothing is open: the next click tries again
    return;
  }
  unfoldFrame = 0;
  growFrame = -1;
  unfoldTick(peersWindow);
  SetTimer(peersWindow, kUnfoldTimer, grids::kPeerUnfoldMs, nullptr);
}

LRESULT CALLBACK peersWindowProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT: {
      win::PaintDc dc(w);
      if (dc && peersReady) drawGrid(w, dc.get(), Mode::Full);
      return 0;
    }
    case WM_TIMER:
      if (wp == kUnfoldTimer) unfoldTick(w);
      if (wp == kRedrawTimer && peersReady) redraw(w, Mode::ChangedOnly);
      return 0;
    case kMemberPictureArrived:
      // Only a member of the grid matters; the full draw reads the cache.
      if (peersReady) {
        for (int i = 0; i < drawnMemberCount; ++i)
          if (drawnMembers[i] == static_cast<std::int32_t>(wp)) {
            redraw(w, Mode::Full);
            break;
          }
      }
      return 0;
    case WM_GETOBJECT:
      return answerPeersObject(w, wp, lp);
    case WM_DESTROY:
      KillTimer(w, kRedrawTimer);
      KillTimer(w, kUnfoldTimer);
      unwatchMemberPictures(w);
      peersOpen = false;
      peersWindow = nullptr;
      return 0;
    default:
      return DefWindowProcW(w, msg, wp, lp);
  }
}
