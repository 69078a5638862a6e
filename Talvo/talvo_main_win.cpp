// Talvo.exe: start-up, the checks that come before the window is usable, and
// the message loop.
#include <windows.h>

#include "Talvo/companion_window_win.h"
#include "Talvo/link_win.h"
#include "Talvo/speaker_win.h"
#include "Talvo/speech_win.h"
#include "common/protocol.h"
#include "common/win32_guards.h"

namespace {

constexpr wchar_t kSecondInstance[] =
    L"Another instance of application Orva-Lin Synthesizer\nis already running.\n"
    L"Une autre instance de l\u2019application Synthétiseur pour Orva-Lin\nest déjà en cours d\u2019exécution.\n";
constexpr wchar_t kSecondInstanceTitle[] = L"Orva-Lin System";
constexpr wchar_t kGreeting[] = L"Bonjour. Le synthétiseur pour Orva-Lin est chargé.";
constexpr wchar_t kClientMissing1[] = L"L'application Orva-Lin doit être lancée avant d'utiliser le synthétiseur. ";
constexpr wchar_t kClientMissing2[] = L"Veuillez démarrer Orva-Lin et réessayer";
constexpr wchar_t kClientMissingBox[] = L"Veuillez démarrer Orva-Lin et réessayer.";
constexpr wchar_t kClientMissingTitle[] = L"Synthétiseur - Erreur";
constexpr wchar_t kLinkHint1[] = L"Faire un clic droit sur la fenêtre de Orva-Lin ";
constexpr wchar_t kLinkHint2[] = L"pour que le synthétiseur soit relié à Orva-Lin.";
// At close: the sound in play is stopped, so the speaking thread ends as
// soon as the engine hands control back; the link thread looks at its flag
// every half second.
constexpr DWORD kSpeakerEndMs = 5000;
constexpr DWORD kLinkEndMs = 2000;

// The client's mutex is only looked for, never waited on or held: the
// least access that opens it is enough. Access denied still means it exists.
bool clientRunning() {
  const win::Handle client(OpenMutexW(SYNCHRONIZE, FALSE, proto::kClientMutexName));
  return client || GetLastError() == ERROR_ACCESS_DENIED;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  const win::Handle companionMutex(CreateMutexW(nullptr, TRUE, proto::kCompanionMutexName));
  if (!companionMutex) return 1;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    MessageBoxW(nullptr, kSecondInstance, kSecondInstanceTitle, MB_ICONERROR);
    return 1;
  }
  int exitCode = 0;
  const HWND window = openCompanionWindow(instance, exitCode);
  if (!window) return exitCode;
  ShowWindow(window, show);
  UpdateWindow(window);

  const win::ComApartment apartment(COINIT_MULTITHREADED);
  if (!apartment.ok()) return 1;
  openLinkSocket();
  speakText(kGreeting);
  if (!clientRunning()) {
    speakText(kClientMissing1);
    speakText(kClientMissing2);
    MessageBoxW(nullptr, kClientMissingBox, kClientMissingTitle, MB_ICONERROR);
    closeLinkSocket();
    releaseSpeechFactories();
    return 1;
  }
  speakText(kLinkHint1);
  speakText(kLinkHint2);

  if (!startSpeaker(window)) {
    closeLinkSocket();
    releaseSpeechFactories();
    return -1;
  }
  const win::Handle receiver(CreateThread(nullptr, 0, LinkReceiveThread, window, 0, nullptr));
  if (!receiver) {
    closeLinkSocket();
    stopSpeaker(kSpeakerEndMs);
    return -1;
  }

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  const bool speakerEnded = stopSpeaker(kSpeakerEndMs);
  endTransmit();   // a 'T' the speaking thread sent as the window closed
  closeLink(receiver.get(), kLinkEndMs);
  // A speaking thread still inside the engine holds the factories: the
  // process ends with them, and before the runtime's exit could destroy
  // them under that thread.
  if (!speakerEnded) ExitProcess(static_cast<UINT>(msg.wParam));
  releaseSpeechFactories();
  return static_cast<int>(msg.wParam);
}
