#include "Talvo/speaker_win.h"

#include <mmsystem.h>

#include <atomic>
#include <string_view>

#include "Talvo/link_win.h"
#include "Talvo/speech_queue.h"
#include "Talvo/speech_win.h"
#include "common/win32_guards.h"

namespace {

constexpr DWORD kTransmitLeadMs = 1500;   // the client's capture is running by then

CRITICAL_SECTION queueLock;               // guards `queue` only, never held while speaking
talk::Queue queue;
talk::Utterance current;                  // the speaking thread's own copy
win::Handle wake;                         // auto-reset: something was queued
win::Handle stopping;                     // manual-reset: Talvo is closing
win::Handle thread;
HWND notifyWindow = nullptr;

bool queueText(talk::Kind kind, const wchar_t* text, std::size_t length) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  if (!thread || WaitForSingleObject(stopping.get(), 0) == WAIT_OBJECT_0) return false;
  EnterCriticalSection(&queueLock);
  const bool queued = talk::push(queue, kind, std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
  LeaveCriticalSection(&queueLock);
  if (queued) SetEvent(wake.get());
  return queued;
}

bool closing() { return WaitForSingleObject(stopping.get(), 0) == WAIT_OBJECT_0; }

void speakTyped() {
  beginTransmit();
  // The lead ends early when Talvo closes; the 'R' still follows.
  const bool spoken = WaitForSingleObject(stopping.get(), kTransmitLeadMs) == WAIT_TIMEOUT &&
                      speakText(reinterpret_cast<const wchar_t*>(current.text), current.length);
  // The 'R' goes out whatever happens: a failed utterance must not leave
  // the client transmitting.
  endTransmit();
  PostMessageW(notifyWindow, kTypedSpokenMessage, spoken ? 1 : 0, 0);
}

DWORD WINAPI SpeakerThread(void*) {
  // speakText needs the runtime on the thread that calls it.
  const win::ComApartment apartment(COINIT_MULTITHREADED);
  if (!apartment.ok()) return 0;
  const HANDLE waits[] = {stopping.get(), wake.get()};
  while (!closing()) {
    EnterCriticalSection(&queueLock);
    const bool have = talk::pop(queue, current);
    LeaveCriticalSection(&queueLock);
    if (!have) {
      WaitForMultipleObjects(2, waits, FALSE, INFINITE);
      continue;
    }
    if (current.kind == talk::Kind::Typed)
      speakTyped();
    else
      speakText(reinterpret_cast<const wchar_t*>(current.text), current.length);
  }
  return 0;
}

}  // namespace

bool startSpeaker(HWND window) {
  InitializeCriticalSection(&queueLock);
  notifyWindow = window;
  wake.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  stopping.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!wake || !stopping) return false;
  thread.reset(CreateThread(nullptr, 0, SpeakerThread, nullptr, 0, nullptr));
  return static_cast<bool>(thread);
}

bool sayTyped(const wchar_t* text, std::size_t length) { return queueText(talk::Kind::Typed, text, length); }

bool sayText(const wchar_t* text, std::size_t length) { return queueText(talk::Kind::Said, text, length); }

bool stopSpeaker(DWORD waitMs) {
  if (!thread) return true;
  SetEvent(stopping.get());
  // Ends the sound being played, whichever thread plays it.
  PlaySoundW(nullptr, nullptr, 0);
  return WaitForSingleObject(thread.get(), waitMs) == WAIT_OBJECT_0;
}
