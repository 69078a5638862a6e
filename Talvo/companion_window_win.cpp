#include "Talvo/companion_window_win.h"

#include <cwchar>

#include "Talvo/link_win.h"
#include "Talvo/speaker_win.h"
#include "common/win32_guards.h"

namespace {

constexpr wchar_t kClassName[] = L"SyntheVocalWindow";
// Stored as UTF-8 and widened at start-up, like every title of the system.
constexpr char kTitleUtf8[] = "Orva-Lin Synth\xC3\xA9tiseur vocal";
constexpr int kWindowWidth = 380;
constexpr int kWindowHeight = 200;

constexpr int kIdSend = 1001;
constexpr int kIdListen = 1002;
constexpr int kIdClear = 1003;
constexpr int kIdEditor = 2001;

constexpr int kEditorChars = 1024;           // 1023 characters and the terminator

constexpr wchar_t kEmptyEditor[] = L"Il n'y a pas de texte dans l'éditeur.";
constexpr wchar_t kListenPending[] = L"Le bouton, écouter, est en cours de développement";
constexpr wchar_t kCleared[] = L"Le contenu de l'éditeur sera effacé";
constexpr wchar_t kVersion[] = L"Version : 2025-2";

HWND editorControl = nullptr;
win::Font editorFont;
wchar_t editorText[kEditorChars];

wchar_t sentText[kEditorChars];   // what the last "Envoyer" queued

void sendEditorText() {
  const int length = GetWindowTextW(editorControl, editorText, kEditorChars);
  if (length <= 0) {
    sayText(kEmptyEditor);
    return;
  }
  // The speaking thread keys the client around it and tells the window
  // how it went.
  if (sayTyped(editorText, static_cast<std::size_t>(length))) std::wcscpy(sentText, editorText);
}

// The text stays for another try unless spoken, and text typed since the
// send is never wiped.
void typedSpoken(bool spoken) {
  if (!spoken) return;
  GetWindowTextW(editorControl, editorText, kEditorChars);
  if (std::wcscmp(editorText, sentText) == 0) SetWindowTextW(editorControl, L"");
}

void drawLine(HDC dc, RECT box, const wchar_t* text, UINT align) {
  DrawTextW(dc, text, -1, &box, DT_SINGLELINE | DT_VCENTER | align);
}

void paint(HWND window) {
  const win::PaintDc dc(window);
  if (!dc) return;
  RECT r;
  GetClientRect(window, &r);
  SetBkMode(dc.get(), TRANSPARENT);
  SetTextColor(dc.get(), RGB(0, 0, 0));

  LinkPeer peer;
  linkPeer(peer);
  wchar_t line[64];
  const auto white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  const RECT addressBox{r.left + 10, r.bottom - 60, r.right - 200, r.bottom - 50};
  FillRect(dc.get(), &addressBox, white);
  if (peer.address != 0 || peer.port != 0) {
    swprintf(line, 64, L"IP: %u.%u.%u.%u", peer.address >> 24, (peer.address >> 16) & 0xFF,
             (peer.address >> 8) & 0xFF, peer.address & 0xFF);
  } else {
    swprintf(line, 64, L"IP: ");
  }
  drawLine(dc.get(), addressBox, line, DT_LEFT);
  const RECT portBox{r.left + 10, r.bottom - 45, r.right - 200, r.bottom - 10};
  FillRect(dc.get(), &portBox, white);
  swprintf(line, 64, L"PORT: %u", static_cast<unsigned>(peer.port));
  drawLine(dc.get(), portBox, line, DT_LEFT);
  drawLine(dc.get(), RECT{r.right - 200, r.bottom - 40, r.right - 10, r.bottom - 10}, kVersion, DT_RIGHT);
}

HWND button(HWND parent, HINSTANCE instance, const wchar_t* text, int id, int x) {
  return CreateWindowExW(0, L"BUTTON", text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, x, 60, 100, 30,
                         parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
}

}  // namespace

HWND openCompanionWindow(HINSTANCE instance, int& exitCode) {
  exitCode = 0;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = CompanionWindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);

  wchar_t title[64];
  if (MultiByteToWideChar(CP_UTF8, 0, kTitleUtf8, -1, title, 64) == 0) title[0] = 0;
  const HWND window = CreateWindowExW(0, kClassName, title, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                                      CW_USEDEFAULT, kWindowWidth, kWindowHeight, nullptr, nullptr, instance, nullptr);
  if (!window) return nullptr;

  editorFont.reset(CreateFontW(20, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI"));
  if (!editorFont) {
    MessageBoxW(window, L"Erreur lors de la conception de la police", L"Erreur", MB_ICONERROR);
    DestroyWindow(window);
    return nullptr;
  }
  editorControl = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                                  WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL, 20,
                                  20, 300, 40, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdEditor)),
                                  instance, nullptr);
  SendMessageW(editorControl, WM_SETFONT, reinterpret_cast<WPARAM>(editorFont.get()), TRUE);
  button(window, instance, L"Effacer", kIdClear, 20);
  button(window, instance, L"Envoyer", kIdSend, 120);
  button(window, instance, L"Ecouter", kIdListen, 220);
  return window;
}

LRESULT CALLBACK CompanionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      paint(window);
      return 0;
    case kPeerChangedMessage:
      InvalidateRect(window, nullptr, TRUE);
      UpdateWindow(window);
      return 0;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case kTypedSpokenMessage:
      typedSpoken(wParam != 0);
      return 0;
    case WM_DESTROY:
      endTransmit();   // never leave the client keyed, even mid-utterance
      editorFont.reset();
      PostQuitMessage(0);
      return 0;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case kIdSend:
          sendEditorText();
          return 0;
        case kIdListen:
          sayText(kListenPending);
          return 0;
        case kIdClear:
          SetWindowTextW(editorControl, L"");
          sayText(kCleared);
          return 0;
      }
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}
