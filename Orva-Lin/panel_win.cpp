#include "Orva-Lin/panel.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>

#include "Orva-Lin/custom_dialog.h"
#include "Orva-Lin/draw_helpers.h"
#include "Orva-Lin/input_map.h"
#include "Orva-Lin/main_accessible.h"
#include "Orva-Lin/main_window.h"
#include "Orva-Lin/net/channels.h"
#include "Orva-Lin/panel_geometry.h"
#include "Orva-Lin/shared_state.h"

HWND mainWindow = nullptr;
win::Bitmap arrowPicture;
win::Bitmap docPicture;
win::Bitmap synthePicture;
win::Bitmap channelPictures[11];
RECT timeLeftRect{};
unsigned panelPaints = 0;

namespace {

win::Bitmap ledPictures[panel::kLedPictures];  // by panel::ledPictureIndex

constexpr COLORREF kYellow = RGB(255, 255, 0);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr char kInactivityText[] =
    "Le délais d'utilisation sans activité est terminé\nLe superviseur va maintenant fermer\n"
    "automatiquement votre application\ndans 20 secondes";

COLORREF background() { return panelBackground.load(std::memory_order_relaxed); }

// What a piece last put on the panel: the paints it has seen and the label
// background it drew on. Whole() says the piece must redraw everything.
struct Drawn {
  unsigned paints = ~0u;
  COLORREF background = CLR_INVALID;
  bool whole() {
    const bool stale = paints != panelPaints || background != ::background();
    paints = panelPaints;
    background = ::background();
    return stale;
  }
};

void drawLed(HDC dc, std::uint32_t code, int x, int y) {
  const int i = panel::ledPictureIndex(code);
  if (i >= 0) drawPicture(dc, ledPictures[i].get(), x, y);
}

struct Indicator {
  std::atomic<std::uint32_t>* state;
  const panel::LampPlace& at;
};
const Indicator kIndicators[panel::kIndicators] = {
    {&packetLed, panel::kIndicatorPlaces[0]},    {&httpsLedState, panel::kIndicatorPlaces[1]},
    {&txRxLedState, panel::kIndicatorPlaces[2]}, {&voiceLinkLed, panel::kIndicatorPlaces[3]},
    {&supervisorLed, panel::kIndicatorPlaces[4]}, {&serverLedPhase, panel::kIndicatorPlaces[5]},
};

// Reads the whole container; null bytes when the file is missing or memory
// runs out.
std::unique_ptr<std::uint8_t[]> readContainer(const wchar_t* name, std::size_t& size) {
  size = 0;
  const HANDLE opened = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return nullptr;
  win::Handle file(opened);
  LARGE_INTEGER length{};
  if (!GetFileSizeEx(file.get(), &length) || length.QuadPart <= 0 || length.QuadPart > MAXDWORD) return nullptr;
  std::unique_ptr<std::uint8_t[]> bytes(new (std::nothrow) std::uint8_t[length.QuadPart]);
  if (!bytes) {
    std::fputs("Erreur d'allocation mémoire\n", stderr);
    return nullptr;
  }
  DWORD got = 0;
  if (!ReadFile(file.get(), bytes.get(), static_cast<DWORD>(length.QuadPart), &got, nullptr)) return nullptr;
  size = got;
  return bytes;
}

#ifdef ORVA_TEST_HOOKS
// Test builds only: the Wine tests start the countdown near its end
// instead of waiting 75 minutes. Release builds have no such switch.
void applyTestCountdown() {
  static bool applied = false;
  if (applied) return;
  applied = true;
  if (const char* v = std::getenv("ORVA_TEST_INACTIVITY_SECONDS"))
    inactivitySeconds.store(std::atoi(v), std::memory_order_relaxed);
}
#endif

}  // namespace

void drawTitle() {
  win::WindowDc dc(mainWindow);
  if (!mainWindow || !dc) return;
  win::Font font = panelFont(30);
  if (!font) return;
  win::Selection useFont(dc.get(), font.get());
  SetTextColor(dc.get(), kYellow);
  SetBkColor(dc.get(), background());
  SetBkMode(dc.get(), OPAQUE);
  RECT r{125, 15, 425, 35};
  DrawTextW(dc.get(), L"ORVA-LIN", -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

void drawQuitCross(bool highlighted) {
  if (!quitZoneReady) return;
  win::WindowDc dc(mainWindow);
  if (!mainWindow || !dc) return;
  win::Pen pen(CreatePen(PS_SOLID, 4, highlighted ? kYellow : kRed));
  if (!pen) return;
  win::Selection usePen(dc.get(), pen.get());
  const input::Rect q = mainZones.quit;
  MoveToEx(dc.get(), q.left + 10, q.top + 10, nullptr);
  LineTo(dc.get(), q.left + 20, q.top + 20);
  MoveToEx(dc.get(), q.right - 10, q.top + 10, nullptr);
  LineTo(dc.get(), q.left + 10, q.top + 20);
}

void loadLedPictures() {
  std::size_t size = 0;
  const std::unique_ptr<std::uint8_t[]> bytes = readContainer(L"mini_leds.bmf", size);
  OpenContainer container{{bytes.get(), size}, {}};
  if (bytes && leds::readDirectory(container.bytes, container.directory)) {
    for (int i = 0; i < panel::kLedPictures; ++i)
      ledPictures[i] = loadContainerPicture(container, panel::kLedPictureNames[i]);
  }
  for (const Indicator& led : kIndicators) led.state->store(led::kBlue, std::memory_order_relaxed);
  for (auto& led : networkLedStates) led.store(static_cast<std::int32_t>(led::kBlue), std::memory_order_relaxed);
  mainZones.network = {375, 335, 480, 440};
}

void CALLBACK channelPanelTick(HWND, UINT, UINT_PTR, DWORD) {
  if (!panelReady.load(std::memory_order_relaxed)) return;
  static Drawn drawn;
  static std::int32_t drawnPort = 0;
  static std::int32_t drawnCount = 0;
  const std::int32_t port = channelPort.load(std::memory_order_relaxed);
  const std::int32_t peers = channelPeerCount.load(std::memory_order_relaxed);
  const bool whole = drawn.whole();
  if (!whole && port == drawnPort && peers == drawnCount) return;
  win::WindowDc dc(mainWindow);
  if (!mainWindow || !dc) {
    drawn = Drawn{};
    return;
  }
  noticeChannelShown(port != drawnPort, peers != drawnCount);
  drawnPort = port;
  drawnCount = peers;
  const input::Rect zone = mainZones.channel;
  if (channelPictures[0]) {
    BITMAP bm{};
    win::MemoryDc mem(CreateCompatibleDC(dc.get()));
    if (mem && GetObjectW(channelPictures[0].get(), sizeof bm, &bm)) {
      win::Selection usePicture(mem.get(), channelPictures[0].get());
      BitBlt(dc.get(), zone.left, zone.top, bm.bmWidth, bm.bmHeight, mem.get(), 0, 0, SRCCOPY);
    }
  }
  const int channel = channels::indexOfPort(port);
  if (channel > 0) drawPicture(dc.get(), channelPictures[channel].get(), 50, 100);
  {
    static const win::Brush red(CreateSolidBrush(kRed));
    RECT frame{zone.left, zone.top, zone.right, zone.bottom};
    if (red) FrameRect(dc.get(), &frame, red.get());
  }
  {
    static const win::Font font = panelFont(16);
    if (font) {
      win::Selection useFont(dc.get(), font.get());
      SetTextColor(dc.get(), kYellow);
      SetBkMode(dc.get(), TRANSPARENT);
      RECT name{20, 85, 180, 105};
      DrawTextW(dc.get(), channels::nameOfPort(port), -1, &name, DT_CENTER | DT_SINGLELINE);
    }
  }
  char count[16];
  std::snprintf(count, sizeof count, "%d", static_cast<int>(peers));
  drawLabel(dc.get(), count, 160, 168, background());
  drawLabel(dc.get(), "CHANNEL", 18, 182, background());
}

void CALLBACK serverPanelTick(HWND, UINT, UINT_PTR, DWORD) {
  // Indicators, then the five load lamps, then the two focus lamps; no lamp
  // overlaps a label, so a lamp that did not change needs no redraw.
  constexpr int kLamps = std::size(kIndicators) + panel::kServerLoadLeds + 2;
  static Drawn drawn;
  static std::uint32_t shown[kLamps];
  std::uint32_t now[kLamps];
  int k = 0;
  for (const Indicator& led : kIndicators) now[k++] = led.state->load(std::memory_order_relaxed);
  std::uint32_t load[panel::kServerLoadLeds];
  panel::serverLoadLeds(sendPaceMode.load(std::memory_order_relaxed), load);
  for (std::uint32_t code : load) now[k++] = code;
  const std::uint32_t focus = GetForegroundWindow() == mainWindow ? led::kGreen : led::kRed;
  now[k++] = focus;
  now[k++] = focus;
  const bool whole = drawn.whole();
  if (!whole && std::equal(now, now + kLamps, shown)) return;
  win::WindowDc dc(mainWindow);
  if (!mainWindow || !dc) {
    drawn = Drawn{};
    return;
  }
  const COLORREF bg = background();
  k = 0;
  for (const Indicator& led : kIndicators) {
    if (whole || now[k] != shown[k]) drawLed(dc.get(), now[k], led.at.ledX, led.at.ledY);
    if (whole) drawSettledLabel(dc.get(), led.at.label, led.at.labelX, led.at.labelY, bg);
    ++k;
  }
  for (int i = 0; i < panel::kServerLoadLeds; ++i, ++k)
    if (whole || now[k] != shown[k]) drawLed(dc.get(), now[k], 420 + 18 * i, 220);
  if (whole) drawSettledLabel(dc.get(), "SERVER LOAD", 423, 243, bg);
  if (whole || now[k] != shown[k]) {
    drawLed(dc.get(), focus, 125, 18);
    drawLed(dc.get(), focus, 409, 18);
  }
  noticeLampsShown(now, shown);
  std::copy(now, now + kLamps, shown);
}

void CALLBACK networkPanelTick(HWND, UINT, UINT_PTR, DWORD) {
  static Drawn drawn;
  static std::uint32_t shown[panel::kRingLeds];
  std::uint32_t now[panel::kRingLeds];
  for (int k = 0; k < panel::kRingLeds; ++k)
    now[k] = static_cast<std::uint32_t>(networkLedStates[k].load(std::memory_order_relaxed));
  const bool whole = drawn.whole();
  if (!whole && std::equal(now, now + panel::kRingLeds, shown)) return;
  win::WindowDc dc(mainWindow);
  if (!mainWindow || !dc) {
    drawn = Drawn{};
    return;
  }
  for (int k = 0; k < panel::kRingLeds; ++k) {
    if (!whole && now[k] == shown[k]) continue;
    const panel::Point p = panel::ringLedPosition(k);
    drawLed(dc.get(), now[k], p.x, p.y);
  }
  // The label goes over the ring's inner edge: it is drawn last whenever
  // any lamp was, as a full redraw would leave it.
  drawLabel(dc.get(), "NETWORK", 402, 380, background());
  std::copy(now, now + panel::kRingLeds, shown);
}

void CALLBACK timeLeftTick(HWND, UINT, UINT_PTR timer, DWORD) {
#ifdef ORVA_TEST_HOOKS
  applyTestCountdown();
#endif
  const panel::Countdown next = panel::countDown(inactivitySeconds.load(std::memory_order_relaxed));
  inactivitySeconds.store(next.seconds, std::memory_order_relaxed);
  if (next.expired) {
    // Thread timers are killed by the id the system passes to them.
    KillTimer(nullptr, timer);
    EnableWindow(mainWindow, FALSE);
    showCustomDialog(kInactivityText);
    EnableWindow(mainWindow, TRUE);
    DestroyWindow(mainWindow);
    return;
  }
  static Drawn drawn;
  win::WindowDc dc(mainWindow);
  if (!mainWindow || !dc) return;
  const bool whole = drawn.whole();
  char text[panel::kTimeTextBytes];
  panel::formatTimeLeft(next.seconds, text);
  FillRect(dc.get(), &timeLeftRect, GetSysColorBrush(COLOR_SCROLLBAR));
  SetTextColor(dc.get(), kYellow);
  SetBkColor(dc.get(), background());
  SetBkMode(dc.get(), OPAQUE);
  TextOutA(dc.get(), timeLeftRect.left, timeLeftRect.top, text, static_cast<int>(std::strlen(text)));
  if (whole) drawSettledLabel(dc.get(), "TIME LEFT", 455, 293, background());
}
