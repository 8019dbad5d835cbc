// The HID devices the tests meet on this machine, read through the platform under test. Under
// wine these are its virtual mouse and keyboard (vendor 845E); on a Windows machine, whatever is
// attached. Cases that need a device skip when there is none.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "link/platform/win32/win32_hid_platform.h"

namespace zrv::test {

inline constexpr std::uint16_t kWineVendor = 0x845E;

struct SeenDevice {
  HidInterfaceInfo Interface;
  THidAttributes Attributes;
  std::u16string Product;
  std::optional<THidCaps> Caps;
};

// Every present interface as an Identify handle sees it.
inline std::vector<SeenDevice> SeenDevices(Win32HidPlatform& platform) {
  std::vector<SeenDevice> seen;
  std::vector<HidInterfaceInfo> interfaces;
  if (!platform.EnumerateInterfaces(interfaces)) return seen;
  for (const HidInterfaceInfo& info : interfaces) {
    SeenDevice device{info, {}, {}, std::nullopt};
    const HidHandle h = platform.Open(info.Path, HidOpenMode::Identify);
    if (h == kInvalidHidHandle) continue;
    platform.GetAttributes(h, device.Attributes);
    std::array<char16_t, 254> text{};
    if (platform.GetProductString(h, text.data(), sizeof text)) device.Product = text.data();
    HidPreparsedData data;
    if (platform.GetPreparsedData(h, data)) device.Caps = data.Caps;
    platform.Close(h);
    seen.push_back(device);
  }
  return seen;
}

inline const SeenDevice* FindWineDevice(const std::vector<SeenDevice>& seen, std::uint16_t productId) {
  for (const SeenDevice& device : seen) {
    if (device.Attributes.VendorID == kWineVendor && device.Attributes.ProductID == productId) return &device;
  }
  return nullptr;
}

}  // namespace zrv::test
