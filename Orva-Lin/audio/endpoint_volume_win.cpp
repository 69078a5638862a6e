#include "Orva-Lin/audio/endpoint_volume.h"

#include <windows.h>
#include <endpointvolume.h>
#include <mmdeviceapi.h>

#include <cstdio>

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

}  // namespace

float getCaptureEndpointLevel() { return getLevel(eCapture); }
void setCaptureEndpointLevel(float level) { setLevel(eCapture, level); }
float getRenderEndpointLevel() { return getLevel(eRender); }
void setRenderEndpointLevel(float level) { setLevel(eRender, level); }
