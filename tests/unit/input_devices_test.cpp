#include "Orva-Lin/audio/input_devices.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct FakeSystem {
  std::vector<std::wstring> products;   // waveform devices
  std::vector<std::wstring> endpoints;  // active capture endpoints, in order
  int describeCalls = 0;
};

bool fakeProduct(void* c, int id, wchar_t (&out)[kFriendlyNameUnits]) {
  auto* s = static_cast<FakeSystem*>(c);
  copyWide(out, kFriendlyNameUnits, s->products.at(static_cast<std::size_t>(id)).c_str());
  return true;
}

bool fakeDescribe(void* c, int j, EndpointDescription& d) {
  auto* s = static_cast<FakeSystem*>(c);
  ++s->describeCalls;
  if (j >= static_cast<int>(s->endpoints.size())) return false;
  copyWide(d.friendlyName, kFriendlyNameUnits, s->endpoints[static_cast<std::size_t>(j)].c_str());
  copyWide(d.iconModule, kIconModuleUnits, (L"icons" + std::to_wstring(j) + L".dll").c_str());
  return true;
}

struct Row {
  int waveInId, endpointIndex;
  std::wstring displayName, iconModule;
};

std::vector<Row> build(FakeSystem& s) {
  resetInputDeviceTable();
  InputDeviceSource src{static_cast<int>(s.products.size()), &s, fakeProduct, fakeDescribe};
  fillInputDeviceTable(inputDevices, src);
  std::vector<Row> rows;
  for (const InputDeviceEntry& e : inputDevices)
    rows.push_back({e.waveInId, e.endpointIndex, e.displayName, e.iconModule});
  return rows;
}

const std::wstring kRealtek = L"Microphone (Realtek High Definition Audio)";
const std::wstring kUsb = L"Casque (USB Audio Device)";

TEST(InputDeviceTable, DevicesAreMatchedToEndpointsByName) {
  struct Case {
    const char* name;
    FakeSystem sys;
    std::vector<Row> firstRows;  // the rows after them must keep the start-up content
  };
  const Case cases[] = {
      {"two devices, endpoints listed in another order",
       {{kRealtek.substr(0, 31), kUsb}, {kUsb, kRealtek}},
       {{0, 1, kRealtek, L"icons1.dll"}, {1, 0, kUsb, L"icons0.dll"}}},
      {"a device that matches no endpoint",
       {{L"Line In (Other)", kUsb}, {kUsb}},
       {{0, -1, L"Non trouvée", L""}, {1, 0, kUsb, L"icons0.dll"}}},
      {"no endpoints at all", {{kUsb}, {}}, {{0, -1, L"Non trouvée", L""}}},
      {"no devices", {{}, {kUsb}}, {}},
  };
  for (const Case& c0 : cases) {
    SCOPED_TRACE(c0.name);
    FakeSystem sys = c0.sys;
    const std::vector<Row> rows = build(sys);
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const Row want = i < c0.firstRows.size() ? c0.firstRows[i] : Row{-1, -1, L"Windows Driver", L""};
      EXPECT_EQ(rows[i].waveInId, want.waveInId) << i;
      EXPECT_EQ(rows[i].endpointIndex, want.endpointIndex) << i;
      EXPECT_TRUE(rows[i].displayName == want.displayName) << i;
      EXPECT_TRUE(rows[i].iconModule == want.iconModule) << i;
    }
    EXPECT_EQ(inputDeviceIndex.load(), -1);
  }
}

TEST(InputDeviceTable, OnlyTheFirstFifteenDevicesAndEndpointsAreTried) {
  FakeSystem sys;
  for (int i = 0; i < 20; ++i) sys.products.push_back(L"Device " + std::to_wstring(100 + i));
  for (int j = 0; j < 20; ++j) sys.endpoints.push_back(L"Device " + std::to_wstring(100 + 19 - j));
  const std::vector<Row> rows = build(sys);
  ASSERT_EQ(rows.size(), 15u);
  // Device 100+i sits at endpoint 19-i; endpoints beyond 14 are never tried.
  for (int i = 0; i < 15; ++i) {
    EXPECT_EQ(rows[i].waveInId, i);
    EXPECT_EQ(rows[i].endpointIndex, i >= 5 ? 19 - i : -1) << i;
  }
  EXPECT_LE(sys.describeCalls, 15 * 15);
}

TEST(InputDeviceTable, ChoosingAnEntryBeyondTheDevicesMeansTheDefault) {
  FakeSystem sys{{kRealtek, kUsb}, {kRealtek, kUsb}};
  build(sys);
  EXPECT_EQ(inputDevices[1].waveInId, 1);
  EXPECT_EQ(inputDevices[5].waveInId, -1);  // what the selection window stores
}

}  // namespace
