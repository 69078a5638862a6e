#include "Orva-Lin/web/params_window.h"

#include <commdlg.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "Orva-Lin/audio/endpoint_volume.h"
#include "Orva-Lin/audio/input_device_window.h"
#include "Orva-Lin/audio/input_devices.h"
#include "Orva-Lin/draw_helpers.h"
#include "Orva-Lin/main_window.h"
#include "Orva-Lin/panel.h"
#include "Orva-Lin/shared_state.h"
#include "Orva-Lin/web/account.h"
#include "Orva-Lin/web/http.h"
#include "Orva-Lin/web/params_accessible.h"
#include "Orva-Lin/web/records.h"

namespace {

constexpr wchar_t kClassName[] = L"ParamWndClass";
constexpr wchar_t kTitle[] = L"Orva-Lin Params";
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kYellow = RGB(255, 255, 0);
constexpr RECT kColourSwatch{60, 383, 75, 398};
constexpr RECT kInputDeviceZone{0, 0, 150, 150};
constexpr int kUnfoldStep = 10;
constexpr int kUnfoldSide = 200;
constexpr int kUnfoldHeight = 450;
constexpr DWORD kUnfoldPauseMs = 20;

HWND paramsWindow = nullptr;
bool paramsWindowOpen = false;
bool paramsWindowReady = false;
COLORREF customColours[16];

bool inside(const RECT& r, int x, int y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

// An endpoint's friendly name, white on red, Arial 14 bold.
void drawDeviceName(HDC dc, const wchar_t* name, int x, int y) {
  win::Font font = panelFont(14);
  if (!font) return;
  win::Selection useFont(dc, font.get());
  SetTextColor(dc, kWhite);
  SetBkColor(dc, kRed);
  SetBkMode(dc, OPAQUE);
  TextOutW(dc, x, y, name, static_cast<int>(std::wcslen(name)));
}

void paint(HWND w) {
  win::PaintDc dc(w);
  if (!dc || !paramsWindowReady) return;

  EndpointDescription input{};
  char label[64];
  const std::int32_t chosen = inputDeviceIndex.load(std::memory_order_relaxed);
  if (chosen < 0 || chosen >= kInputDeviceEntries) {
    describeDefaultCaptureEndpoint(input);
    std::snprintf(label, sizeof label, "INPUT DEVICE (%s)", "Default");
  } else {
    describeCaptureEndpoint(inputDevices[chosen].endpointIndex, input);
    std::snprintf(label, sizeof label, "INPUT DEVICE (%ld)          ", static_cast<long>(chosen));
  }
  drawLabel(dc.get(), label, 50, 10, kRed);
  drawFileIcon(w, input.iconId, input.iconModule, 30);
  drawDeviceName(dc.get(), input.friendlyName, 20, 100);

  drawLabel(dc.get(), "OUTPUT DEVICE", 50, 140, kRed);
  EndpointDescription output{};
  describeDefaultRenderEndpoint(output);
  drawFileIcon(w, output.iconId, output.iconModule, 160);
  drawDeviceName(dc.get(), output.friendlyName, 20, 230);

  struct Line {
    const char* text;
    int x, y;
    COLORREF colour;
  };
  const Line lines[] = {
      {ownProfile.firstName, 10, 260, kWhite}, {"City: ", 10, 280, kWhite}, {ownProfile.city, 50, 280, kWhite},
      {ownProfile.phrase, 10, 300, kYellow},   {"-", 10, 320, kWhite},      {ownProfile.email, 10, 340, kYellow},
      {"User: ", 10, 360, kYellow},            {ownProfile.folder, 55, 360, kYellow},
      {"Color: ", 10, 380, kYellow},
  };
  for (const Line& l : lines) drawUtf8Text(dc.get(), l.text, l.x, l.y, l.colour);

  const COLORREF colour = panelBackground.load(std::memory_order_relaxed);
  win::Brush swatch(CreateSolidBrush(colour));
  if (swatch) FillRect(dc.get(), &kColourSwatch, swatch.get());
  char components[16];
  std::snprintf(components, sizeof components, "%ld.%ld.%ld", static_cast<long>(GetRValue(colour)),
                static_cast<long>(GetGValue(colour)), static_cast<long>(GetBValue(colour)));
  drawUtf8Text(dc.get(), components, 80, 380, kYellow);
}

// The colour to store on the host, as kColourWanted | RGB; 0 when none
// waits. A thread of its own posts it, so a slow host never holds up the
// window; a colour chosen meanwhile is posted after, the last one winning.
constexpr std::uint32_t kColourWanted = 0x1000000;
std::atomic<std::uint32_t> colourWanted{0};
std::atomic<bool> colourPosting{false};

DWORD WINAPI ColourPostThread(void*) {
  for (;;) {
    const std::uint32_t wanted = colourWanted.exchange(0);
    if (wanted) {
      const std::uint16_t account = accountNumber.load(std::memory_order_relaxed);
      std::uint8_t record[web::kColourRecordSize];
      const web::ColourUpdate update{GetRValue(wanted), GetGValue(wanted), GetBValue(wanted), account};
      wchar_t path[kServicePathUnits];
      if (web::buildColourRecord(record, update) == sizeof record &&
          buildServicePath(kUsersBase, account, kVariantParamsUpdate, std::span<wchar_t, kServicePathUnits>(path)))
        postToHost(path, record, sizeof record);
      continue;
    }
    colourPosting.store(false);
    // A colour queued between the exchange and the store above is taken
    // by this thread, unless the window already started another.
    if (colourWanted.load() == 0 || colourPosting.exchange(true)) return 0;
  }
}

void storeColour(COLORREF colour) {
  colourWanted.store(kColourWanted | (colour & 0xFFFFFF));
  if (colourPosting.exchange(true)) return;
  win::Handle thread(CreateThread(nullptr, 0, ColourPostThread, nullptr, 0, nullptr));
  if (!thread) colourPosting.store(false);
}

// The new colour holds at once for every panel; storing it on the host may
// fail, silently: the next start takes the colour from the host again.
void chooseColour(HWND w) {
  CHOOSECOLORW cc{sizeof cc};
  cc.hwndOwner = w;
  cc.rgbResult = RGB(0, 0, 0);
  cc.lpCustColors = customColours;
  cc.Flags = CC_FULLOPEN | CC_RGBINIT;
  if (ChooseColorW(&cc)) {
    panelBackground.store(cc.rgbResult & 0xFFFFFF, std::memory_order_relaxed);
    storeColour(cc.rgbResult);
  }
  InvalidateRect(mainWindow, nullptr, TRUE);
  InvalidateRect(w, nullptr, TRUE);
  SetForegroundWindow(mainWindow);
}

void unfold(HWND w, int left, int top) {
  for (int s = 0; s <= kUnfoldSide; s += kUnfoldStep) {
    SetWindowPos(w, nullptr, left - s, top + kUnfoldSide - s, s, s, SWP_NOACTIVATE | SWP_NOZORDER);
    UpdateWindow(w);
    Sleep(kUnfoldPauseMs);
  }
  for (int h = kUnfoldSide; h <= kUnfoldHeight; h += kUnfoldStep) {
    SetWindowPos(w, nullptr, left - kUnfoldSide, top, kUnfoldSide, h, SWP_NOACTIVATE | SWP_NOZORDER);
    UpdateWindow(w);
    Sleep(kUnfoldPauseMs);
  }
}

}  // namespace

int toggleParamsWindow() {
  if (paramsWindowOpen) {
    PostMessageW(paramsWindow, WM_CLOSE, 0, 0);
    return 1;
  }
  paramsWindowOpen = true;
  paramsWindowReady = false;
  RECT main{};
  GetWindowRect(mainWindow, &main);
  static win::Brush red(CreateSolidBrush(kRed));
  WNDCLASSEXW wc{sizeof wc};
  wc.lpfnWndProc = paramsWindowProc;
  wc.hInstance = appInstance;
  wc.hbrBackground = red.get();
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);  // a repeated registration fails harmlessly
  paramsWindow = CreateWindowExW(0, kClassName, kTitle, WS_VISIBLE | WS_SYSMENU, main.left - kUnfoldSide,
                                 main.top + kUnfoldSide, 10, 10, mainWindow, nullptr, appInstance, nullptr);
  if (!paramsWindow) {
    paramsWindowOpen = false;  // nothing is open: the next click tries again
    return 0;
  }
  ShowWindow(paramsWindow, SW_SHOW);
  unfold(paramsWindow, main.left, main.top);
  // The window may have been closed while it unfolded.
  if (!paramsWindowOpen) return 1;
  paramsWindowReady = true;
  InvalidateRect(paramsWindow, nullptr, TRUE);
  SetForegroundWindow(mainWindow);
  return 1;
}

LRESULT CALLBACK paramsWindowProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CREATE: return 0;
    case WM_PAINT:
      paint(w);
      return 0;
    case WM_LBUTTONDOWN: {
      const int x = static_cast<short>(LOWORD(lp));
      const int y = static_cast<short>(HIWORD(lp));
      if (inside(kColourSwatch, x, y)) chooseColour(w);
      if (inside(kInputDeviceZone, x, y)) openInputDeviceWindow(w);
      return 0;
    }
    case WM_GETOBJECT:
      return answerParamsObject(w, wp, lp);
    case WM_CLOSE:
      DestroyWindow(w);
      return 0;
    case WM_DESTROY:
      paramsWindowOpen = false;
      paramsWindowReady = false;
      paramsWindow = nullptr;
      return 0;
    default: return DefWindowProcW(w, msg, wp, lp);
  }
}
