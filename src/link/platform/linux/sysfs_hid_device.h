// What sysfs tells about one HID device, read with plain file access so that it works for a
// node we may not open and from any thread. `sysfsRoot` is normally "/sys"; tests point it at
// a tree of their own.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "link/platform/linux/sysfs_text.h"

namespace zrv {

struct SysfsHidIdentity {
  HidBusIds Ids;
  std::uint16_t VersionNumber = 0;  // bcdDevice of the USB device, else 0
  bool HasProductString = false;
  std::string ProductUtf8;
};

// The HID device directory behind a hidraw character device number, from
// <sysfsRoot>/dev/char/MAJOR:MINOR. False when that is not a hidraw node.
bool ResolveHidrawHidDirectory(const std::filesystem::path& sysfsRoot, std::uint32_t major,
                               std::uint32_t minor, std::filesystem::path& hidDir);

// Ids from the uevent's HID_ID; for a USB device the version and product string come from its
// usb_device ancestor, for any other (uhid, Bluetooth, I2C) the product string is HID_NAME.
bool ReadSysfsHidIdentity(const std::filesystem::path& hidDir, SysfsHidIdentity& out);

// The raw report descriptor the kernel keeps for the device.
bool ReadSysfsReportDescriptor(const std::filesystem::path& hidDir,
                               std::vector<std::uint8_t>& out);

// At most `limit` bytes of a file; false when it cannot be opened or read.
bool ReadSmallFile(const std::filesystem::path& file, std::size_t limit, std::string& out);

}  // namespace zrv
