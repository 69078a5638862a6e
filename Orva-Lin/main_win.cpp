// Start-up and shutdown of the client: one copy only, the main window and the
// panel resources, the workers and timers, then the message loop.
#include <windows.h>
#include <mmsystem.h>

#include "common/gdiplus_win.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "Orva-Lin/animation.h"
#include "Orva-Lin/audio/audio_thread.h"
#include "Orva-Lin/audio/endpoint_volume.h"
#include "Orva-Lin/audio/input_devices.h"
#include "Orva-Lin/audio/level_meter.h"
#include "Orva-Lin/companion_link_win.h"
#include "Orva-Lin/config.h"
#include "Orva-Lin/draw_helpers.h"
#include "Orva-Lin/input_map.h"
#include "Orva-Lin/main_window.h"
#include "Orva-Lin/net/relay.h"
#include "Orva-Lin/panel.h"
#include "Orva-Lin/resource.h"
#include "Orva-Lin/shared_state.h"
#include "Orva-Lin/transmit.h"
#include "Orva-Lin/web/account.h"
#include "Orva-Lin/web/http.h"
#include "common/protocol.h"
#include "common/win32_guards.h"

namespace {

constexpr int kAudioCloseWaitMs = 2000;

struct ThreadTimer {
  UINT_PTR requestedId;  // meaningless for a thread timer; the system's id is kept
  UINT period;
  TIMERPROC proc;
  UINT_PTR id;
};

// In start-up order; shutdown kills them in its own order below.
enum TimerSlot { ChannelPanel, NetworkPanel, KnobPanel, AccountRefresh, StatusLine, ServerPanel, TimeLeft };
ThreadTimer timers[] = {
    {12, 500, channelPanelTick, 0},   {3, 50, networkPanelTick, 0},    {8, 1000, knobPanelTick, 0},
    {7, 1000, accountRefreshTick, 0}, {11, 500, statusLineTick, 0},    {6, 200, serverPanelTick, 0},
    {15, 1000, timeLeftTick, 0},
};

void startTimer(TimerSlot slot) {
  ThreadTimer& t = timers[slot];
  t.id = SetTimer(nullptr, t.requestedId, t.period, t.proc);
}

void readConfiguration() {
  const config::Settings settings =
      config::readSettings([](const char* name) -> const char* { return std::getenv(name); });
  for (int i = 0; i < settings.rejectedCount; ++i) {
    std::fprintf(stderr, "%s: not a valid value, using the default\n", settings.rejected[i]);
  }
  relayAddress = settings.relayAddress;
  webHost = settings.webHost;
  accountNumber.store(settings.accountNumber);
  // The identifier follows the machine: its name and the system volume's
  // serial number, so it is stable across runs and nothing is stored.
  std::uint8_t machine[MAX_COMPUTERNAME_LENGTH + 1 + sizeof(DWORD)] = {};
  DWORD nameChars = MAX_COMPUTERNAME_LENGTH + 1;
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  GetComputerNameA(name, &nameChars);
  DWORD serial = 0;
  GetVolumeInformationW(L"C:\\", nullptr, 0, &serial, nullptr, nullptr, nullptr, 0);
  std::memcpy(machine, name, nameChars);
  std::memcpy(machine + nameChars, &serial, sizeof serial);
  config::makeClientIdentifier(std::span<const std::uint8_t>(machine, nameChars + sizeof serial),
                               std::span<char, 17>(clientIdentifier, 17));
}

// A picture the panel cannot do without: say which, then close the window.
// Start-up goes on and the loop ends at its first message.
void reportMissingFile(const wchar_t* ref) {
  wchar_t text[160];
  std::swprintf(text, 160, L"Le programme va s'arrêter\ncar il manque un fichier\nREF: %ls", ref);
  EnableWindow(mainWindow, FALSE);
  MessageBoxW(nullptr, text, L"Information", MB_ICONQUESTION);
  EnableWindow(mainWindow, TRUE);
  DestroyWindow(mainWindow);
}

void loadRequiredPicture(win::Bitmap& picture, const wchar_t* file, const wchar_t* ref) {
  picture = loadPictureFile(file);
  if (!picture) reportMissingFile(ref);
}

// The five faces live on the screen's device context, Arial selected, for
// the life of the window. Members go in reverse: the selection is undone,
// then the faces are deleted, then the context is released.
struct ScreenFonts {
  win::WindowDc screen{nullptr};
  win::Font faces[5];
  std::optional<win::Selection> arial;

  ScreenFonts() {
    struct Face {
      const wchar_t* name;
      int height;
      BYTE pitchAndFamily;
    };
    static constexpr Face kFaces[] = {
        {L"Arial", 20, 32}, {L"Times New Roman", 18, 16}, {L"Courier New", 16, 48},
        {L"Comic Sans MS", 14, 64}, {L"Impact", 12, 80},
    };
    for (int i = 0; i < 5; ++i)
      faces[i].reset(CreateFontW(kFaces[i].height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                                 OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, kFaces[i].pitchAndFamily,
                                 kFaces[i].name));
    arial.emplace(screen.get(), faces[0].get());
  }
};

void startThread(LPTHREAD_START_ROUTINE body) {
  win::Handle thread(CreateThread(nullptr, 0, body, nullptr, 0, nullptr));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  // Held for the life of the process; the system releases it at exit. The
  // error code is read before anything else runs: even the guarded set-up of
  // a static local clears it.
  HANDLE created = CreateMutexW(nullptr, TRUE, proto::kClientMutexName);
  const DWORD createError = GetLastError();
  static win::Handle instanceMutex;
  instanceMutex.reset(created);
  if (!instanceMutex) return 1;
  if (createError == ERROR_ALREADY_EXISTS) {
    MessageBoxW(nullptr,
                L"Another instance of application Orva-Lin\nis already running.\n"
                L"Une autre instance de l’application Orva-Lin\nest déjà en cours d’exécution.\n",
                L"Orva-Lin System", MB_ICONERROR);
    instanceMutex.reset();
    return 1;
  }
  readConfiguration();

  if (!PlaySoundW(L"C:\\Windows\\Media\\chimes.wav", nullptr, SND_ASYNC | SND_FILENAME))
    MessageBoxW(nullptr, L"Échec de la lecture du son", L"Erreur", MB_ICONERROR);

  panelBackground.store(RGB(0, 0, 0));
  static win::Brush classBrush(CreateSolidBrush(panelBackground.load()));
  WNDCLASSEXW wc{sizeof wc};
  wc.lpfnWndProc = mainWindowProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APPLICATION_ICON));
  wc.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SMALL_ICON));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = classBrush.get();
  wc.lpszClassName = L"X";
  RegisterClassExW(&wc);
  appInstance = instance;

  mainWindow = CreateWindowExW(0, L"X", L"ORVA-LIN", WS_POPUP | WS_SYSMENU, 400, 300, input::kWindowWidth,
                               input::kWindowHeight, nullptr, nullptr, instance, nullptr);
  if (!mainWindow) return 0;

  // The system owns the region once it is set.
  SetWindowRgn(mainWindow, CreateRoundRectRgn(0, 0, input::kWindowWidth, input::kWindowHeight, 20, 20), TRUE);
  SetWindowLongW(mainWindow, GWL_STYLE, GetWindowLongW(mainWindow, GWL_STYLE) & ~WS_BORDER);
  RECT windowRect{};
  GetWindowRect(mainWindow, &windowRect);
  const int width = windowRect.right - windowRect.left;
  const int height = windowRect.bottom - windowRect.top;
  SetWindowPos(mainWindow, nullptr, GetSystemMetrics(SM_CXSCREEN) / 2 - width / 2,
               GetSystemMetrics(SM_CYSCREEN) / 2 - height / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  // The zones come before the first paint, so it already writes the credit
  // line in the designer zone.
  RECT client{};
  GetClientRect(mainWindow, &client);
  mainZones.drag = input::kDragZone;
  mainZones.designer = input::designerZoneFor(client.right, client.bottom);
  ShowWindow(mainWindow, showCommand);
  UpdateWindow(mainWindow);

  initTransmitLock();
  std::optional<ScreenFonts> fonts;
  fonts.emplace();
  savedCaptureLevel = getCaptureEndpointLevel();
  resetInputDeviceTable();

  drawTitle();
  std::memcpy(statusText, input::kTextWelcome.c_str(), input::kTextWelcome.length + 1);
  mainZones.quit = input::kQuitZone;
  quitZoneReady = true;

  // COM stays initialised with GDI+ for the life of the process.
  static win::ComApartment com;
  ULONG_PTR gdiplusToken = 0;
  Gdiplus::GdiplusStartupInput gdiplusInput;
  if (Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr) == Gdiplus::Ok) {
    mainZones.animation = input::kAnimationZone;
    win::WindowDc dc(mainWindow);
    const input::Rect a = input::kAnimationZone;
    RECT frame{a.left, a.top, a.right, a.bottom};
    if (dc) FrameRect(dc.get(), &frame, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    startAnimation();
  }

  loadLedPictures();
  loadRequiredPicture(arrowPicture, L"btn-fleche.bmp", L"ARROW-BTN");
  mainZones.documentation = input::kDocumentationZone;
  loadRequiredPicture(docPicture, L"doc_img.bmp", L"DOC-IMG");
  mainZones.companion = input::kCompanionZone;
  loadRequiredPicture(synthePicture, L"synthe_1.bmp", L"SYNTHE-IMG");

  createLevelMeters(instance, mainWindow);

  for (int i = 0; i <= 10; ++i) {
    wchar_t file[16];
    std::swprintf(file, 16, L"%d.bmp", i);
    channelPictures[i] = loadPictureFile(file);
  }
  for (const win::Bitmap& picture : channelPictures)
    if (!picture) reportMissingFile(L"CHANNEL-NUM");
  mainZones.channel = input::kChannelZone;
  panelReady.store(true);

  setUpRelaySockets();
  serverLedPhase.store(led::kYellow);

  startThread(LedBlinker);
  startThread(SendLoop);
  startThread(VoiceReceiveThread);
  startThread(SupervisorLoop);
  startThread(CompanionReceiveThread);
  startThread(AudioThread);
  for (TimerSlot slot : {ChannelPanel, NetworkPanel, KnobPanel, AccountRefresh, StatusLine, ServerPanel})
    startTimer(slot);

  const std::int32_t account = accountNumber.load();
  // Each exchange gives up within its deadline; a host that did not answer
  // the profile is not asked for the parameters too, so a mute host costs
  // start-up one deadline and the program goes on with its defaults.
  if (fetchAccountResource(account, OwnProfile) != kFetchFailed &&
      fetchAccountResource(account, OwnParameters) == 0) {
    EnableWindow(mainWindow, FALSE);
    MessageBoxW(mainWindow,
                L"Aucun paramètre n'a été trouvé sur votre compte\nles paramètres par défaut seront utilisés.",
                L"Acquisition des paramètres", MB_OK);
    EnableWindow(mainWindow, TRUE);
  }
  timeLeftRect = {455, 270, 510, 285};
  inactivitySeconds.store(kInactivityStartSeconds);
  startTimer(TimeLeft);
  paintedSinceFetch.store(false);

  openCompanionLink();

  MSG msg{};
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }

  // A window closed right after start-up can find the chime still playing.
  // Stopping it returns once the system has closed the chime's stream: a
  // process that ends with a stream open can crash in the sound driver as it
  // goes (seen under Wine as exit code -11).
  PlaySoundW(nullptr, nullptr, 0);
  fonts.reset();
  for (TimerSlot slot : {NetworkPanel, ServerPanel, KnobPanel, ChannelPanel, AccountRefresh, StatusLine, TimeLeft})
    KillTimer(nullptr, timers[slot].id);
  captureState.store(0);
  setCaptureEndpointLevel(savedCaptureLevel);
  // The other workers end with the process, but the audio thread gets a
  // moment to close its device: a process that leaves with a stream still
  // open can take the sound driver down with it (seen under Wine as a crash
  // at exit). It needs at most a playback cycle and the drain of two buffers.
  for (int waited = 0; captureState.load() != kCaptureEnded && waited < kAudioCloseWaitMs; waited += 10) Sleep(10);
  // The network workers are still running. Returning would run the
  // runtime's exit, which destroys statics (the playback wake-up event, the
  // panel pictures, the COM apartment) while they may still use them;
  // ExitProcess stops every other thread before anything is torn down.
  std::fflush(nullptr);
  ExitProcess(static_cast<UINT>(msg.wParam));
}
