#include "Orva-Lin/audio/input_device_window.h"

#include <mmsystem.h>

#include <atomic>

#include "Orva-Lin/audio/endpoint_volume.h"
#include "Orva-Lin/audio/input_devices.h"
#include "Orva-Lin/main_window.h"
#include "Orva-Lin/panel.h"
#include "common/win32_guards.h"

namespace {

constexpr wchar_t kClassName[] = L"InputDeviceWndClass";
constexpr wchar_t kTitle[] = L"Orva-Lin Input device";
constexpr int kWidth = 400, kHeight = 500;
constexpr int kLeftOfMain = -300, kBelowMainTop = 200;
constexpr int kButtonX = 10, kButtonY = 10, kButtonPitch = 30, kButtonWidth = 350, kButtonHeight = 25;
constexpr COLORREF kBackground = RGB(127, 127, 127);

std::atomic<std::int32_t> windowOpen{0};
HWND selectionWindow = nullptr;
HWND notifyWindow = nullptr;
bool buttonsMade = false;

bool waveInProduct(void*, int id, wchar_t (&out)[kFriendlyNameUnits]) {
  WAVEINCAPSW caps{};
  if (waveInGetDevCapsW(static_cast<UINT>(id), &caps, sizeof caps) != MMSYSERR_NOERROR) return false;
  copyWide(out, kFriendlyNameUnits, caps.szPname);
  return true;
}

bool captureEndpoint(void*, int position, EndpointDescription& d) {
  d.friendlyName[0] = L'\0';
  describeCaptureEndpoint(position, d);
  return d.friendlyName[0] != L'\0';
}

void buildTable() {
  const InputDeviceSource source{static_cast<int>(waveInGetNumDevs()), nullptr, waveInProduct, captureEndpoint};
  fillInputDeviceTable(inputDevices, source);
}

void makeButtons(HWND w) {
  const HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(w, GWLP_HINSTANCE));
  for (int i = 0; i < kInputDeviceEntries; ++i) {
    HWND b = CreateWindowExW(0, L"BUTTON", inputDevices[i].displayName, WS_CHILD | WS_VISIBLE | BS_RADIOBUTTON,
                             kButtonX, kButtonY + kButtonPitch * i, kButtonWidth, kButtonHeight, w,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(i)), instance, nullptr);
    if (b && i == inputDeviceIndex.load()) SendMessageW(b, BM_SETCHECK, BST_CHECKED, 0);
  }
}

bool registerClass() {
  static win::Brush background(CreateSolidBrush(kBackground));
  static bool registered = false;
  if (registered) return true;
  WNDCLASSEXW wc{sizeof wc};
  wc.lpfnWndProc = inputDeviceWindowProc;
  wc.hInstance = appInstance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = background.get();
  wc.lpszClassName = kClassName;
  registered = RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  return registered;
}

}  // namespace

int openInputDeviceWindow(HWND parametersWindow) {
  if (windowOpen.load() == 1) {
    PostMessageW(selectionWindow, WM_CLOSE, 0, 0);
    return 1;
  }
  if (!registerClass()) return 0;
  RECT main{};
  GetWindowRect(mainWindow, &main);
  notifyWindow = parametersWindow;
  buttonsMade = false;
  selectionWindow = CreateWindowExW(0, kClassName, kTitle, WS_VISIBLE | WS_SYSMENU, main.left + kLeftOfMain,
                                    main.top + kBelowMainTop, kWidth, kHeight, mainWindow, nullptr, appInstance,
                                    nullptr);
  if (!selectionWindow) return 0;
  windowOpen.store(1);
  ShowWindow(selectionWindow, SW_SHOW);
  // The paint that makes the buttons is handled once this returns, after
  // the table below is built.
  InvalidateRect(selectionWindow, nullptr, TRUE);
  SetForegroundWindow(mainWindow);
  buildTable();
  return 1;
}

LRESULT CALLBACK inputDeviceWindowProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      if (!buttonsMade) {
        buttonsMade = true;
        makeButtons(w);
      }
      win::PaintDc dc(w);
      return 0;
    }
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id >= 0 && id < kInputDeviceEntries && HIWORD(wParam) == BN_CLICKED) {
        PostMessageW(w, WM_CLOSE, 0, 0);
        inputDeviceIndex.store(inputDevices[id].waveInId);
        return 0;
      }
      break;
    }
    case WM_CLOSE:
      windowOpen.store(0);
      DestroyWindow(w);
      selectionWindow = nullptr;
      if (notifyWindow && IsWindow(notifyWindow)) InvalidateRect(notifyWindow, nullptr, TRUE);
      return 0;
    default: break;
  }
  return DefWindowProcW(w, message, wParam, lParam);
}
