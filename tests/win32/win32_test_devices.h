// The HID devices of the machine the tests run on, as Identify handles of the platform under test
// see them. Under wine: its virtual mouse and keyboard (vendor 845E).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "link/platform/win32/win32_hid_platform.h"

// Where the devices a case needs are missing: under wine that is a fault (wine always offers its
// virtual mouse and keyboard, so a skip there would hide a broken backend or a broken test stage);
// on a Windows machine without such devices the case has nothing to run against and skips.
#define ZRV_SKIP_WITHOUT_DEVICE(why)                                                        \
  do {                                                                                      \
    if (::zrv::test::RunningUnderWine()) FAIL() << "under wine, which offers HID devices: " why; \
    GTEST_SKIP() << why;                                                                    \
  } while (false)

namespace zrv::test {

// wine's ntdll exports its version; Windows' does not.
inline bool RunningUnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

struct SeenDevice {
  HidInterfaceInfo Interface;
  THidAttributes Attributes;
  std::u16string Product;
  std::optional<THidCaps> Caps;
};

inline std::vector<SeenDevice> SeenDevices(Win32HidPlatform& platform) {
  std::vector<SeenDevice> seen;
  std::vector<HidInterfaceInfo> interfaces;
  platform.EnumerateInterfaces(interfaces);
  for (const HidInterfaceInfo& info : interfaces) {
    SeenDevice device{info, {}, {}, std::nullopt};
    const HidHandle h = platform.Open(info.Path, HidOpenMode::Identify);
    if (h == kInvalidHidHandle) continue;
    platform.GetAttributes(h, device.Attributes);
    char16_t text[254] = {};
    if (platform.GetProductString(h, text, sizeof text)) device.Product = text;
    if (HidPreparsedData data; platform.GetPreparsedData(h, data)) device.Caps = data.Caps;
    platform.Close(h);
    seen.push_back(device);
  }
  return seen;
}

inline const SeenDevice* FindWineDevice(const std::vector<SeenDevice>& seen, std::uint16_t productId) {
  for (const SeenDevice& device : seen) {
    if (device.Attributes.VendorID == 0x845E && device.Attributes.ProductID == productId) return &device;
  }
  return nullptr;
}

}  // namespace zrv::test
