// The main window's parts for screen readers: what the panel shows, read
// from the same shared words the panel's timers draw from, and the change
// notices those timers raise as they draw.
#include "Orva-Lin/main_accessible.h"

#include <oleacc.h>

#include <cstdio>
#include <cstring>

#include "Orva-Lin/accessible_parts.h"
#include "Orva-Lin/accessible_win.h"
#include "Orva-Lin/audio/endpoint_volume.h"
#include "Orva-Lin/audio/levels.h"
#include "Orva-Lin/draw_helpers.h"
#include "Orva-Lin/main_window.h"
#include "Orva-Lin/panel.h"
#include "Orva-Lin/panel_geometry.h"
#include "Orva-Lin/shared_state.h"
#include "common/win32_guards.h"

namespace {

using a11y::Part;

// The talker card as last drawn (UTF-8).
char talkerFirstName[64];
char talkerCity[64];
char talkerPhrase[128];

constexpr std::atomic<std::uint32_t>* kLampStates[a11y::kLamps] = {
    &voiceLinkLed, &supervisorLed, &serverLedPhase, &httpsLedState, &txRxLedState, &packetLed,
};
// The server panel's draw order (TST HTTPS TX-RX UDP SVC TCP) as parts.
constexpr Part kDrawnLamps[panel::kIndicators] = {
    Part::LampTst, Part::LampHttps, Part::LampTxRx, Part::LampUdp, Part::LampSvc, Part::LampTcp,
};

// The endpoint levels cost a COM round each: read only for the knobs.
a11y::PanelView currentView(bool withLevels, char (&status)[kStatusTextBytes * 3]) {
  a11y::PanelView v;
  v.zones = mainZones;
  v.channelPort = relaxed(channelPort);
  v.channelPeerCount = relaxed(channelPeerCount);
  v.talkerFirstName = talkerFirstName;
  v.talkerCity = talkerCity;
  v.talkerPhrase = talkerPhrase;
  v.levelLeft = relaxed(levelLeft);
  v.levelRight = relaxed(levelRight);
  v.levelLeftRaw = relaxed(levelLeftRaw);
  v.levelRightRaw = relaxed(levelRightRaw);
  if (withLevels) {
    v.micLevel = getCaptureEndpointLevel();
    v.volumeLevel = getRenderEndpointLevel();
  }
  for (int i = 0; i < a11y::kLamps; ++i) v.lamps[i] = relaxed(*kLampStates[i]);
  v.paceMode = relaxed(sendPaceMode);
  v.inactivitySeconds = relaxed(inactivitySeconds);
  // The status line is Windows-1252, as it is drawn.
  wchar_t wide[kStatusTextBytes];
  status[0] = '\0';
  if (MultiByteToWideChar(kTextCodePage, 0, statusText, -1, wide, kStatusTextBytes) > 0)
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, status, sizeof status, nullptr, nullptr);
  v.status = status;
  return v;
}

long systemRole(a11y::Role r) {
  switch (r) {
    case a11y::Role::Text: return ROLE_SYSTEM_STATICTEXT;
    case a11y::Role::Button: return ROLE_SYSTEM_PUSHBUTTON;
    case a11y::Role::Link: return ROLE_SYSTEM_LINK;
    case a11y::Role::Slider: return ROLE_SYSTEM_SLIDER;
    case a11y::Role::Meter: return ROLE_SYSTEM_PROGRESSBAR;
    case a11y::Role::Lamp: return ROLE_SYSTEM_INDICATOR;
    case a11y::Role::Animation: return ROLE_SYSTEM_ANIMATION;
  }
  return ROLE_SYSTEM_CLIENT;
}

long systemState(unsigned s, a11y::Role r) {
  long out = 0;
  if (s & a11y::kReadOnly) out |= STATE_SYSTEM_READONLY;
  if (s & a11y::kAlert) out |= STATE_SYSTEM_ALERT_HIGH;
  if (s & a11y::kUnavailable) out |= STATE_SYSTEM_UNAVAILABLE;
  if (s & a11y::kInvisible) out |= STATE_SYSTEM_INVISIBLE;
  if (r == a11y::Role::Link) out |= STATE_SYSTEM_LINKED;
  return out;
}

int partCount(HWND) { return a11y::kPartCount; }

void partItem(HWND, int index, AccessibleItem& out) {
  const Part p = static_cast<Part>(index);
  char status[kStatusTextBytes * 3];
  const a11y::PanelView v = currentView(p == Part::MicGainKnob || p == Part::VolumeKnob, status);
  char text[a11y::kTextBytes];
  a11y::name(p, v, text);
  setAccessibleText(out.name, text);
  a11y::value(p, v, text);
  setAccessibleText(out.value, text);
  const std::string_view help = a11y::description(p);
  const int n = MultiByteToWideChar(kTextCodePage, 0, help.data(), static_cast<int>(help.size()), out.description,
                                    kAccessibleTextChars - 1);
  out.description[n > 0 ? n : 0] = L'\0';
  int x = 0, y = 0;
  out.acts = a11y::clickPoint(p, v, x, y);
  out.role = systemRole(a11y::role(p));
  out.state = systemState(a11y::state(p, v), a11y::role(p));
  const input::Rect r = a11y::rect(p, v);
  out.client = {r.left, r.top, r.right, r.bottom};
}

int partHit(HWND, int x, int y) {
  char status[kStatusTextBytes * 3];
  const Part p = a11y::partAt(currentView(false, status), x, y);
  return p == Part::Count ? -1 : static_cast<int>(p);
}

// A left click at the part's centre, taken by the window procedure as any
// other click.
void partAct(HWND w, int index) {
  char status[kStatusTextBytes * 3];
  int x = 0, y = 0;
  if (a11y::clickPoint(static_cast<Part>(index), currentView(false, status), x, y)) clickLater(w, x, y);
}

const AccessibleProvider kPanel = {partCount, partItem, partHit, partAct};

void notify(DWORD event, Part p) { notifyAccessibleChange(mainWindow, event, static_cast<int>(p)); }

// "Mathéo parle" as a UI Automation notification, which Narrator and NVDA
// speak at once. Only Windows 10 (1709) and later have it; it is looked up
// when first needed, and skipped where it is missing (Wine among others).
void announceTalker(const char* firstName) {
  using HostProvider = HRESULT(WINAPI*)(HWND, IUnknown**);
  using RaiseNotification = HRESULT(WINAPI*)(IUnknown*, int kind, int processing, BSTR text, BSTR activity);
  static HostProvider hostProvider = nullptr;
  static RaiseNotification raise = nullptr;
  static bool looked = false;
  if (!looked) {
    looked = true;
    // Kept loaded for the life of the process once found.
    if (HMODULE uia = LoadLibraryW(L"UIAutomationCore.dll")) {
      // Through void*: FARPROC's own type says nothing of the arguments.
      hostProvider =
          reinterpret_cast<HostProvider>(reinterpret_cast<void*>(GetProcAddress(uia, "UiaHostProviderFromHwnd")));
      raise = reinterpret_cast<RaiseNotification>(
          reinterpret_cast<void*>(GetProcAddress(uia, "UiaRaiseNotificationEvent")));
    }
  }
  if (!hostProvider || !raise || !mainWindow) return;
  win::ComPtr<IUnknown> provider;
  if (FAILED(hostProvider(mainWindow, provider.put())) || !provider) return;
  char text[160];
  std::snprintf(text, sizeof text, "%s parle", firstName);
  wchar_t wide[160];
  if (MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, 160) <= 0) return;
  constexpr int kNotificationOther = 4;
  constexpr int kProcessingMostRecent = 3;
  BSTR message = SysAllocString(wide);
  BSTR activity = SysAllocString(L"Orva-Lin.talker");
  if (message && activity) raise(provider.get(), kNotificationOther, kProcessingMostRecent, message, activity);
  SysFreeString(message);
  SysFreeString(activity);
}

void keep(char* field, std::size_t size, const char* text) { std::snprintf(field, size, "%s", text ? text : ""); }

}  // namespace

LRESULT answerMainObject(HWND w, WPARAM wp, LPARAM lp) { return answerAccessibleObject(w, wp, lp, kPanel); }

void noticeChannelShown(bool channelChanged, bool countChanged) {
  if (channelChanged) notify(EVENT_OBJECT_NAMECHANGE, Part::Channel);
  if (channelChanged || countChanged) notify(EVENT_OBJECT_VALUECHANGE, Part::Channel);
}

void noticeLampsShown(const std::uint32_t* now, const std::uint32_t* before) {
  for (int k = 0; k < panel::kIndicators; ++k) {
    if (now[k] == before[k]) continue;
    notify(EVENT_OBJECT_STATECHANGE, kDrawnLamps[k]);
    notify(EVENT_OBJECT_VALUECHANGE, kDrawnLamps[k]);
  }
  const std::uint32_t* load = now + panel::kIndicators;
  const std::uint32_t* loadBefore = before + panel::kIndicators;
  if (std::memcmp(load, loadBefore, sizeof(std::uint32_t) * panel::kServerLoadLeds) != 0) {
    notify(EVENT_OBJECT_STATECHANGE, Part::ServerLoad);
    notify(EVENT_OBJECT_VALUECHANGE, Part::ServerLoad);
  }
}

// A screen reader reads an alert's text aloud as it appears.
void noticeSupervisorNotice(HWND notice) {
  if (IsWindow(notice)) NotifyWinEvent(EVENT_SYSTEM_ALERT, notice, OBJID_CLIENT, CHILDID_SELF);
}

void noticeTalkerShown(const char* firstName, const char* city, const char* phrase) {
  const bool changed = std::strcmp(firstName, talkerFirstName) != 0 || std::strcmp(city, talkerCity) != 0;
  keep(talkerFirstName, sizeof talkerFirstName, firstName);
  keep(talkerCity, sizeof talkerCity, city);
  keep(talkerPhrase, sizeof talkerPhrase, phrase);
  if (!changed) return;
  notify(EVENT_OBJECT_NAMECHANGE, Part::Talker);
  if (talkerFirstName[0] && screenReaderAsked()) announceTalker(talkerFirstName);
}
