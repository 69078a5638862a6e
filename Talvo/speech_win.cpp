#include "Talvo/speech_win.h"

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cwchar>
#include <mutex>
#include <new>
#include <vector>

#include "Talvo/speech_abi.h"
#include "Talvo/temp_path.h"
#include "Talvo/voice_choice.h"
#include "Talvo/wave_export.h"
#include "common/win32_guards.h"

namespace {

// Longest wait for one asynchronous runtime call; a stuck engine abandons
// the utterance instead of blocking its thread for ever.
constexpr DWORD kRuntimeWaitMs = 60000;

// Serialises speaking: the window thread and the link thread both speak,
// and the two files are opened without sharing.
std::mutex speakLock;
bool speechClosed = false;                       // under speakLock
win::ComPtr<IActivationFactory> synthFactory;    // under speakLock
win::ComPtr<rt::IInstalledVoicesStatic> installedVoices;
win::ComPtr<rt::IDataReaderFactory> readerFactory;

class HString {
 public:
  HString() = default;
  HString(const HString&) = delete;
  HString& operator=(const HString&) = delete;
  ~HString() { WindowsDeleteString(h_); }
  HSTRING get() const { return h_; }
  HSTRING* put() {
    WindowsDeleteString(h_);
    h_ = nullptr;
    return &h_;
  }
  std::u16string_view view() const {
    UINT32 n = 0;
    const wchar_t* raw = WindowsGetStringRawBuffer(h_, &n);
    return {reinterpret_cast<const char16_t*>(raw), n};
  }

 private:
  HSTRING h_ = nullptr;
};

// Completion handler that sets an event; heap-allocated and counted, since
// the operation may hold it after the waiter has gone.
template <typename Result>
class Completion final : public rt::IAsyncOperationCompletedHandler<Result> {
 public:
  explicit Completion(const IID& iid) : iid_(iid), done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  bool ready() const { return static_cast<bool>(done_); }
  HANDLE event() const { return done_.get(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, iid_) || IsEqualIID(riid, IID_IAgileObject)) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE Invoke(rt::IAsyncOperation<Result>*, AsyncStatus) override {
    SetEvent(done_.get());
    return S_OK;
  }

 private:
  ~Completion() = default;
  IID iid_;
  std::atomic<ULONG> refs_{1};
  win::Handle done_;
};

// Waits on this thread for an asynchronous operation and takes its result.
template <typename Result>
HRESULT await(rt::IAsyncOperation<Result>* operation, const IID& handlerIid, Result* result) {
  auto* handler = new (std::nothrow) Completion<Result>(handlerIid);
  if (!handler) return E_OUTOFMEMORY;
  if (!handler->ready()) {
    handler->Release();
    return E_FAIL;
  }
  HRESULT hr = operation->put_Completed(handler);
  const DWORD waited = SUCCEEDED(hr) ? WaitForSingleObject(handler->event(), kRuntimeWaitMs) : WAIT_FAILED;
  handler->Release();
  win::ComPtr<IAsyncInfo> info;
  if (FAILED(operation->QueryInterface(rt::IID_IAsyncInfo, info.putVoid()))) return E_NOINTERFACE;
  if (waited != WAIT_OBJECT_0) {
    info->Cancel();
    return FAILED(hr) ? hr : HRESULT_FROM_WIN32(ERROR_TIMEOUT);
  }
  AsyncStatus status = Started;
  if (FAILED(hr = info->get_Status(&status))) return hr;
  if (status != Completed) {
    HRESULT error = E_FAIL;
    info->get_ErrorCode(&error);
    return FAILED(error) ? error : E_FAIL;
  }
  return operation->GetResults(result);
}

HRESULT activationFactory(const wchar_t* className, const IID& iid, void** out) {
  HString name;
  HRESULT hr = WindowsCreateString(className, static_cast<UINT32>(wcslen(className)), name.put());
  if (FAILED(hr)) return hr;
  return RoGetActivationFactory(name.get(), iid, out);
}

// Under speakLock.
bool haveFactories() {
  if (speechClosed) return false;
  if (!synthFactory &&
      FAILED(activationFactory(rt::kSpeechSynthesizerClass, rt::IID_IActivationFactory, synthFactory.putVoid()))) {
    return false;
  }
  if (!installedVoices &&
      FAILED(synthFactory->QueryInterface(rt::IID_IInstalledVoicesStatic, installedVoices.putVoid()))) {
    return false;
  }
  if (!readerFactory &&
      FAILED(activationFactory(rt::kDataReaderClass, rt::IID_IDataReaderFactory, readerFactory.putVoid()))) {
    return false;
  }
  return true;
}

// Sets the synthesizer's voice by the choice rule; a failure leaves the
// synthesizer's default voice.
void chooseSynthesizerVoice(rt::ISpeechSynthesizer* synthesizer) {
  win::ComPtr<rt::IVoiceInformationVectorView> voices;
  UINT32 count = 0;
  if (FAILED(installedVoices->get_AllVoices(voices.put())) || !voices || FAILED(voices->get_Size(&count))) return;
  HString language;   // outlives each look at the voice it belongs to
  const int pick = chooseVoice(count, [&](std::uint32_t i) {
    VoiceTraits traits{u"", -1};
    win::ComPtr<rt::IVoiceInformation> voice;
    rt::VoiceGender gender = rt::VoiceGenderFemale;
    if (SUCCEEDED(voices->GetAt(i, voice.put())) && voice && SUCCEEDED(voice->get_Language(language.put())) &&
        SUCCEEDED(voice->get_Gender(&gender))) {
      traits = {language.view(), static_cast<int>(gender)};
    }
    return traits;
  });
  if (pick == kSystemVoice) return;
  win::ComPtr<rt::IVoiceInformation> chosen;
  if (SUCCEEDED(voices->GetAt(static_cast<UINT32>(pick), chosen.put()))) synthesizer->put_Voice(chosen.get());
}

// The whole synthesis stream of the text, as a RIFF WAV file. Empty on failure.
std::vector<std::uint8_t> synthesise(const wchar_t* text, std::size_t length) {
  std::vector<std::uint8_t> none;
  win::ComPtr<IInspectable> instance;
  win::ComPtr<rt::ISpeechSynthesizer> synthesizer;
  if (FAILED(synthFactory->ActivateInstance(instance.put())) || !instance ||
      FAILED(instance->QueryInterface(rt::IID_ISpeechSynthesizer, synthesizer.putVoid()))) {
    return none;
  }
  chooseSynthesizerVoice(synthesizer.get());

  HString words;
  if (length > 0xFFFFFFFFu || FAILED(WindowsCreateString(text, static_cast<UINT32>(length), words.put()))) {
    return none;
  }
  win::ComPtr<rt::ISynthesisOperation> synthesis;
  win::ComPtr<rt::ISpeechSynthesisStream> stream;
  if (FAILED(synthesizer->SynthesizeTextToStreamAsync(words.get(), synthesis.put())) || !synthesis ||
      FAILED(await(synthesis.get(), rt::IID_ISynthesisCompletedHandler, stream.put())) || !stream) {
    return none;
  }
  win::ComPtr<rt::IRandomAccessStream> randomAccess;
  win::ComPtr<rt::IInputStream> input;
  win::ComPtr<rt::IDataReader> reader;
  UINT64 size = 0;
  if (FAILED(stream->QueryInterface(rt::IID_IRandomAccessStream, randomAccess.putVoid())) ||
      FAILED(randomAccess->get_Size(&size)) ||
      FAILED(stream->QueryInterface(rt::IID_IInputStream, input.putVoid())) ||
      FAILED(readerFactory->CreateDataReader(input.get(), reader.put())) || !reader) {
    return none;
  }
  // LoadAsync takes 32 bits: a larger stream is read up to that much.
  const UINT32 wanted = size > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<UINT32>(size);
  win::ComPtr<rt::ILoadOperation> load;
  UINT32 loaded = 0;
  if (FAILED(reader->LoadAsync(wanted, load.put())) || !load ||
      FAILED(await(load.get(), rt::IID_ILoadCompletedHandler, &loaded))) {
    return none;
  }
  // Only what was loaded can be read: a stream shorter than its announced
  // size yields fewer bytes, never a zero-filled tail taken for sound.
  if (loaded > wanted) loaded = wanted;
  std::vector<std::uint8_t> waveBytes(loaded);
  if (loaded > 0 && FAILED(reader->ReadBytes(loaded, waveBytes.data()))) return none;
  return waveBytes;
}

win::Handle createForWriting(const wchar_t* fileName) {
  wchar_t path[kMaxPathChars];
  tempFilePath(fileName, path);
  HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return win::Handle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

bool writeAll(HANDLE file, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes = bytes.subspan(written);
  }
  return true;
}

}  // namespace

void tempFilePath(const wchar_t* fileName, wchar_t (&out)[260]) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  wchar_t folder[kMaxPathChars + 1];
  const DWORD n = GetTempPathW(kMaxPathChars + 1, folder);
  const std::u16string_view temp =
      n == 0 || n > kMaxPathChars ? std::u16string_view{} : std::u16string_view{reinterpret_cast<char16_t*>(folder), n};
  std::span<char16_t, kMaxPathChars> dst(reinterpret_cast<char16_t*>(out), kMaxPathChars);
  if (!temp.empty()) {
    tempFilePathInto(temp, u"", dst);       // the folder itself
    CreateDirectoryW(out, nullptr);          // already there: fine
  }
  tempFilePathInto(temp, reinterpret_cast<const char16_t*>(fileName), dst);
}

bool exportPcm(std::span<const std::uint8_t> waveBytes) {
  const win::Handle file = createForWriting(L"audio_output.raw");
  if (!file) return false;
  const auto payload = wavDataPayload(waveBytes);
  if (!payload || payload->empty()) return false;
  return writeAll(file.get(), *payload);
}

bool speakText(const wchar_t* text, std::size_t length) {
  const std::lock_guard lock(speakLock);
  if (!haveFactories()) return false;
  const std::vector<std::uint8_t> waveBytes = synthesise(text, length);
  if (waveBytes.empty()) return false;
  exportPcm(waveBytes);
  wchar_t path[kMaxPathChars];
  tempFilePath(L"talvo_sound.wav", path);
  {
    HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    const win::Handle file(h == INVALID_HANDLE_VALUE ? nullptr : h);
    if (!file || !writeAll(file.get(), waveBytes)) return false;
  }
  return PlaySoundW(path, nullptr, SND_FILENAME | SND_SYNC) != FALSE;
}

void releaseSpeechFactories() {
  const std::lock_guard lock(speakLock);
  speechClosed = true;
  readerFactory.reset();
  installedVoices.reset();
  synthFactory.reset();
}
