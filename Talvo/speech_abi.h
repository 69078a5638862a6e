// The few Windows Runtime interfaces that speaking a text needs, declared
// for the raw ABI. MinGW-w64's windows.media.speechsynthesis.h does not
// compile as C++ with this GCC (its forward enum typedefs), and its
// windows.storage.streams.h lacks IRandomAccessStream, IInputStream,
// IDataReader and IDataReaderFactory. Only the methods called here carry
// real signatures; the others keep their vtable slot with a placeholder
// that an implementation need not override.
//
// Interface identifiers: IRandomAccessStream and IDataReader were checked
// against the Guid attributes on Microsoft's Windows.Storage.Streams
// reference pages; IInputStream (the ...fe2 of the same family) and
// IDataReaderFactory are the values of Microsoft's SDK metadata; the speech
// interfaces and the parameterised async and vector ones match the values
// MinGW-w64 ships for the same types (generated from the same metadata).
// Also used by the test bed's stand-in speech engine, which implements them.
#pragma once

#include <windows.h>
#include <activation.h>
#include <asyncinfo.h>
#include <inspectable.h>
#include <roapi.h>
#include <winstring.h>

namespace rt {

// A vtable slot this program never calls.
#define RT_UNUSED_SLOT(name) \
  virtual HRESULT STDMETHODCALLTYPE name() { return E_NOTIMPL; }

inline constexpr wchar_t kSpeechSynthesizerClass[] = L"Windows.Media.SpeechSynthesis.SpeechSynthesizer";
inline constexpr wchar_t kDataReaderClass[] = L"Windows.Storage.Streams.DataReader";

// MinGW-w64's uuid library does not define these three.
// IInspectable: {af86e2e0-b12d-4c6a-9c5a-d7aa65101e90}
inline constexpr IID IID_IInspectable = {0xaf86e2e0, 0xb12d, 0x4c6a, {0x9c, 0x5a, 0xd7, 0xaa, 0x65, 0x10, 0x1e, 0x90}};
// IActivationFactory: {00000035-0000-0000-c000-000000000046}
inline constexpr IID IID_IActivationFactory = {0x00000035, 0x0000, 0x0000, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}};
// IAsyncInfo: {00000036-0000-0000-c000-000000000046}
inline constexpr IID IID_IAsyncInfo = {0x00000036, 0x0000, 0x0000, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}};

enum VoiceGender : int { VoiceGenderMale = 0, VoiceGenderFemale = 1 };

struct IVoiceInformation;
struct ISpeechSynthesisStream;
struct IInputStream;

// {b127d6a4-1291-4604-aa9c-83134083352c}
inline constexpr IID IID_IVoiceInformation = {
    0xb127d6a4, 0x1291, 0x4604, {0xaa, 0x9c, 0x83, 0x13, 0x40, 0x83, 0x35, 0x2c}};
struct IVoiceInformation : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_DisplayName(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Id(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Language(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Description(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Gender(VoiceGender* value) = 0;
};

// IVectorView<VoiceInformation>: {ee8d63ce-51ac-5984-891b-d232fa7f6453}
inline constexpr IID IID_IVoiceInformationVectorView = {
    0xee8d63ce, 0x51ac, 0x5984, {0x89, 0x1b, 0xd2, 0x32, 0xfa, 0x7f, 0x64, 0x53}};
struct IVoiceInformationVectorView : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE GetAt(UINT32 index, IVoiceInformation** item) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Size(UINT32* size) = 0;
  RT_UNUSED_SLOT(IndexOf);
  RT_UNUSED_SLOT(GetMany);
};

// IInstalledVoicesStatic, on the SpeechSynthesizer activation factory:
// {7d526ecc-7533-4c3f-85be-888c2baeebdc}
inline constexpr IID IID_IInstalledVoicesStatic = {
    0x7d526ecc, 0x7533, 0x4c3f, {0x85, 0xbe, 0x88, 0x8c, 0x2b, 0xae, 0xeb, 0xdc}};
struct IInstalledVoicesStatic : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_AllVoices(IVoiceInformationVectorView** voices) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_DefaultVoice(IVoiceInformation** voice) = 0;
};

// AsyncOperationCompletedHandler<T> and IAsyncOperation<T> have one shape
// whatever T is; only their identifiers differ.
template <typename Result>
struct IAsyncOperation;

template <typename Result>
struct IAsyncOperationCompletedHandler : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Invoke(IAsyncOperation<Result>* operation, AsyncStatus status) = 0;
};

template <typename Result>
struct IAsyncOperation : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE put_Completed(IAsyncOperationCompletedHandler<Result>* handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Completed(IAsyncOperationCompletedHandler<Result>** handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetResults(Result* results) = 0;
};

using ISynthesisOperation = IAsyncOperation<ISpeechSynthesisStream*>;
using ILoadOperation = IAsyncOperation<UINT32>;

// IAsyncOperation<SpeechSynthesisStream>: {df9d48ad-9cea-560c-9edc-cb8852cb55e3}
inline constexpr IID IID_ISynthesisOperation = {
    0xdf9d48ad, 0x9cea, 0x560c, {0x9e, 0xdc, 0xcb, 0x88, 0x52, 0xcb, 0x55, 0xe3}};
// AsyncOperationCompletedHandler<SpeechSynthesisStream>: {c972b996-6165-50d4-af60-a8c3df51d092}
inline constexpr IID IID_ISynthesisCompletedHandler = {
    0xc972b996, 0x6165, 0x50d4, {0xaf, 0x60, 0xa8, 0xc3, 0xdf, 0x51, 0xd0, 0x92}};
// IAsyncOperation<UInt32> (DataReaderLoadOperation): {ef60385f-be78-584b-aaef-7829ada2b0de}
inline constexpr IID IID_ILoadOperation = {
    0xef60385f, 0xbe78, 0x584b, {0xaa, 0xef, 0x78, 0x29, 0xad, 0xa2, 0xb0, 0xde}};
// AsyncOperationCompletedHandler<UInt32>: {9343b6e7-e3d2-5e4a-ab2d-2bce4919a6a4}
inline constexpr IID IID_ILoadCompletedHandler = {
    0x9343b6e7, 0xe3d2, 0x5e4a, {0xab, 0x2d, 0x2b, 0xce, 0x49, 0x19, 0xa6, 0xa4}};

// {ce9f7c76-97f4-4ced-ad68-d51c458e45c6}
inline constexpr IID IID_ISpeechSynthesizer = {
    0xce9f7c76, 0x97f4, 0x4ced, {0xad, 0x68, 0xd5, 0x1c, 0x45, 0x8e, 0x45, 0xc6}};
struct ISpeechSynthesizer : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE SynthesizeTextToStreamAsync(HSTRING text, ISynthesisOperation** operation) = 0;
  RT_UNUSED_SLOT(SynthesizeSsmlToStreamAsync);
  virtual HRESULT STDMETHODCALLTYPE put_Voice(IVoiceInformation* voice) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Voice(IVoiceInformation** voice) = 0;
};

// {83e46e93-244c-4622-ba0b-6229c4d0d65d}
inline constexpr IID IID_ISpeechSynthesisStream = {
    0x83e46e93, 0x244c, 0x4622, {0xba, 0x0b, 0x62, 0x29, 0xc4, 0xd0, 0xd6, 0x5d}};
struct ISpeechSynthesisStream : IInspectable {
  RT_UNUSED_SLOT(get_Markers);
};

// {905a0fe1-bc53-11df-8c49-001e4fc686da}
inline constexpr IID IID_IRandomAccessStream = {
    0x905a0fe1, 0xbc53, 0x11df, {0x8c, 0x49, 0x00, 0x1e, 0x4f, 0xc6, 0x86, 0xda}};
struct IRandomAccessStream : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_Size(UINT64* size) = 0;
  RT_UNUSED_SLOT(put_Size);
  RT_UNUSED_SLOT(GetInputStreamAt);
  RT_UNUSED_SLOT(GetOutputStreamAt);
  RT_UNUSED_SLOT(get_Position);
  RT_UNUSED_SLOT(Seek);
  RT_UNUSED_SLOT(CloneStream);
  RT_UNUSED_SLOT(get_CanRead);
  RT_UNUSED_SLOT(get_CanWrite);
};

// {905a0fe2-bc53-11df-8c49-001e4fc686da}
inline constexpr IID IID_IInputStream = {
    0x905a0fe2, 0xbc53, 0x11df, {0x8c, 0x49, 0x00, 0x1e, 0x4f, 0xc6, 0x86, 0xda}};
struct IInputStream : IInspectable {
  RT_UNUSED_SLOT(ReadAsync);
};

// {e2b50029-b4c1-4314-a4b8-fb813a2f275e}
inline constexpr IID IID_IDataReader = {
    0xe2b50029, 0xb4c1, 0x4314, {0xa4, 0xb8, 0xfb, 0x81, 0x3a, 0x2f, 0x27, 0x5e}};
struct IDataReader : IInspectable {
  RT_UNUSED_SLOT(get_UnconsumedBufferLength);
  RT_UNUSED_SLOT(get_UnicodeEncoding);
  RT_UNUSED_SLOT(put_UnicodeEncoding);
  RT_UNUSED_SLOT(get_ByteOrder);
  RT_UNUSED_SLOT(put_ByteOrder);
  RT_UNUSED_SLOT(get_InputStreamOptions);
  RT_UNUSED_SLOT(put_InputStreamOptions);
  RT_UNUSED_SLOT(ReadByte);
  virtual HRESULT STDMETHODCALLTYPE ReadBytes(UINT32 length, BYTE* value) = 0;
  RT_UNUSED_SLOT(ReadBuffer);
  RT_UNUSED_SLOT(ReadBoolean);
  RT_UNUSED_SLOT(ReadGuid);
  RT_UNUSED_SLOT(ReadInt16);
  RT_UNUSED_SLOT(ReadInt32);
  RT_UNUSED_SLOT(ReadInt64);
  RT_UNUSED_SLOT(ReadUInt16);
  RT_UNUSED_SLOT(ReadUInt32);
  RT_UNUSED_SLOT(ReadUInt64);
  RT_UNUSED_SLOT(ReadSingle);
  RT_UNUSED_SLOT(ReadDouble);
  RT_UNUSED_SLOT(ReadString);
  RT_UNUSED_SLOT(ReadDateTime);
  RT_UNUSED_SLOT(ReadTimeSpan);
  virtual HRESULT STDMETHODCALLTYPE LoadAsync(UINT32 count, ILoadOperation** operation) = 0;
  RT_UNUSED_SLOT(DetachBuffer);
  RT_UNUSED_SLOT(DetachStream);
};

// {d7527847-57da-4e15-914c-06806699a098}
inline constexpr IID IID_IDataReaderFactory = {
    0xd7527847, 0x57da, 0x4e15, {0x91, 0x4c, 0x06, 0x80, 0x66, 0x99, 0xa0, 0x98}};
struct IDataReaderFactory : IInspectable {
  virtual HRESULT STDMETHODCALLTYPE CreateDataReader(IInputStream* input, IDataReader** reader) = 0;
};

#undef RT_UNUSED_SLOT

}  // namespace rt
