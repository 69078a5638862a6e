#include "Orva-Lin/web/account.h"

#include "Orva-Lin/draw_helpers.h"
#include "Orva-Lin/panel.h"
#include "Orva-Lin/shared_state.h"
#include "Orva-Lin/web/elements.h"
#include "Orva-Lin/web/http.h"

OwnProfileFields ownProfile;

namespace {

ActivityCounter accountActivity;

COLORREF background() { return panelBackground.load(std::memory_order_relaxed); }

bool extract(const char* name, char* field, std::size_t size) {
  const bool found = extractElement(responseText(), name, field, size);
  field[size - 1] = '\0';
  return found;
}

void fillOwnProfile() {
  struct Field {
    const char* name;
    char* text;
    std::size_t size;
  };
  const Field fields[] = {
      {"PRENOM", ownProfile.firstName, sizeof ownProfile.firstName},
      {"VILLE", ownProfile.city, sizeof ownProfile.city},
      {"PHRASE", ownProfile.phrase, sizeof ownProfile.phrase},
      {"JOUR", ownProfile.day, sizeof ownProfile.day},
      {"EMAIL", ownProfile.email, sizeof ownProfile.email},
      {"FOLDER", ownProfile.folder, sizeof ownProfile.folder},
  };
  for (const Field& f : fields) extract(f.name, f.text, f.size);
  for (const Field& f : fields) decodeEacute(f.text);
}

void applyOwnParameters() {
  char text[64] = {};
  if (!extract("BACKGROUND", text, sizeof text)) return;  // no colour given: keep the one in force
  decodeEacute(text);
  panelBackground.store(parseBackground(text, background()), std::memory_order_relaxed);
  // The panel is painted with the colour in force: show the new one at once.
  if (mainWindow) InvalidateRect(mainWindow, nullptr, TRUE);
}

}  // namespace

std::int32_t fetchAccountResource(std::int32_t number, AccountKind kind) {
  // The talker card asks through its own worker, never on this thread.
  if (kind == TalkerImage || kind == TalkerProfile) return 0;
  wchar_t path[kServicePathUnits];
  if (!buildAccountPath(kind, number, std::span<wchar_t, kServicePathUnits>(path))) return kFetchFailed;
  const std::int32_t result = getPath(path, accountActivity);
  // Only a body that arrived whole is used; a failure code is not a length.
  const bool body = result > 0 && responseLength == static_cast<std::size_t>(result);
  if (body && kind == OwnProfile) fillOwnProfile();
  if (body && kind == OwnParameters) applyOwnParameters();
  return result;
}

