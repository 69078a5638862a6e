#include "Orva-Lin/web/picture_fetch.h"

#include <atomic>
#include <cstdlib>
#include <cstdint>
#include <span>

#include "Orva-Lin/draw_helpers.h"
#include "Orva-Lin/main_window.h"
#include "Orva-Lin/panel.h"
#include "Orva-Lin/web/http.h"
#include "Orva-Lin/web/image_decode.h"
#include "Orva-Lin/web/picture_book.h"
#include "Orva-Lin/web/service_paths.h"
#include "common/win32_guards.h"

namespace {

// Each lane has a response buffer of its own rather than sharing
// responseBuffer with the user-interface thread's requests: a lock held
// across a fetch would stall the panel for as long as the host takes to
// answer a picture, which is what the workers are for.
//
// Two lanes: member pictures, one after another, and the channel's shared
// picture on a thread of its own. With a slow host every member picture
// takes up to a whole exchange deadline, and a queue of them would hold the
// shared picture back for minutes; on its own lane it waits for nobody.
std::uint8_t workerBuffer[kResponseBytes + 1];
std::uint8_t shareBuffer[kResponseBytes + 1];

// The cache keeps each face at the largest cell that shows one (the peers
// window's); the group list's cells are half of it each way.
constexpr int kCachedWidth = grids::kPeerCellWidth;
constexpr int kCachedHeight = grids::kPeerCellHeight;

constexpr int kMaxWatchers = 4;

// One lock for the book, the bitmaps and the share hand-over; each holder
// keeps it for a lookup and a small blit, or a handle swap, never for a
// request.
CRITICAL_SECTION bookLock;
pictures::Book book;
HBITMAP slotBitmaps[pictures::kSlots];
HWND watchers[kMaxWatchers];
int shareChannelWanted = -1;   // -1: nothing asked
HWND shareNotify = nullptr;
HBITMAP shareArrived = nullptr;
int shareArrivedChannel = -1;  // the channel shareArrived belongs to

win::Handle workerWake;        // auto-reset: set when work is queued
win::Handle shareWake;         // auto-reset: set when a share picture is asked
std::atomic<bool> workerStarted{false};

class Locked {
 public:
  Locked() { EnterCriticalSection(&bookLock); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
  ~Locked() { LeaveCriticalSection(&bookLock); }
};

std::uint64_t nowMs() { return GetTickCount64(); }

// A GET into a lane's buffer. The body length, 0 for an answer without
// one, -1 when no answer came: failed exchanges are never decoded, whatever
// the buffer holds.
std::int32_t fetchInto(std::span<std::uint8_t> buffer, const wchar_t* base, std::int32_t number) {
  std::size_t length = 0;
  const std::int32_t result = fetchPathInto(base, number, buffer, length);
  // The length tells a one-byte body from kFetchNoSession, which is 1 too.
  if (length == 0 && result != 0) return -1;
  return static_cast<std::int32_t>(length);
}

void fetchMember(std::int32_t member) {
  const std::int32_t length = fetchInto(std::span<std::uint8_t>(workerBuffer), kUsersBase, member);
  grids::Fetch outcome = grids::Fetch::Absent;
  win::Bitmap picture;
  if (length < 0) {
    outcome = grids::Fetch::Failed;
  } else if (length > 0) {
    picture = win::Bitmap(
        decodePngScaled(workerBuffer, static_cast<std::uint32_t>(length), kCachedWidth, kCachedHeight));
    outcome = picture ? grids::Fetch::Picture : grids::Fetch::Undecoded;
  }
  HWND notify[kMaxWatchers];
  {
    Locked hold;
    const pictures::Stored s = pictures::storeFetch(book, member, outcome, nowMs());
    if (s.slot >= 0 && !s.keepsBitmap) {
      if (slotBitmaps[s.slot]) DeleteObject(slotBitmaps[s.slot]);
      slotBitmaps[s.slot] = picture.release();
    }
    for (int i = 0; i < kMaxWatchers; ++i) notify[i] = watchers[i];
  }
  for (HWND w : notify)
    if (w) PostMessageW(w, kMemberPictureArrived, static_cast<WPARAM>(member), 0);
}

void fetchShare(int channel, HWND notify) {
  const std::int32_t length = fetchInto(std::span<std::uint8_t>(shareBuffer), kExchangeBase, channel);
  win::Bitmap picture;
  if (length > 0) picture = win::Bitmap(decodeImageResponse(shareBuffer, static_cast<std::uint32_t>(length)));
  {
    Locked hold;
    if (picture) {
      if (shareArrived) DeleteObject(shareArrived);
      shareArrived = picture.release();
      shareArrivedChannel = channel;
    }
  }
  PostMessageW(notify, kSharePictureArrived, static_cast<WPARAM>(channel), 0);
}

DWORD WINAPI PictureFetchThread(void*) {
  for (;;) {
    std::int32_t member = -1;
    {
      Locked hold;
      member = pictures::takeNext(book);
    }
    if (member >= 0)
      fetchMember(member);
    else
      WaitForSingleObject(workerWake.get(), INFINITE);
  }
}

DWORD WINAPI ShareFetchThread(void*) {
  for (;;) {
    int channel = -1;
    HWND notify = nullptr;
    {
      Locked hold;
      channel = shareChannelWanted;
      notify = shareNotify;
      shareChannelWanted = -1;
    }
    if (channel >= 0)
      fetchShare(channel, notify);
    else
      WaitForSingleObject(shareWake.get(), INFINITE);
  }
}

void wakeWorker() {
  if (workerWake) SetEvent(workerWake.get());
}

#ifdef ORVA_TEST_HOOKS
// Test builds only: ORVA_TEST_PICTURES_ON_UI=1 fetches every picture on the
// thread that draws it, one request after another and uncached, so the
// benchmark can measure the stall that the worker takes away.
bool picturesOnCaller() {
  static const bool on = [] {
    const char* v = std::getenv("ORVA_TEST_PICTURES_ON_UI");
    return v && v[0] == '1';
  }();
  return on;
}

grids::Fetch fetchOnCaller(HDC dc, std::int32_t member, int x, int y, int width, int height) {
  const std::int32_t result = fetchPath(kUsersBase, member);
  if (responseLength == 0) return result == 0 ? grids::Fetch::Absent : grids::Fetch::Failed;
  const win::Bitmap picture = decodePngResponse(result);
  if (!picture) return grids::Fetch::Undecoded;
  drawPictureScaled(dc, picture.get(), x, y, width, height);
  return grids::Fetch::Picture;
}
#endif

}  // namespace

bool startPictureWorker() {
  if (workerStarted.load()) return true;
  static bool lockMade = false;
  if (!lockMade) {
    InitializeCriticalSection(&bookLock);
    lockMade = true;
  }
  if (!workerWake) workerWake.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!shareWake) shareWake.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!workerWake || !shareWake) return false;
  const auto start = [](LPTHREAD_START_ROUTINE body) {
    return static_cast<bool>(win::Handle(CreateThread(nullptr, 0, body, nullptr, 0, nullptr)));
  };
  static bool memberLane = false;
  static bool shareLane = false;
  if (!memberLane) memberLane = start(PictureFetchThread);
  if (!shareLane) shareLane = start(ShareFetchThread);
  if (!memberLane || !shareLane) return false;
  workerStarted.store(true);
  return true;
}

HWND openMemberPictureWindow(const wchar_t* className, const wchar_t* title, int dx, bool fromRight, int dy) {
  startPictureWorker();
  RECT main{};
  GetWindowRect(mainWindow, &main);
  const HWND w = CreateWindowExW(0, className, title, WS_VISIBLE | WS_SYSMENU, (fromRight ? main.right : main.left) + dx,
                                 main.top + dy, 10, 10, mainWindow, nullptr, appInstance, nullptr);
  if (!w) return nullptr;
  ShowWindow(w, SW_SHOWNORMAL);
  watchMemberPictures(w);
  return w;
}

void watchMemberPictures(HWND window) {
  if (!workerStarted.load()) return;
  Locked hold;
  for (HWND& w : watchers)
    if (!w || w == window) {
      w = window;
      return;
    }
}

void unwatchMemberPictures(HWND window) {
  if (!workerStarted.load()) return;
  Locked hold;
  for (HWND& w : watchers)
    if (w == window) w = nullptr;
}

grids::Fetch drawMemberPicture(HDC dc, std::int32_t member, int x, int y, int width, int height) {
#ifdef ORVA_TEST_HOOKS
  if (picturesOnCaller()) return fetchOnCaller(dc, member, x, y, width, height);
#endif
  if (!workerStarted.load()) return grids::Fetch::Pending;
  bool queued = false;
  grids::Fetch state;
  {
    Locked hold;
    const int waitingBefore = book.waiting;
    const pictures::Lookup l = pictures::lookUp(book, member, nowMs());
    queued = book.waiting > waitingBefore;
    if (l.freedSlot >= 0 && slotBitmaps[l.freedSlot]) {
      DeleteObject(slotBitmaps[l.freedSlot]);
      slotBitmaps[l.freedSlot] = nullptr;
    }
    state = l.state;
    // The worker swaps bitmaps under this lock, so the one drawn here stays
    // alive until the blit is done.
    if (state == grids::Fetch::Picture && l.slot >= 0)
      drawPictureScaled(dc, slotBitmaps[l.slot], x, y, width, height);
  }
  if (queued) wakeWorker();
  return state;
}

void requestSharePicture(int channel, HWND notify) {
  if (!startPictureWorker()) return;
  {
    Locked hold;
    shareChannelWanted = channel;
    shareNotify = notify;
  }
  SetEvent(shareWake.get());
}

HBITMAP takeSharePicture(int channel) {
  if (!workerStarted.load()) return nullptr;
  Locked hold;
  HBITMAP b = shareArrived;
  shareArrived = nullptr;
  if (b && shareArrivedChannel != channel) {
    DeleteObject(b);   // an older fetch that landed after the channel changed
    b = nullptr;
  }
  return b;
}
