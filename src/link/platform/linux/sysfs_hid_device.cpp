#include "link/platform/linux/sysfs_hid_device.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace zrv {

namespace fs = std::filesystem;

namespace {

// Far above any uevent text or report descriptor the kernel produces (4096 bytes at most).
constexpr std::size_t kMaxSysfsFileBytes = 64 * 1024;
// sysfs device trees are shallow; the walk up to a USB device stops after this many levels.
constexpr int kMaxAncestorLevels = 32;

bool Canonical(const fs::path& p, fs::path& out) {
  std::error_code ec;
  out = fs::canonical(p, ec);
  return !ec;
}

// The nearest ancestor whose uevent says DEVTYPE=usb_device.
bool FindUsbDeviceAncestor(const fs::path& hidDir, fs::path& usbDir) {
  fs::path dir = hidDir.parent_path();
  for (int level = 0; level < kMaxAncestorLevels && dir.has_relative_path(); ++level) {
    std::string uevent;
    std::string devType;
    if (ReadSmallFile(dir / "uevent", kMaxSysfsFileBytes, uevent) &&
        FindUeventValue(uevent, "DEVTYPE", devType) && devType == "usb_device") {
      usbDir = dir;
      return true;
    }
    dir = dir.parent_path();
  }
  return false;
}

}  // namespace

bool ReadSmallFile(const fs::path& file, std::size_t limit, std::string& out) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string data;
  data.resize(limit);
  std::size_t used = 0;
  bool ok = true;
  while (used < limit) {
    const ssize_t n = ::read(fd, data.data() + used, limit - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (!ok) return false;
  data.resize(used);
  out = std::move(data);
  return true;
}

bool ResolveHidrawHidDirectory(const fs::path& sysfsRoot, std::uint32_t major,
                               std::uint32_t minor, fs::path& hidDir) {
  fs::path nodeDir;
  if (!Canonical(sysfsRoot / "dev" / "char" / (std::to_string(major) + ":" + std::to_string(minor)),
                 nodeDir)) {
    return false;
  }
  fs::path subsystem;
  if (!Canonical(nodeDir / "subsystem", subsystem) || subsystem.filename() != "hidraw") {
    return false;
  }
  fs::path device;
  if (!Canonical(nodeDir / "device", device)) return false;
  std::uint32_t instance = 0;
  if (!ParseHidDeviceInstance(device.filename().string(), instance)) return false;
  hidDir = device;
  return true;
}

bool ReadSysfsHidIdentity(const fs::path& hidDir, SysfsHidIdentity& out) {
  std::string uevent;
  std::string hidId;
  SysfsHidIdentity identity;
  if (!ReadSmallFile(hidDir / "uevent", kMaxSysfsFileBytes, uevent) ||
      !FindUeventValue(uevent, "HID_ID", hidId) || !ParseHidId(hidId, identity.Ids)) {
    return false;
  }
  // Only a device on the USB bus takes its strings from a USB ancestor: a Bluetooth device
  // behind a USB dongle has one too, and the dongle's name is not the device's.
  fs::path usbDir;
  if (identity.Ids.Bus == kHidBusUsb && FindUsbDeviceAncestor(hidDir, usbDir)) {
    std::string text;
    std::uint16_t version = 0;
    if (ReadSmallFile(usbDir / "bcdDevice", kMaxSysfsFileBytes, text) &&
        ParseSysfsHex16(text, version)) {
      identity.VersionNumber = version;
    }
    // A USB device without a product string has none; its HID name would be made up.
    if (ReadSmallFile(usbDir / "product", kMaxSysfsFileBytes, text)) {
      identity.HasProductString = true;
      identity.ProductUtf8 = std::string(TrimSysfsValue(text));
    }
  } else {
    std::string name;
    if (FindUeventValue(uevent, "HID_NAME", name)) {
      identity.HasProductString = true;
      identity.ProductUtf8 = std::move(name);
    }
  }
  out = std::move(identity);
  return true;
}

bool ReadSysfsReportDescriptor(const fs::path& hidDir, std::vector<std::uint8_t>& out) {
  std::string data;
  if (!ReadSmallFile(hidDir / "report_descriptor", kMaxSysfsFileBytes, data) || data.empty()) {
    return false;
  }
  out.assign(data.begin(), data.end());
  return true;
}

}  // namespace zrv
