// What the node and sysfs tell about one hidraw node's access, for explaining to the user why it
// cannot be opened. Needs no access to the node itself.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace zrv {

struct HidrawNodeFacts {
  std::uint32_t Mode = 0;  // permission bits of the node
  std::uint32_t Uid = 0;
  std::uint32_t Gid = 0;
  bool BusKnown = false;   // sysfs named the HID bus behind the node
  std::uint16_t Bus = 0;   // kHidBusUsb for a USB device
};

// The HID bus of the device behind hidraw character device major:minor.
bool ReadHidrawBus(const std::filesystem::path& sysfsRoot, std::uint32_t major, std::uint32_t minor,
                   std::uint16_t& bus);

// stat of `node` plus its HID bus. False when the node is missing or not a character device.
bool ReadHidrawNodeFacts(const std::filesystem::path& sysfsRoot, const std::string& node,
                         HidrawNodeFacts& out);

}  // namespace zrv
