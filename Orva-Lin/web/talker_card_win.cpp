// The talker card on the main panel: the refresh timer asks, a worker of
// its own fetches the picture and the profile into its own buffer, and the
// main window draws them when kTalkerCardArrived says they came.
#include <algorithm>
#include <cstring>
#include <span>

#include "Orva-Lin/animation.h"
#include "Orva-Lin/draw_helpers.h"
#include "Orva-Lin/main_accessible.h"
#include "Orva-Lin/panel.h"
#include "Orva-Lin/shared_state.h"
#include "Orva-Lin/web/account.h"
#include "Orva-Lin/web/elements.h"
#include "Orva-Lin/web/http.h"
#include "Orva-Lin/web/image_decode.h"
#include "Orva-Lin/web/talker_card.h"
#include "common/win32_guards.h"

namespace {

// The name line, the picture below it and the phrase band at the foot of
// the panel. The picture never leaves its area, which stops short of the
// NETWORK ring and the animation on the right and of the version line
// below; its one-pixel frame sits just inside the area.
constexpr RECT kTalkerNameRect{10, 318, 310, 339};
constexpr RECT kTalkerPictureArea{9, 339, 342, 602};
constexpr int kPictureX = 10;
constexpr int kPictureY = 340;
constexpr RECT kPhraseBand{20, 620, 280, 640};
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kYellow = RGB(255, 255, 0);
constexpr COLORREF kFrameRed = RGB(255, 0, 0);

struct Profile {
  char firstName[64];
  char city[64];
  char phrase[128];
};

// What the worker hands back. The window thread writes the ask and reads
// the answers only while the worker waits (gate.busy clear); the worker
// fills them only between the wake-up and the post, so no lock is needed.
struct Exchange {
  card::Ask ask;
  card::Answer image = card::Answer::NotAsked;
  card::Answer profile = card::Answer::NotAsked;
  HBITMAP picture = nullptr;   // handed to the window thread with the post
  Profile fields{};
};

// Both talker requests use this buffer, not responseBuffer: the window
// thread's own requests must never meet a body the worker is writing.
std::uint8_t cardBuffer[kResponseBytes + 1];
Exchange exchange;
card::Gate gate;
win::Handle cardWake;   // auto-reset: an ask is ready
bool workerStarted = false;

COLORREF background() { return panelBackground.load(std::memory_order_relaxed); }

void fillRect(HDC dc, const RECT& r, COLORREF colour) {
  win::Brush brush(CreateSolidBrush(colour));
  if (brush) FillRect(dc, &r, brush.get());
}

// One GET into cardBuffer: Failed when no answer came, Absent for an answer
// without a body, else Arrived with `length` set.
card::Answer fetchCard(AccountKind kind, std::int32_t talker, std::size_t& length) {
  static ActivityCounter activity;
  length = 0;
  wchar_t path[kServicePathUnits];
  if (!buildAccountPath(kind, talker, std::span<wchar_t, kServicePathUnits>(path))) return card::Answer::Failed;
  const std::int32_t result = getPathInto(path, activity, std::span<std::uint8_t>(cardBuffer), length);
  // The length tells a one-byte body from kFetchNoSession, which is 1 too.
  if (length == 0) return result == 0 ? card::Answer::Absent : card::Answer::Failed;
  return card::Answer::Arrived;
}

void fetchPicture() {
  std::size_t length = 0;
  exchange.image = fetchCard(TalkerImage, exchange.ask.talker, length);
  if (exchange.image != card::Answer::Arrived) return;
  // The same size guard as every other picture: a huge PNG is refused
  // before its pixels are made.
  exchange.picture = decodePngBytes(cardBuffer, static_cast<std::uint32_t>(length));
  if (!exchange.picture) exchange.image = card::Answer::Absent;
}

void fetchProfile() {
  std::size_t length = 0;
  exchange.profile = fetchCard(TalkerProfile, exchange.ask.talker, length);
  exchange.fields = Profile{};
  if (exchange.profile != card::Answer::Arrived) return;
  const std::span<const char> body(reinterpret_cast<const char*>(cardBuffer), length);
  extractElement(body, "PRENOM", exchange.fields.firstName, sizeof exchange.fields.firstName);
  extractElement(body, "VILLE", exchange.fields.city, sizeof exchange.fields.city);
  extractElement(body, "PHRASE", exchange.fields.phrase, sizeof exchange.fields.phrase);
  decodeEacute(exchange.fields.firstName);
  decodeEacute(exchange.fields.city);
  decodeEacute(exchange.fields.phrase);
}

DWORD WINAPI TalkerCardThread(void*) {
  for (;;) {
    WaitForSingleObject(cardWake.get(), INFINITE);
    exchange.image = card::Answer::NotAsked;
    exchange.profile = card::Answer::NotAsked;
    exchange.picture = nullptr;
    if (exchange.ask.image) fetchPicture();
    // A host that did not answer the picture is not asked for the profile:
    // the card stays as it is either way.
    if (exchange.ask.profile && exchange.image != card::Answer::Failed) fetchProfile();
    PostMessageW(mainWindow, kTalkerCardArrived, 0, 0);
  }
}

bool startWorker() {
  if (workerStarted) return true;
  if (!cardWake) cardWake.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!cardWake) return false;
  win::Handle thread(CreateThread(nullptr, 0, TalkerCardThread, nullptr, 0, nullptr));
  workerStarted = static_cast<bool>(thread);
  return workerStarted;
}

// The picture is drawn within its area only: a large picture is clipped to
// it, and the area is cleared first, so no part of an earlier face remains.
void drawTalkerPicture(HBITMAP picture) {
  win::WindowDc dc(mainWindow);
  if (!mainWindow || !dc) return;
  fillRect(dc.get(), kTalkerPictureArea, background());
  BITMAP bm{};
  if (!picture || !GetObjectW(picture, sizeof bm, &bm)) return;
  // One pixel of the area is kept on each side for the frame.
  const int width = std::min<int>(bm.bmWidth, kTalkerPictureArea.right - 1 - kPictureX);
  const int height = std::min<int>(bm.bmHeight, kTalkerPictureArea.bottom - 1 - kPictureY);
  win::MemoryDc source(CreateCompatibleDC(dc.get()));
  if (!source) return;
  {
    win::Selection usePicture(source.get(), picture);
    BitBlt(dc.get(), kPictureX, kPictureY, width, height, source.get(), 0, 0, SRCCOPY);
  }
  win::Brush red(CreateSolidBrush(kFrameRed));
  RECT frame{kPictureX - 1, kPictureY - 1, kPictureX + width + 1, kPictureY + height + 1};
  if (red) FrameRect(dc.get(), &frame, red.get());
}

void drawTalkerProfile(const Profile& p) {
  win::WindowDc dc(mainWindow);
  if (!mainWindow || !dc) return;
  fillRect(dc.get(), kTalkerNameRect, background());
  drawUtf8Text(dc.get(), p.firstName, 15, 319, kWhite);
  drawUtf8Text(dc.get(), p.city, 170, 319, kWhite);
  blurPanelRegion(dc.get(), kPhraseBand);
  drawUtf8Text(dc.get(), p.phrase, kPhraseBand.left, kPhraseBand.top, kYellow);
  noticeTalkerShown(p.firstName, p.city, p.phrase);
}

}  // namespace

void CALLBACK accountRefreshTick(HWND, UINT, UINT_PTR, DWORD) {
  if (!startWorker()) return;
  bool painted = paintedSinceFetch.load(std::memory_order_relaxed);
  const card::Ask ask = card::nextAsk(gate, talkerNumber.load(std::memory_order_relaxed), painted, GetTickCount64());
  paintedSinceFetch.store(painted, std::memory_order_relaxed);
  if (!ask.any()) return;
  exchange.ask = ask;
  SetEvent(cardWake.get());
}

void showArrivedTalkerCard() {
  if (!gate.busy) return;
  win::Bitmap picture(exchange.picture);   // freed here whatever the card does with it
  exchange.picture = nullptr;
  const card::Change c = card::finish(gate, exchange.ask, exchange.image, exchange.profile,
                                      talkerNumber.load(std::memory_order_relaxed), GetTickCount64());
  if (c.drop) return;
  if (c.picture) drawTalkerPicture(c.pictureArrived ? picture.get() : nullptr);
  if (c.name) drawTalkerProfile(c.nameArrived ? exchange.fields : Profile{});
}
