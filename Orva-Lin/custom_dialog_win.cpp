#include "Orva-Lin/custom_dialog.h"

#include <windows.h>

#include "Orva-Lin/main_accessible.h"
#include "Orva-Lin/panel.h"

namespace {

constexpr UINT_PTR kCloseTimer = 1;
constexpr UINT kCloseAfterMs = 10000;
constexpr int kTextChars = 1024;

LRESULT CALLBACK customDialogProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CREATE:
      SetTimer(w, kCloseTimer, kCloseAfterMs, nullptr);
      return 0;
    case WM_TIMER:
      if (wp == kCloseTimer) {
        KillTimer(w, kCloseTimer);
        DestroyWindow(w);
      }
      return 0;
    case WM_COMMAND:
      if (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL) DestroyWindow(w);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(w, msg, wp, lp);
  }
}

}  // namespace

void showCustomDialog(const char* utf8Text) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW wc{};
  wc.lpfnWndProc = customDialogProc;
  wc.hInstance = instance;
  // Without a background brush nothing would erase the window behind the
  // text, and without a cursor the pointer would keep whatever it last was.
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = L"CustomDialog";
  RegisterClassW(&wc);  // already registered by an earlier notice: that one stands

  RECT main{};
  GetWindowRect(mainWindow, &main);
  HWND w = CreateWindowExW(0, L"CustomDialog", L"Info du Superviseur", WS_OVERLAPPEDWINDOW, main.left + 20,
                           main.top + 20, 400, 200, mainWindow, nullptr, instance, nullptr);
  if (!w) return;
  ShowWindow(w, SW_SHOW);
  UpdateWindow(w);
  wchar_t text[kTextChars] = L"";
  if (!utf8Text || MultiByteToWideChar(CP_UTF8, 0, utf8Text, -1, text, kTextChars) <= 0) text[0] = L'\0';
  CreateWindowExW(0, L"STATIC", text, WS_CHILD | WS_VISIBLE, 10, 10, 280, 150, w, nullptr, instance, nullptr);
  PostMessageW(mainWindow, kNoticeShown, reinterpret_cast<WPARAM>(w), 0);

  // The window's own loop: Enter and Escape reach it as OK and Cancel
  // through the dialog keyboard handling, though it is no dialog box.
  MSG msg{};
  int got = 0;
  while ((got = GetMessageW(&msg, nullptr, 0, 0)) > 0) {
    if (IsWindow(w) && IsDialogMessageW(w, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (got != 0) return;
  // The thread has one quit message at a time, and this loop took it. It
  // was the notice's own unless something else ended too: the main window
  // destroyed meanwhile (taking its owned notice with it), or a quit posted
  // while the notice was still up. Those belong to the loop outside, which
  // would otherwise wait for ever with no window left.
  const bool noticeStillUp = IsWindow(w) != FALSE;
  if (noticeStillUp) DestroyWindow(w);
  if (noticeStillUp || !IsWindow(mainWindow)) PostQuitMessage(static_cast<int>(msg.wParam));
}
