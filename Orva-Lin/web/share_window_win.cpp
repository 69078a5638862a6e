#include "Orva-Lin/web/share_window.h"

#include "Orva-Lin/draw_helpers.h"
#include "Orva-Lin/main_window.h"
#include "Orva-Lin/panel.h"
#include "Orva-Lin/resource.h"
#include "Orva-Lin/shared_state.h"
#include "Orva-Lin/web/picture_fetch.h"
#include "Orva-Lin/web/share_items.h"
#include "Orva-Lin/web/share_layout.h"
#include "Orva-Lin/web/share_upload.h"
#include "common/protocol.h"
#include "common/win32_guards.h"

namespace {

constexpr wchar_t kClassName[] = L"CanvasWndClass";
constexpr wchar_t kTitle[] = L"Orva-Lin Echange et Partage";
constexpr int kWidth = 600;
constexpr int kHeight = 600;

bool shareWindowOpen = false;
bool shareImageFetched = false;
// Kept after the window closes; replaced (and the old one freed) by the
// next picture that decodes. Shown only while its channel is the current
// one: a window opened on another channel waits for its own.
win::Bitmap shareBitmap;
int shareBitmapChannel = -1;
HWND shareWindow = nullptr;

int channelNumber() { return relaxed(channelPort) - proto::kVoicePortBase; }

void drawSharedPicture(HWND w, HDC dc) {
  if (!shareImageFetched) {
    // The worker fetches; kSharePictureArrived brings the picture back.
    // A failed fetch is not retried until the next refresh.
    requestSharePicture(channelNumber(), w);
    shareImageFetched = true;
  }
  if (!shareBitmap || shareBitmapChannel != channelNumber()) return;
  BITMAP bm{};
  if (!GetObjectW(shareBitmap.get(), sizeof bm, &bm)) return;
  RECT client{};
  GetClientRect(w, &client);
  SetScrollRange(w, SB_HORZ, 0, share::scrollRangeEnd(bm.bmWidth), FALSE);
  SetScrollRange(w, SB_VERT, 0, share::scrollRangeEnd(bm.bmHeight), FALSE);
  SetScrollPos(w, SB_HORZ, 0, TRUE);
  SetScrollPos(w, SB_VERT, 0, TRUE);
  const share::Placement p = share::placePicture(client.right, client.bottom, bm.bmWidth, bm.bmHeight);
  drawPictureScaled(dc, shareBitmap.get(), p.left, p.top, p.width, p.height);
}

void paint(HWND w) {
  win::PaintDc dc(w);
  if (!dc) return;
  for (std::size_t i = 0; i < kShareItemCount && shareItems[i].kind != kShareItemEnd; ++i)
    if (shareItems[i].kind == kShareItemPicture) drawSharedPicture(w, dc.get());
}

void refresh(HWND w) {
  shareImageFetched = false;
  InvalidateRect(w, nullptr, TRUE);
}

bool registerClass() {
  WNDCLASSEXW wc{sizeof wc};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = shareCanvasProc;
  wc.hInstance = appInstance;
  wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  wc.hIconSm = LoadIconW(nullptr, IDI_APPLICATION);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszMenuName = MAKEINTRESOURCEW(IDM_SHARE_MENU);
  wc.lpszClassName = kClassName;
  return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

void toggleShareWindow() {
  if (channelNumber() == 0) return;
  if (shareWindowOpen) {
    PostMessageW(shareWindow, WM_CLOSE, 0, 0);
    return;
  }
  shareWindowOpen = true;
  startPictureWorker();
  takeSharePicture(-1);   // frees one that came for a window closed before it
  RECT main{};
  GetWindowRect(mainWindow, &main);
  shareWindow = registerClass() ? CreateWindowExW(0, kClassName, kTitle, WS_OVERLAPPEDWINDOW, main.left - 200,
                                                  main.top + 50, kWidth, kHeight, mainWindow, nullptr, appInstance,
                                                  nullptr)
                                : nullptr;
  if (!shareWindow) {
    shareWindowOpen = false;   // nothing is open: the next click tries again
    return;
  }
  ShowWindow(shareWindow, SW_SHOWNORMAL);
  SetForegroundWindow(mainWindow);
  resetShareItems();
}

LRESULT CALLBACK shareCanvasProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT:
      paint(w);
      return 0;
    case kSharePictureArrived:
      if (HBITMAP arrived = takeSharePicture(channelNumber())) {
        shareBitmap.reset(arrived);
        shareBitmapChannel = channelNumber();
        InvalidateRect(w, nullptr, TRUE);
      }
      return 0;
    case kShareUploadDone:
      refresh(w);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wp) == IDM_REFRESH) {
        refresh(w);
        return 0;
      }
      if (LOWORD(wp) == IDM_SEND) {
        // The upload itself ends with kShareUploadDone; a choice that
        // came to nothing refreshes at once.
        if (uploadSharedImage(channelNumber(), w) != kUploadStarted) refresh(w);
        return 0;
      }
      break;
    case WM_LBUTTONUP:
      SetForegroundWindow(mainWindow);
      return 0;
    case WM_DESTROY:
      shareWindowOpen = false;
      shareImageFetched = false;
      shareWindow = nullptr;
      return 0;
    default:
      break;
  }
  return DefWindowProcW(w, msg, wp, lp);
}
