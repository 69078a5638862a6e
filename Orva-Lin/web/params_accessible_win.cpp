#include "Orva-Lin/web/params_accessible.h"

#include <oleacc.h>

#include <cstdio>

#include "Orva-Lin/accessible_win.h"
#include "Orva-Lin/audio/endpoint_volume.h"
#include "Orva-Lin/audio/input_devices.h"
#include "Orva-Lin/shared_state.h"
#include "Orva-Lin/web/account.h"

namespace {

enum Item { InputDevice, OutputDevice, FirstName, City, Phrase, Email, Folder, Colour, Items };

// Where the window draws each line; the device zone and the swatch are
// the two places a click acts on.
constexpr RECT kPlaces[Items] = {
    {0, 0, 150, 150},    {20, 140, 200, 250}, {10, 260, 200, 280}, {10, 280, 200, 300},
    {10, 300, 200, 320}, {10, 340, 200, 360}, {10, 360, 200, 380}, {60, 383, 75, 398},
};

int count(HWND) { return Items; }

void deviceName(wchar_t (&out)[kAccessibleTextChars], const wchar_t* what, const EndpointDescription& d) {
  std::swprintf(out, kAccessibleTextChars, L"%ls : %ls", what, d.friendlyName);
}

void item(HWND, int index, AccessibleItem& out) {
  out.role = ROLE_SYSTEM_STATICTEXT;
  out.state = STATE_SYSTEM_READONLY;
  out.client = kPlaces[index];
  char text[kAccessibleTextChars];
  const auto line = [&](const char* label, const char* field) {
    std::snprintf(text, sizeof text, "%s : %s", label, field);
    setAccessibleText(out.name, text);
  };
  switch (index) {
    case InputDevice: {
      EndpointDescription d{};
      const std::int32_t chosen = inputDeviceIndex.load(std::memory_order_relaxed);
      if (chosen < 0 || chosen >= kInputDeviceEntries)
        describeDefaultCaptureEndpoint(d);
      else
        describeCaptureEndpoint(inputDevices[chosen].endpointIndex, d);
      deviceName(out.name, L"Périphérique d'entrée", d);
      out.role = ROLE_SYSTEM_PUSHBUTTON;
      out.state = 0;
      out.acts = true;
      break;
    }
    case OutputDevice: {
      EndpointDescription d{};
      describeDefaultRenderEndpoint(d);
      deviceName(out.name, L"Périphérique de sortie", d);
      break;
    }
    case FirstName: line("Prénom", ownProfile.firstName); break;
    case City: line("Ville", ownProfile.city); break;
    case Phrase: line("Phrase", ownProfile.phrase); break;
    case Email: line("E-mail", ownProfile.email); break;
    case Folder: line("Dossier", ownProfile.folder); break;
    case Colour: {
      const COLORREF c = panelBackground.load(std::memory_order_relaxed);
      setAccessibleText(out.name, "Couleur du fond");
      std::snprintf(text, sizeof text, "%d.%d.%d", GetRValue(c), GetGValue(c), GetBValue(c));
      setAccessibleText(out.value, text);
      out.role = ROLE_SYSTEM_PUSHBUTTON;
      out.state = 0;
      out.acts = true;
      break;
    }
    default: break;
  }
}

int hit(HWND, int x, int y) {
  const POINT p{x, y};
  for (int i = Items - 1; i >= 0; --i)  // the swatch sits inside no other place; the device zone overlaps
    if (PtInRect(&kPlaces[i], p)) return i;
  return -1;
}

void act(HWND w, int index) {
  const RECT& r = kPlaces[index];
  clickLater(w, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

const AccessibleProvider kParams = {count, item, hit, act};

}  // namespace

LRESULT answerParamsObject(HWND w, WPARAM wp, LPARAM lp) { return answerAccessibleObject(w, wp, lp, kParams); }
