#include "Orva-Lin/web/account.h"

#include <algorithm>

#include "Orva-Lin/animation.h"
#include "Orva-Lin/draw_helpers.h"
#include "Orva-Lin/main_accessible.h"
#include "Orva-Lin/panel.h"
#include "Orva-Lin/shared_state.h"
#include "Orva-Lin/web/elements.h"
#include "Orva-Lin/web/http.h"

OwnProfileFields ownProfile;

namespace {

// The talker card: the name line, the picture below it and the phrase band
// at the foot of the panel. The picture never leaves its area, which stops
// short of the NETWORK ring and the animation on the right and of the
// version line below; its one-pixel frame sits just inside the area.
constexpr RECT kTalkerNameRect{10, 318, 310, 339};
constexpr RECT kTalkerPictureArea{9, 339, 342, 602};
constexpr int kPictureX = 10;
constexpr int kPictureY = 340;
constexpr RECT kPhraseBand{20, 620, 280, 640};
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kYellow = RGB(255, 255, 0);
constexpr COLORREF kFrameRed = RGB(255, 0, 0);

ActivityCounter accountActivity;
std::int32_t lastImageTalker = 0;
std::int32_t lastProfileTalker = 0;

COLORREF background() { return panelBackground.load(std::memory_order_relaxed); }

void fillRect(HDC dc, const RECT& r, COLORREF colour) {
  win::Brush brush(CreateSolidBrush(colour));
  if (brush) FillRect(dc, &r, brush.get());
}

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

// The picture is drawn within its area only: a large picture is clipped to
// it, and the area is cleared first, so no part of an earlier face remains.
void drawTalkerPicture(std::int32_t length) {
  win::WindowDc dc(mainWindow);
  if (!mainWindow || !dc) return;
  fillRect(dc.get(), kTalkerPictureArea, background());
  win::Bitmap picture = decodePngResponse(length);
  if (!picture) return;
  BITMAP bm{};
  if (!GetObjectW(picture.get(), sizeof bm, &bm)) return;
  // One pixel of the area is kept on each side for the frame.
  const int width = std::min<int>(bm.bmWidth, kTalkerPictureArea.right - 1 - kPictureX);
  const int height = std::min<int>(bm.bmHeight, kTalkerPictureArea.bottom - 1 - kPictureY);
  win::MemoryDc source(CreateCompatibleDC(dc.get()));
  if (!source) return;
  {
    win::Selection usePicture(source.get(), picture.get());
    BitBlt(dc.get(), kPictureX, kPictureY, width, height, source.get(), 0, 0, SRCCOPY);
  }
  win::Brush red(CreateSolidBrush(kFrameRed));
  RECT frame{kPictureX - 1, kPictureY - 1, kPictureX + width + 1, kPictureY + height + 1};
  if (red) FrameRect(dc.get(), &frame, red.get());
}

void drawTalkerProfile() {
  char firstName[64] = {};
  char city[64] = {};
  char phrase[128] = {};
  extract("PRENOM", firstName, sizeof firstName);
  extract("VILLE", city, sizeof city);
  extract("PHRASE", phrase, sizeof phrase);
  decodeEacute(firstName);
  decodeEacute(city);
  decodeEacute(phrase);
  win::WindowDc dc(mainWindow);
  if (!mainWindow || !dc) return;
  fillRect(dc.get(), kTalkerNameRect, background());
  drawUtf8Text(dc.get(), firstName, 15, 319, kWhite);
  drawUtf8Text(dc.get(), city, 170, 319, kWhite);
  blurPanelRegion(dc.get(), kPhraseBand);
  drawUtf8Text(dc.get(), phrase, kPhraseBand.left, kPhraseBand.top, kYellow);
  noticeTalkerShown(firstName, city, phrase);
}

// Talker requests run when the talker changed since that kind was last
// fetched, or when the panel was repainted (which wiped the card).
bool passesTalkerGate(std::int32_t number, std::int32_t& last) {
  if (!paintedSinceFetch.load(std::memory_order_relaxed) && number == last) return false;
  paintedSinceFetch.store(false, std::memory_order_relaxed);
  last = number;
  return true;
}

}  // namespace

std::int32_t fetchAccountResource(std::int32_t number, AccountKind kind) {
  if (kind == TalkerImage && !passesTalkerGate(number, lastImageTalker)) return 0;
  if (kind == TalkerProfile && !passesTalkerGate(number, lastProfileTalker)) return 0;
  wchar_t path[kServicePathUnits];
  if (!buildAccountPath(kind, number, std::span<wchar_t, kServicePathUnits>(path))) return kFetchFailed;
  const std::int32_t result = getPath(path, accountActivity);
  // Only a body that arrived whole is used; a failure code is not a length.
  const bool body = result > 0 && responseLength == static_cast<std::size_t>(result);
  switch (kind) {
    case TalkerImage: drawTalkerPicture(body ? result : 0); break;
    case TalkerProfile:
      if (body) drawTalkerProfile();
      break;
    case OwnProfile:
      if (body) fillOwnProfile();
      break;
    case OwnParameters:
      if (body) applyOwnParameters();
      break;
  }
  return result;
}

void CALLBACK accountRefreshTick(HWND, UINT, UINT_PTR, DWORD) {
  const std::int32_t talker = talkerNumber.load(std::memory_order_relaxed);
  fetchAccountResource(talker, TalkerImage);
  fetchAccountResource(talker, TalkerProfile);
}
