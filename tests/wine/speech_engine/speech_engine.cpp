// Stand-in for the two platform components Talvo speaks through, for the
// Wine test bed only (Wine's own SpeechSynthesizer lists no voice and its
// stream cannot be read; its DataReader is not registered). The bed
// registers this DLL in its prefixes for
//   Windows.Media.SpeechSynthesis.SpeechSynthesizer
//   Windows.Storage.Streams.DataReader
// Never shipped: on Windows the system's own engine speaks.
//
// Voices: ORVA_TEST_VOICES, a comma-separated list of language:gender
// ("en-US:female,fr-FR:male"); default "fr-FR:female,fr-FR:male".
// ORVA_TEST_SPEECH_FAIL=1 makes every synthesis fail.
//
// Speech: a RIFF WAV (22050 Hz, mono, 16-bit, a "LIST" chunk between "fmt "
// and "data") of 50 ms of silence, then one tone burst per syllable: the
// text's UTF-16 units taken four at a time, burst k lasting 80 ms followed
// by 40 ms of silence, at 300 + 100 * (sum of its units mod 12) Hz, times
// 1.5 for a female voice. Tests recompute that pattern to recognise a text.
#include <windows.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "Talvo/speech_abi.h"

namespace {

constexpr int kRate = 22050;
constexpr int kLeadMs = 50;
constexpr int kBurstMs = 80;
constexpr int kGapMs = 40;
constexpr int kUnitsPerSyllable = 4;
constexpr int kMaxVoices = 8;

// Hands out the implementing object behind an interface of this DLL.
constexpr IID IID_EngineObject = {0x6f1c2a57, 0x3b7e, 0x4c21, {0x9a, 0x41, 0x0d, 0x5e, 0x7b, 0x22, 0x90, 0x13}};

#define INSPECTABLE_BOILERPLATE                                                                            \
  HRESULT STDMETHODCALLTYPE GetIids(ULONG* count, IID** iids) override {                                  \
    *count = 0;                                                                                            \
    *iids = nullptr;                                                                                       \
    return S_OK;                                                                                           \
  }                                                                                                        \
  HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* name) override {                                 \
    *name = nullptr;                                                                                       \
    return S_OK;                                                                                           \
  }                                                                                                        \
  HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* level) override {                                   \
    *level = BaseTrust;                                                                                    \
    return S_OK;                                                                                           \
  }

// Reference counting for heap objects; static objects count but never die.
#define COUNTED(Class)                                                                                     \
  std::atomic<ULONG> refs_{1};                                                                             \
  bool static_ = false;                                                                                    \
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }                                            \
  ULONG STDMETHODCALLTYPE Release() override {                                                            \
    const ULONG left = --refs_;                                                                            \
    if (left == 0 && !static_) delete this;                                                                \
    return left;                                                                                           \
  }

template <typename I>
HRESULT hand(I* p, void** out) {
  p->AddRef();
  *out = p;
  return S_OK;
}

bool common(REFIID riid) { return IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, rt::IID_IInspectable) ||
                                  IsEqualIID(riid, IID_IAgileObject); }

// ---- voices -----------------------------------------------------------------

struct Voice final : rt::IVoiceInformation {
  COUNTED(Voice)
  INSPECTABLE_BOILERPLATE
  wchar_t language[16] = L"";
  rt::VoiceGender gender = rt::VoiceGenderFemale;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (common(riid) || IsEqualIID(riid, rt::IID_IVoiceInformation)) return hand(this, out);
    if (IsEqualIID(riid, IID_EngineObject)) { *out = this; return S_OK; }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE get_DisplayName(HSTRING* v) override { return get_Language(v); }
  HRESULT STDMETHODCALLTYPE get_Id(HSTRING* v) override { return get_Language(v); }
  HRESULT STDMETHODCALLTYPE get_Language(HSTRING* v) override {
    return WindowsCreateString(language, static_cast<UINT32>(wcslen(language)), v);
  }
  HRESULT STDMETHODCALLTYPE get_Description(HSTRING* v) override { return get_Language(v); }
  HRESULT STDMETHODCALLTYPE get_Gender(rt::VoiceGender* v) override {
    *v = gender;
    return S_OK;
  }
};

Voice voices[kMaxVoices];
UINT32 voiceCount = 0;

void loadVoices() {
  wchar_t spec[512];
  DWORD n = GetEnvironmentVariableW(L"ORVA_TEST_VOICES", spec, 512);
  if (n == 0 || n >= 512) wcscpy(spec, L"fr-FR:female,fr-FR:male");
  voiceCount = 0;
  for (wchar_t* item = spec; item && *item && voiceCount < kMaxVoices;) {
    wchar_t* next = wcschr(item, L',');
    if (next) *next++ = 0;
    wchar_t* colon = wcschr(item, L':');
    if (colon) {
      *colon = 0;
      Voice& v = voices[voiceCount++];
      v.static_ = true;
      wcsncpy(v.language, item, 15);
      v.gender = wcscmp(colon + 1, L"male") == 0 ? rt::VoiceGenderMale : rt::VoiceGenderFemale;
    }
    item = next;
  }
}

struct VoiceView final : rt::IVoiceInformationVectorView {
  COUNTED(VoiceView)
  INSPECTABLE_BOILERPLATE
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (common(riid) || IsEqualIID(riid, rt::IID_IVoiceInformationVectorView)) return hand(this, out);
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE GetAt(UINT32 i, rt::IVoiceInformation** item) override {
    if (i >= voiceCount) return E_INVALIDARG;
    return hand(static_cast<rt::IVoiceInformation*>(&voices[i]), reinterpret_cast<void**>(item));
  }
  HRESULT STDMETHODCALLTYPE get_Size(UINT32* size) override {
    *size = voiceCount;
    return S_OK;
  }
};

VoiceView voiceView;

// ---- the synthesis stream -------------------------------------------------------

void put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void put16(std::vector<std::uint8_t>& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void putTag(std::vector<std::uint8_t>& b, const char* tag) { b.insert(b.end(), tag, tag + 4); }

std::vector<std::uint8_t> speech(const wchar_t* text, UINT32 length, bool female) {
  std::vector<std::int16_t> pcm(kRate * kLeadMs / 1000, 0);
  for (UINT32 at = 0; at < length; at += kUnitsPerSyllable) {
    unsigned sum = 0;
    for (UINT32 k = at; k < length && k < at + kUnitsPerSyllable; ++k) sum += text[k];
    const double hz = (300.0 + 100.0 * (sum % 12)) * (female ? 1.5 : 1.0);
    const int burst = kRate * kBurstMs / 1000;
    const int ramp = kRate * 8 / 1000;
    for (int i = 0; i < burst; ++i) {
      const double edge = std::min(1.0, std::min(i, burst - 1 - i) / static_cast<double>(ramp));
      pcm.push_back(static_cast<std::int16_t>(16000.0 * edge * std::sin(2 * 3.14159265358979323846 * hz * i / kRate)));
    }
    pcm.insert(pcm.end(), kRate * kGapMs / 1000, 0);
  }
  std::vector<std::uint8_t> b;
  const std::uint32_t dataBytes = static_cast<std::uint32_t>(pcm.size() * 2);
  putTag(b, "RIFF");
  put32(b, 4 + (8 + 16) + (8 + 4) + (8 + dataBytes));
  putTag(b, "WAVE");
  putTag(b, "fmt ");
  put32(b, 16);
  put16(b, 1);
  put16(b, 1);
  put32(b, kRate);
  put32(b, kRate * 2);
  put16(b, 2);
  put16(b, 16);
  putTag(b, "LIST");
  put32(b, 4);
  putTag(b, "INFO");
  putTag(b, "data");
  put32(b, dataBytes);
  for (std::int16_t s : pcm) put16(b, static_cast<std::uint16_t>(s));
  return b;
}

struct Stream final : rt::ISpeechSynthesisStream, rt::IRandomAccessStream, rt::IInputStream {
  COUNTED(Stream)
  INSPECTABLE_BOILERPLATE
  std::vector<std::uint8_t> bytes;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (common(riid) || IsEqualIID(riid, rt::IID_ISpeechSynthesisStream))
      return hand(static_cast<rt::ISpeechSynthesisStream*>(this), out);
    if (IsEqualIID(riid, rt::IID_IRandomAccessStream)) return hand(static_cast<rt::IRandomAccessStream*>(this), out);
    if (IsEqualIID(riid, rt::IID_IInputStream)) return hand(static_cast<rt::IInputStream*>(this), out);
    if (IsEqualIID(riid, IID_EngineObject)) { *out = this; return S_OK; }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE get_Size(UINT64* size) override {
    *size = bytes.size();
    return S_OK;
  }
};

// An operation that is complete when it is handed out.
template <typename Result, const IID& OperationIid>
struct Done final : rt::IAsyncOperation<Result>, IAsyncInfo {
  COUNTED(Done)
  INSPECTABLE_BOILERPLATE
  Result result{};
  HRESULT error = S_OK;
  ~Done() {
    if constexpr (std::is_pointer_v<Result>) {
      if (result) result->Release();
    }
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (common(riid) || IsEqualIID(riid, OperationIid)) return hand(static_cast<rt::IAsyncOperation<Result>*>(this), out);
    if (IsEqualIID(riid, rt::IID_IAsyncInfo)) return hand(static_cast<IAsyncInfo*>(this), out);
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE put_Completed(rt::IAsyncOperationCompletedHandler<Result>* handler) override {
    return handler->Invoke(this, FAILED(error) ? Error : Completed), S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Completed(rt::IAsyncOperationCompletedHandler<Result>** handler) override {
    *handler = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetResults(Result* out) override {
    if (FAILED(error)) return error;
    if constexpr (std::is_pointer_v<Result>) result->AddRef();
    *out = result;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Id(unsigned int* id) override { return *id = 1, S_OK; }
  HRESULT STDMETHODCALLTYPE get_Status(AsyncStatus* status) override {
    return *status = FAILED(error) ? Error : Completed, S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ErrorCode(HRESULT* code) override { return *code = error, S_OK; }
  HRESULT STDMETHODCALLTYPE Cancel() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Close() override { return S_OK; }
};

using SynthesisDone = Done<rt::ISpeechSynthesisStream*, rt::IID_ISynthesisOperation>;
using LoadDone = Done<UINT32, rt::IID_ILoadOperation>;

// ---- the synthesizer -------------------------------------------------------------

struct Synthesizer final : rt::ISpeechSynthesizer {
  COUNTED(Synthesizer)
  INSPECTABLE_BOILERPLATE
  Voice* voice = nullptr;   // the system default: the first voice, when there is one
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (common(riid) || IsEqualIID(riid, rt::IID_ISpeechSynthesizer)) return hand(this, out);
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE SynthesizeTextToStreamAsync(HSTRING text, rt::ISynthesisOperation** operation) override {
    auto* done = new (std::nothrow) SynthesisDone;
    if (!done) return E_OUTOFMEMORY;
    wchar_t fail[4];
    if (GetEnvironmentVariableW(L"ORVA_TEST_SPEECH_FAIL", fail, 4) > 0) {
      done->error = E_FAIL;
    } else {
      auto* stream = new (std::nothrow) Stream;
      if (!stream) {
        done->Release();
        return E_OUTOFMEMORY;
      }
      UINT32 n = 0;
      const wchar_t* raw = WindowsGetStringRawBuffer(text, &n);
      const Voice* speaking = voice ? voice : (voiceCount ? &voices[0] : nullptr);
      stream->bytes = speech(raw, n, speaking && speaking->gender == rt::VoiceGenderFemale);
      done->result = stream;
    }
    *operation = done;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Voice(rt::IVoiceInformation* v) override {
    Voice* mine = nullptr;
    if (!v || FAILED(v->QueryInterface(IID_EngineObject, reinterpret_cast<void**>(&mine)))) return E_INVALIDARG;
    voice = mine;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Voice(rt::IVoiceInformation** v) override {
    Voice* speaking = voice ? voice : (voiceCount ? &voices[0] : nullptr);
    if (!speaking) return E_FAIL;
    return hand(static_cast<rt::IVoiceInformation*>(speaking), reinterpret_cast<void**>(v));
  }
};

struct SynthesizerFactory final : IActivationFactory, rt::IInstalledVoicesStatic {
  COUNTED(SynthesizerFactory)
  INSPECTABLE_BOILERPLATE
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (common(riid) || IsEqualIID(riid, rt::IID_IActivationFactory)) return hand(static_cast<IActivationFactory*>(this), out);
    if (IsEqualIID(riid, rt::IID_IInstalledVoicesStatic)) return hand(static_cast<rt::IInstalledVoicesStatic*>(this), out);
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** instance) override {
    auto* s = new (std::nothrow) Synthesizer;
    if (!s) return E_OUTOFMEMORY;
    *instance = s;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_AllVoices(rt::IVoiceInformationVectorView** out) override {
    return hand(static_cast<rt::IVoiceInformationVectorView*>(&voiceView), reinterpret_cast<void**>(out));
  }
  HRESULT STDMETHODCALLTYPE get_DefaultVoice(rt::IVoiceInformation** out) override {
    if (!voiceCount) return E_FAIL;
    return hand(static_cast<rt::IVoiceInformation*>(&voices[0]), reinterpret_cast<void**>(out));
  }
};

// ---- DataReader ------------------------------------------------------------------

struct Reader final : rt::IDataReader {
  COUNTED(Reader)
  INSPECTABLE_BOILERPLATE
  Stream* stream = nullptr;   // held
  std::size_t loaded = 0, read = 0;
  ~Reader() {
    if (stream) static_cast<rt::IInputStream*>(stream)->Release();
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (common(riid) || IsEqualIID(riid, rt::IID_IDataReader)) return hand(this, out);
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE ReadBytes(UINT32 length, BYTE* value) override {
    if (length > loaded - read) return E_INVALIDARG;
    std::memcpy(value, stream->bytes.data() + read, length);
    read += length;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE LoadAsync(UINT32 count, rt::ILoadOperation** operation) override {
    auto* done = new (std::nothrow) LoadDone;
    if (!done) return E_OUTOFMEMORY;
    const std::size_t more = std::min<std::size_t>(count, stream->bytes.size() - loaded);
    loaded += more;
    done->result = static_cast<UINT32>(more);
    *operation = done;
    return S_OK;
  }
};

struct ReaderFactory final : IActivationFactory, rt::IDataReaderFactory {
  COUNTED(ReaderFactory)
  INSPECTABLE_BOILERPLATE
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (common(riid) || IsEqualIID(riid, rt::IID_IActivationFactory)) return hand(static_cast<IActivationFactory*>(this), out);
    if (IsEqualIID(riid, rt::IID_IDataReaderFactory)) return hand(static_cast<rt::IDataReaderFactory*>(this), out);
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE ActivateInstance(IInspectable** instance) override {
    *instance = nullptr;
    return E_NOTIMPL;   // DataReader is only ever made over a stream
  }
  HRESULT STDMETHODCALLTYPE CreateDataReader(rt::IInputStream* input, rt::IDataReader** out) override {
    Stream* stream = nullptr;
    if (!input || FAILED(input->QueryInterface(IID_EngineObject, reinterpret_cast<void**>(&stream)))) return E_INVALIDARG;
    auto* reader = new (std::nothrow) Reader;
    if (!reader) return E_OUTOFMEMORY;
    static_cast<rt::IInputStream*>(stream)->AddRef();
    reader->stream = stream;
    *out = reader;
    return S_OK;
  }
};

SynthesizerFactory synthesizerFactory;
ReaderFactory readerFactory;

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI DllGetActivationFactory(HSTRING classId, IActivationFactory** factory) {
  if (!factory) return E_POINTER;
  *factory = nullptr;
  UINT32 n = 0;
  const wchar_t* name = WindowsGetStringRawBuffer(classId, &n);
  if (wcscmp(name, rt::kSpeechSynthesizerClass) == 0) {
    synthesizerFactory.static_ = true;
    return hand(static_cast<IActivationFactory*>(&synthesizerFactory), reinterpret_cast<void**>(factory));
  }
  if (wcscmp(name, rt::kDataReaderClass) == 0) {
    readerFactory.static_ = true;
    return hand(static_cast<IActivationFactory*>(&readerFactory), reinterpret_cast<void**>(factory));
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) {
    loadVoices();
    voiceView.static_ = true;
  }
  return TRUE;
}
