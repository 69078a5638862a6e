#include "Orva-Lin/audio/endpoint_volume.h"

#include <windows.h>
#include <endpointvolume.h>
#include <mmdeviceapi.h>
#include <propidl.h>

#include <cstdio>
#include <cwchar>

#include "common/win32_guards.h"

namespace {

// Every call makes its own apartment and enumerator, on whatever thread it
// runs; a failing step leaves the level as it was.
template <typename Action>
bool withEndpointVolume(EDataFlow flow, Action action) {
  win::ComApartment com;
  if (!com.ok()) return false;
  win::ComPtr<IMMDeviceEnumerator> enumerator;
  HRESULT hr = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                                enumerator.putVoid());
  if (FAILED(hr)) {
    std::fprintf(stderr, "MMDeviceEnumerator: 0x%08lx\n", static_cast<unsigned long>(hr));
    return false;
  }
  win::ComPtr<IMMDevice> device;
  hr = enumerator->GetDefaultAudioEndpoint(flow, eConsole, device.put());
  if (FAILED(hr)) return false;
  win::ComPtr<IAudioEndpointVolume> volume;
  hr = device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_ALL, nullptr, volume.putVoid());
  if (FAILED(hr)) return false;
  return SUCCEEDED(action(volume.get()));
}

float getLevel(EDataFlow flow) {
  float level = 0.0f;
  if (!withEndpointVolume(flow, [&](IAudioEndpointVolume* v) { return v->GetMasterVolumeLevelScalar(&level); }))
    return 0.0f;
  return level;
}

void setLevel(EDataFlow flow, float level) {
  withEndpointVolume(flow, [&](IAudioEndpointVolume* v) { return v->SetMasterVolumeLevelScalar(level, nullptr); });
}

// MinGW-w64 declares these keys without defining them (and does not declare
// the icon path as a PROPERTYKEY at all); the values are the system's.
const PROPERTYKEY kFriendlyNameKey = {{0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}},
                                      14};
const PROPERTYKEY kIconPathKey = {{0x259abffc, 0x50a7, 0x47ce, {0xaf, 0x08, 0x68, 0xc9, 0xa7, 0xd7, 0x33, 0x66}}, 12};

class PropVariant {
 public:
  PropVariant() { PropVariantInit(&v_); }
  PropVariant(const PropVariant&) = delete;
  PropVariant& operator=(const PropVariant&) = delete;
  ~PropVariant() { PropVariantClear(&v_); }
  PROPVARIANT* put() { return &v_; }
  const wchar_t* text() const { return v_.vt == VT_LPWSTR && v_.pwszVal ? v_.pwszVal : L""; }

 private:
  PROPVARIANT v_;
};

enum class Announce { No, Yes };

// Friendly name, then icon module and id; a failing step leaves the rest.
HRESULT describeDevice(IMMDevice* device, EndpointDescription& d, Announce announce) {
  win::ComPtr<IPropertyStore> store;
  HRESULT hr = device->OpenPropertyStore(STGM_READ, store.put());
  if (FAILED(hr)) return hr;
  PropVariant name;
  hr = store->GetValue(kFriendlyNameKey, name.put());
  if (FAILED(hr)) return hr;
  copyWide(d.friendlyName, kFriendlyNameUnits, name.text());
  if (announce == Announce::Yes) std::printf("Endpoint friendly name: %ls\n", d.friendlyName);
  PropVariant icon;
  hr = store->GetValue(kIconPathKey, icon.put());
  if (FAILED(hr)) return hr;
  if (!splitIconPath(icon.text(), d) && announce == Announce::Yes) {
    std::printf("Virgule non trouvée dans la chaîne.\n");
    return E_FAIL;
  }
  return hr;
}

// The describe operations go on without COM when it cannot start here:
// then the enumerator's creation fails and nothing is described.
template <typename Steps>
HRESULT withEnumerator(Steps steps) {
  win::ComApartment com;
  win::ComPtr<IMMDeviceEnumerator> enumerator;
  HRESULT hr = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                                enumerator.putVoid());
  if (FAILED(hr)) return hr;
  return steps(enumerator.get());
}

}  // namespace

int describeCaptureEndpoint(int position, EndpointDescription& d) {
  withEnumerator([&](IMMDeviceEnumerator* e) {
    win::ComPtr<IMMDeviceCollection> endpoints;
    HRESULT hr = e->EnumAudioEndpoints(eCapture, DEVICE_STATE_ACTIVE, endpoints.put());
    if (FAILED(hr)) return hr;
    UINT count = 0;
    hr = endpoints->GetCount(&count);
    if (FAILED(hr) || position < 0 || static_cast<UINT>(position) >= count) return hr;
    win::ComPtr<IMMDevice> device;
    hr = endpoints->Item(static_cast<UINT>(position), device.put());
    if (FAILED(hr)) return hr;
    return describeDevice(device.get(), d, Announce::No);
  });
  return position;
}

int describeDefaultCaptureEndpoint(EndpointDescription& d) {
  int position = -1;
  withEnumerator([&](IMMDeviceEnumerator* e) {
    win::ComPtr<IMMDevice> fallback;
    HRESULT hr = e->GetDefaultAudioEndpoint(eCapture, eMultimedia, fallback.put());
    if (FAILED(hr)) return hr;
    win::TaskMem<wchar_t> defaultId;
    hr = fallback->GetId(defaultId.put());
    if (FAILED(hr)) return hr;
    win::ComPtr<IMMDeviceCollection> endpoints;
    hr = e->EnumAudioEndpoints(eCapture, DEVICE_STATE_ACTIVE, endpoints.put());
    if (FAILED(hr)) return hr;
    UINT count = 0;
    hr = endpoints->GetCount(&count);
    if (FAILED(hr)) return hr;
    for (UINT i = 0; i < count && position < 0; ++i) {
      win::ComPtr<IMMDevice> item;
      win::TaskMem<wchar_t> id;
      if (SUCCEEDED(endpoints->Item(i, item.put())) && SUCCEEDED(item->GetId(id.put())) &&
          std::wcscmp(id.get(), defaultId.get()) == 0)
        position = static_cast<int>(i);
    }
    return hr;
  });
  if (position < 0) {
    MessageBoxW(nullptr, L"Impossible de trouver l'index du périphérique !", L"Error", MB_ICONWARNING);
    return -1;
  }
  return describeCaptureEndpoint(position, d);
}

long describeDefaultRenderEndpoint(EndpointDescription& d) {
  return withEnumerator([&](IMMDeviceEnumerator* e) {
    win::ComPtr<IMMDevice> device;
    HRESULT hr = e->GetDefaultAudioEndpoint(eRender, eMultimedia, device.put());
    if (FAILED(hr)) return hr;
    return describeDevice(device.get(), d, Announce::Yes);
  });
}

float getCaptureEndpointLevel() { return getLevel(eCapture); }
void setCaptureEndpointLevel(float level) { setLevel(eCapture, level); }
float getRenderEndpointLevel() { return getLevel(eRender); }
void setRenderEndpointLevel(float level) { setLevel(eRender, level); }
