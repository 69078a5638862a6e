#include "Orva-Lin/main_window.h"

#include <shellapi.h>

#include <cstdio>
#include <cstring>

#include "Orva-Lin/animation.h"
#include "Orva-Lin/audio/endpoint_volume.h"
#include "Orva-Lin/companion_link_win.h"
#include "Orva-Lin/draw_helpers.h"
#include "Orva-Lin/main_accessible.h"
#include "Orva-Lin/net/group_list_window.h"
#include "Orva-Lin/net/peers_window.h"
#include "Orva-Lin/panel.h"
#include "Orva-Lin/resource.h"
#include "Orva-Lin/shared_state.h"
#include "Orva-Lin/transmit.h"
#include "Orva-Lin/web/account.h"
#include "Orva-Lin/web/params_window.h"
#include "Orva-Lin/web/share_window.h"
#include "common/protocol.h"
#include "common/win32_guards.h"

input::Zones mainZones;
bool quitZoneReady = false;
HINSTANCE appInstance = nullptr;

namespace {

constexpr UINT kAnimationTimer = 4;
constexpr WPARAM kQuitCommand = 105;
constexpr wchar_t kCreditText[] = L"Équipe Orva-Lin";
bool quitHighlighted = false;

void setStatus(std::string_view text) {
  const std::size_t n = text.size() < kStatusTextBytes - 1 ? text.size() : kStatusTextBytes - 1;
  std::memcpy(statusText, text.data(), n);
  statusText[n] = '\0';
}

void closeMainWindow() { PostMessageW(mainWindow, WM_CLOSE, 0, 0); }

void paint(HWND w) {
  win::PaintDc dc(w);
  if (!dc) return;
  ++panelPaints;  // the face below covers every piece: each redraws whole
  const COLORREF background = panelBackground.load(std::memory_order_relaxed);
  {
    win::Brush brush(CreateSolidBrush(background));
    win::Pen pen(CreatePen(PS_SOLID, 4, RGB(255, 255, 0)));
    win::Selection useBrush(dc.get(), brush.get());
    win::Selection usePen(dc.get(), pen.get());
    RoundRect(dc.get(), 0, 0, input::kWindowWidth, input::kWindowHeight, 20, 20);
  }
  drawTitle();
  drawQuitCross(false);
  {
    win::Font font = panelFont(14);
    win::Selection useFont(dc.get(), font.get());
    SetBkMode(dc.get(), OPAQUE);
    SetBkColor(dc.get(), background);
    SetTextColor(dc.get(), RGB(255, 255, 255));
    TextOutW(dc.get(), 430, 605, L"Version ", 8);
    TextOutW(dc.get(), 480, 605, L"0.7.5", 5);
    SetTextColor(dc.get(), RGB(255, 255, 0));
    const input::Rect d = mainZones.designer;
    RECT r{d.left, d.top, d.right, d.bottom};
    DrawTextW(dc.get(), kCreditText, -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  }
  paintedSinceFetch.store(true, std::memory_order_relaxed);
}

void onKey(WPARAM vk, bool down) {
  const input::Key key = input::keyFor(static_cast<unsigned>(vk));
  if (!down) {
    if (key.action == input::KeyAction::Talk) setTransmitFlag(0);
    inactivitySeconds.store(kInactivityStartSeconds, std::memory_order_relaxed);
    return;
  }
  switch (key.action) {
    case input::KeyAction::Quit: closeMainWindow(); break;
    case input::KeyAction::Talk: setTransmitFlag(1); break;
    case input::KeyAction::Channel:
      // The count first: the panel must never show the old count under the
      // new channel's name.
      channelPeerCount.store(-1, std::memory_order_relaxed);
      channelPort.store(proto::kVoicePortBase + key.channel, std::memory_order_relaxed);
      break;
    case input::KeyAction::About: aboutBox(); break;
    case input::KeyAction::Inactive:
      MessageBoxW(mainWindow, L"Désolé.\nCette touche est inactive !", L"Info Clavier", MB_OK);
      break;
  }
}

void onMouseMove(int x, int y) {
  const bool overQuit = input::contains(mainZones.quit, x, y);
  if (overQuit && !quitHighlighted) {
    drawQuitCross(true);
    quitHighlighted = true;
  } else if (!overQuit && quitHighlighted) {
    drawQuitCross(false);
    quitHighlighted = false;
  }
  setStatus(input::helpText(input::hoverZone(mainZones, x, y)));
}

void launchCompanion() {
  win::Handle running(OpenMutexW(SYNCHRONIZE, FALSE, proto::kCompanionMutexName));
  const wchar_t* text = L"Le synthésieur est lancé";
  if (running) {
    text = L"Le synthésieur est déjà activé";
  } else {
    // Talvo lives beside this program, wherever it was installed.
    wchar_t folder[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, folder, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
      wchar_t* slash = std::wcsrchr(folder, L'\\');
      if (slash) slash[1] = L'\0';
      wchar_t program[MAX_PATH + 16];
      std::swprintf(program, MAX_PATH + 16, L"%lsTalvo.exe", folder);
      ShellExecuteW(nullptr, L"open", program, nullptr, folder, SW_SHOWNORMAL);
    }
  }
  MessageBoxW(nullptr, text, L"Information", MB_OK);
}

void onLeftClick(int x, int y) {
  using input::Zone;
  const Zone zone = input::leftClickZone(mainZones, x, y);
  switch (zone) {
    case Zone::VolumeKnob:
      setRenderEndpointLevel(input::knobLevel(input::knobAngle(input::grow(mainZones.volumeKnob, input::kKnobGrow), x, y)));
      break;
    case Zone::MicGainKnob:
      setCaptureEndpointLevel(input::knobLevel(input::knobAngle(input::grow(mainZones.micGainKnob, input::kKnobGrow), x, y)));
      break;
    case Zone::ParamsKnob: toggleParamsWindow(); break;
    case Zone::Network: togglePeersWindow(); break;
    case Zone::Channel: toggleGroupList(); break;
    case Zone::Documentation: {
      wchar_t address[300];
      webPageAddress(L"/FR-Orva-Lin.php", address, 300);
      ShellExecuteW(nullptr, L"open", address, nullptr, nullptr, SW_SHOWNORMAL);
      break;
    }
    case Zone::Animation: toggleShareWindow(); break;
    case Zone::Companion: launchCompanion(); break;
    case Zone::Designer: aboutBox(); break;
    case Zone::Quit: closeMainWindow(); break;
    default: break;
  }
}

void onRightClick(int x, int y) {
  const input::RightClick click = input::rightClick(mainZones, x, y);
  setStatus(click.status);
  if (!click.spoken.empty()) sendToCompanion(click.spoken.size(), click.spoken.data());
}

INT_PTR CALLBACK aboutProc(HWND dialog, UINT msg, WPARAM wp, LPARAM) {
  if (msg == WM_INITDIALOG) return TRUE;
  if (msg == WM_COMMAND && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
    EndDialog(dialog, LOWORD(wp));
    return TRUE;
  }
  return FALSE;
}

}  // namespace

void webPageAddress(const wchar_t* path, wchar_t* out, int outChars) {
  if (webHost.port == 443)
    std::swprintf(out, static_cast<std::size_t>(outChars), L"https://%hs%ls", webHost.name, path);
  else
    std::swprintf(out, static_cast<std::size_t>(outChars), L"https://%hs:%u%ls", webHost.name,
                  static_cast<unsigned>(webHost.port), path);
}

void aboutBox() { DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_ABOUT), mainWindow, aboutProc, 0); }

void CALLBACK statusLineTick(HWND, UINT, UINT_PTR, DWORD) {
  // Redrawn when the text, the background or a paint says so: the same
  // pixels as every tick.
  static char drawnText[kStatusTextBytes] = {};
  static COLORREF drawnBackground = CLR_INVALID;
  static unsigned drawnPaints = ~0u;
  const COLORREF background = panelBackground.load(std::memory_order_relaxed);
  if (drawnPaints == panelPaints && drawnBackground == background &&
      std::memcmp(drawnText, statusText, kStatusTextBytes) == 0)
    return;
  win::WindowDc dc(mainWindow);
  if (!mainWindow || !dc) return;
  static const win::Font font = panelFont(17);
  if (!font) return;
  std::memcpy(drawnText, statusText, kStatusTextBytes);
  drawnBackground = background;
  drawnPaints = panelPaints;
  {
    static const win::Brush yellow(CreateSolidBrush(RGB(255, 255, 0)));
    RECT frame{8, 43, 542, 67};
    FrameRect(dc.get(), &frame, yellow.get());
  }
  const input::Rect s = input::kStatusLine;
  RECT line{s.left, s.top, s.right, s.bottom};
  FillRect(dc.get(), &line, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  wchar_t wide[kStatusTextBytes];
  const int n = MultiByteToWideChar(kTextCodePage, 0, statusText, -1, wide, kStatusTextBytes);
  if (n <= 0) return;
  win::Selection useFont(dc.get(), font.get());
  SetTextColor(dc.get(), RGB(20, 255, 71));
  SetBkColor(dc.get(), background);
  SetBkMode(dc.get(), OPAQUE);
  DrawTextW(dc.get(), wide, -1, &line, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

LRESULT CALLBACK mainWindowProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_DESTROY:
      for (win::Bitmap& picture : channelPictures) picture.reset();
      PostQuitMessage(0);
      return 0;
    case WM_PAINT:
      paint(w);
      return 0;
    case WM_NCHITTEST: {
      RECT r{};
      GetWindowRect(w, &r);
      const int x = static_cast<short>(LOWORD(lp)) - r.left;
      const int y = static_cast<short>(HIWORD(lp)) - r.top;
      return input::contains(mainZones.drag, x, y) ? HTCAPTION : HTCLIENT;
    }
    case WM_KEYDOWN:
      onKey(wp, true);
      return 0;
    case WM_KEYUP:
      onKey(wp, false);
      return 0;
    case WM_COMMAND:
      if (wp == kQuitCommand) {
        DestroyWindow(w);
        return 0;
      }
      break;
    case WM_TIMER:
      if (wp == kAnimationTimer) drawNextAnimationFrame(1);
      return 0;
    case WM_MOUSEMOVE:
      onMouseMove(static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp)));
      return 0;
    case WM_LBUTTONDOWN:
      onLeftClick(static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp)));
      return 0;
    case WM_RBUTTONDOWN:
      onRightClick(static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp)));
      return 0;
    case WM_GETOBJECT:
      return answerMainObject(w, wp, lp);
    case kNoticeShown:
      noticeSupervisorNotice(reinterpret_cast<HWND>(wp));
      return 0;
    case kTalkerCardArrived:
      showArrivedTalkerCard();
      return 0;
    case WM_CREATE:
    case WM_HSCROLL:
      return 0;
    default:
      break;
  }
  return DefWindowProcW(w, msg, wp, lp);
}
