#include "Orva-Lin/audio/audio_thread.h"

#include <mmsystem.h>

#include <atomic>
#include <cstdio>
#include <span>

#include "Orva-Lin/audio/activity_ring.h"
#include "Orva-Lin/audio/input_devices.h"
#include "Orva-Lin/audio/levels.h"
#include "Orva-Lin/audio/playout_fifo.h"
#include "Orva-Lin/net/relay.h"
#include "Orva-Lin/shared_state.h"
#include "Orva-Lin/transmit.h"
#include "common/protocol.h"
#include "common/win32_guards.h"

namespace {

constexpr WAVEFORMATEX kFormat = {WAVE_FORMAT_PCM,
                                  proto::kChannelsPerFrame,
                                  proto::kSampleRate,
                                  proto::kSampleRate * proto::kBytesPerFrame,
                                  proto::kBytesPerFrame,
                                  16,
                                  0};

constexpr int kPlaybackBuffers = 2;
constexpr int kCaptureBuffers = 3;
constexpr DWORD kPollMs = 10;
constexpr std::size_t kPlaybackBlockBytes = kPlaybackBuffers * (sizeof(WAVEHDR) + kCycleBytes);

constexpr wchar_t kSystemErrorFormat[] = L"Windows semble avoir un problème système !\nCode d'erreur : %d";
constexpr wchar_t kSystemErrorCaption[] = L"Erreur Système Windows";
constexpr wchar_t kDiagnosisCaption[] = L"Identification du problème";
constexpr wchar_t kPlaybackFailure[] =
    L"Erreur d'ouverture du périphérique de lecture.\nLe driver de lecture est défectueux ou incompatible\n"
    L"Orva-Lin ne pourra pas fonctionner en mode écoute.\nLe programme va s'arrêté automatiquement.";
constexpr wchar_t kCaptureFailure[] =
    L"Erreur d'ouverture du périphérique d'enregistrement.\nLe driver d'enregistrement est défectueux ou "
    L"incompatible\nOrva-Lin ne pourra fonctionner qu'en mode écoute.\nLe programme va s'arrêté automatiquement.";

// ---- playback ----------------------------------------------------------------

CRITICAL_SECTION bufferLock;
std::atomic<std::int32_t> freeBufferCount{0};  // changed under bufferLock, watched without it
// Set by the callback whenever a buffer comes back, so that the playback
// run sleeps until then rather than waking every 10 ms to look.
win::Handle bufferReturned(CreateEventW(nullptr, FALSE, FALSE, nullptr));

// Runs on the system's waveform thread: the guarded increment and the
// wake-up, never a waveform call.
void CALLBACK waveOutDone(HWAVEOUT, UINT message, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
  if (message != WOM_DONE) return;
  EnterCriticalSection(&bufferLock);
  freeBufferCount.fetch_add(1, std::memory_order_relaxed);
  LeaveCriticalSection(&bufferLock);
  SetEvent(bufferReturned.get());
}

[[noreturn]] void failDevice(MMRESULT code, const wchar_t* diagnosis) {
  wchar_t text[256];
  std::swprintf(text, 256, kSystemErrorFormat, static_cast<int>(code));
  MessageBoxW(nullptr, text, kSystemErrorCaption, MB_OK);
  MessageBoxW(nullptr, diagnosis, kDiagnosisCaption, MB_OK);
  ExitProcess(1);
}

class HeapBlock {
 public:
  explicit HeapBlock(std::size_t bytes) : p_(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes)) {}
  HeapBlock(const HeapBlock&) = delete;
  HeapBlock& operator=(const HeapBlock&) = delete;
  ~HeapBlock() {
    if (p_) HeapFree(GetProcessHeap(), 0, p_);
  }
  std::uint8_t* get() const { return static_cast<std::uint8_t*>(p_); }

 private:
  void* p_;
};

class CriticalSection {
 public:
  explicit CriticalSection(CRITICAL_SECTION& cs) : cs_(cs) { InitializeCriticalSection(&cs_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  ~CriticalSection() { DeleteCriticalSection(&cs_); }

 private:
  CRITICAL_SECTION& cs_;
};

class WaveOut {
 public:
  WaveOut() = default;
  WaveOut(const WaveOut&) = delete;
  WaveOut& operator=(const WaveOut&) = delete;
  ~WaveOut() {
    if (h_) waveOutClose(h_);
  }
  HWAVEOUT* put() { return &h_; }
  HWAVEOUT get() const { return h_; }

 private:
  HWAVEOUT h_ = nullptr;
};

// Sleeps until the callback says a buffer came back (a buffer lasts
// 125 ms); the time-out only bounds a wait on a device that stopped.
void waitForFreeBuffers(std::int32_t atLeast) {
  constexpr DWORD kLongestWaitMs = 250;
  while (freeBufferCount.load(std::memory_order_relaxed) < atLeast) {
    if (bufferReturned)
      WaitForSingleObject(bufferReturned.get(), kLongestWaitMs);
    else
      Sleep(kPollMs);
  }
}

// One listening run: returns once the member talks or the program ends.
// Two 125-ms buffers alternate on the device; each cycle moves the playout
// buffer on by four slots.
void runPlayback() {
  // Laid out as two wave headers, then their two data areas.
  HeapBlock block(kPlaybackBlockBytes);
  if (!block.get()) ExitProcess(1);
  WAVEHDR* headers = reinterpret_cast<WAVEHDR*>(block.get());
  std::uint8_t* data = block.get() + kPlaybackBuffers * sizeof(WAVEHDR);
  for (int k = 0; k < kPlaybackBuffers; ++k) {
    headers[k].lpData = reinterpret_cast<LPSTR>(data + k * kCycleBytes);
    headers[k].dwBufferLength = kCycleBytes;
  }
  freeBufferCount.store(kPlaybackBuffers);
  int current = 0;
  CriticalSection lock(bufferLock);

  WaveOut device;
  const MMRESULT opened = waveOutOpen(device.put(), WAVE_MAPPER, &kFormat, reinterpret_cast<DWORD_PTR>(waveOutDone),
                                      0, CALLBACK_FUNCTION);
  if (opened != MMSYSERR_NOERROR) failDevice(opened, kPlaybackFailure);

  LedRing ring(networkLedStates);
  if (transmitFlagValue() == 0) {
    do {
      WAVEHDR& h = headers[current];
      beginPlaybackCycle(playbackCursor, ring);
      // The device is done with this buffer (the wait below saw it come
      // back), so the advance can write the next 125 ms straight into it.
      if (h.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(device.get(), &h, sizeof h);
      advanceFifo(playbackFifo, std::span<std::uint8_t, kCycleBytes>(reinterpret_cast<std::uint8_t*>(h.lpData),
                                                                    kCycleBytes));
      stepPlaybackCursor(playbackCursor, ring);
      h.dwBufferLength = kCycleBytes;
      h.dwFlags = 0;
      waveOutPrepareHeader(device.get(), &h, sizeof h);
      waveOutWrite(device.get(), &h, sizeof h);
      EnterCriticalSection(&bufferLock);
      freeBufferCount.fetch_sub(1, std::memory_order_relaxed);
      LeaveCriticalSection(&bufferLock);
      waitForFreeBuffers(1);
      current ^= 1;
      playbackLevelUpdate(reinterpret_cast<const std::uint8_t*>(h.lpData));
    } while (captureState.load() != 0 && transmitFlagValue() == 0);
  }

  waitForFreeBuffers(kPlaybackBuffers);
  for (WAVEHDR& h : std::span<WAVEHDR>(headers, kPlaybackBuffers))
    if (h.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(device.get(), &h, sizeof h);
}

// ---- capture -------------------------------------------------------------------

WAVEHDR captureHeaders[kCaptureBuffers];
HWAVEIN captureDevice = nullptr;
int captureIndex = 0;

void requeue(WAVEHDR& h) {
  h.dwBufferLength = proto::kPcmBlockBytes;
  h.dwBytesRecorded = 0;
  h.dwFlags = 0;
  waveInPrepareHeader(captureDevice, &h, sizeof h);
  waveInAddBuffer(captureDevice, &h, sizeof h);
}

void openCapture() {
  const UINT id = inputDeviceIndex < 0 ? WAVE_MAPPER : static_cast<UINT>(inputDeviceIndex);
  const MMRESULT opened = waveInOpen(&captureDevice, id, &kFormat, 0, 0, CALLBACK_NULL);
  if (opened != MMSYSERR_NOERROR) failDevice(opened, kCaptureFailure);
  for (WAVEHDR& h : captureHeaders) {
    h = WAVEHDR{};
    h.lpData = static_cast<LPSTR>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, proto::kPcmBlockBytes));
    if (!h.lpData) ExitProcess(1);
    requeue(h);
  }
  captureIndex = 0;
  waveInStart(captureDevice);
  txRxLedState.store(led::kRed, std::memory_order_relaxed);
}

// Completion is seen by polling the header flags every 10 ms: at most one
// block is handled per pass, and the device fills one every 31.25 ms.
void runCapture() {
  while (transmitFlagValue() == 1 && captureState.load() != 0) {
    WAVEHDR& h = captureHeaders[captureIndex];
    if (h.dwFlags & WHDR_DONE) {
      sendVoiceBlock(reinterpret_cast<const std::uint8_t*>(h.lpData));
      waveInUnprepareHeader(captureDevice, &h, sizeof h);
      requeue(h);
      captureIndex = (captureIndex + 1) % kCaptureBuffers;
    }
    Sleep(kPollMs);
  }
}

// A block only partly recorded when the key went up is dropped.
void closeCapture() {
  waveInStop(captureDevice);
  waveInReset(captureDevice);
  for (WAVEHDR& h : captureHeaders) {
    waveInUnprepareHeader(captureDevice, &h, sizeof h);
    HeapFree(GetProcessHeap(), 0, h.lpData);
    h.lpData = nullptr;
  }
  waveInClose(captureDevice);
  captureDevice = nullptr;
}

}  // namespace

DWORD WINAPI AudioThread(void*) {
  // Sleeps of 10 ms pace both runs; the default 15.6-ms tick is too coarse.
  timeBeginPeriod(1);
  do {
    runPlayback();
    openCapture();
    runCapture();
    closeCapture();
    txRxLedState.store(led::kBlue, std::memory_order_relaxed);
  } while (captureState.load() == 1);
  captureState.store(kCaptureEnded);
  return 0;
}
