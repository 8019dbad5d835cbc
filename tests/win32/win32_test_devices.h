// The HID devices of the machine the tests run on, as Identify handles of the platform under test
// see them. Under wine: its virtual mouse and keyboard (vendor 845E).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "link/platform/win32/win32_hid_platform.h"

namespace zrv::test {

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
