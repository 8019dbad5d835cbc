// A throw-away sysfs tree in a temporary directory, shaped like the kernel's for hidraw nodes,
// so identification can be tested without a HID device.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zrv::test {

class FakeSysfs {
 public:
  FakeSysfs();
  ~FakeSysfs();
  FakeSysfs(const FakeSysfs&) = delete;
  FakeSysfs& operator=(const FakeSysfs&) = delete;

  const std::filesystem::path& Root() const { return root_; }

  // A hidraw node for character device major:minor whose HID device `hidName` sits at
  // devices/<parent>/<hidName>. Returns the HID device directory.
  std::filesystem::path AddHidraw(std::uint32_t major, std::uint32_t minor,
                                  const std::string& parent, const std::string& hidName,
                                  const std::string& uevent,
                                  const std::vector<std::uint8_t>& descriptor);

  // A directory at devices/<path> whose uevent says it is a USB device.
  void AddUsbDevice(const std::string& path, const std::string* product, const std::string& bcd);

  static void WriteFile(const std::filesystem::path& file, const std::string& content);

 private:
  std::filesystem::path root_;
};

// Vendor page, report ID 1, 63-byte input and output reports.
extern const std::vector<std::uint8_t> kDriverDescriptor;
// No report IDs: 8-byte input, 1-byte output.
extern const std::vector<std::uint8_t> kKeyboardDescriptor;

}  // namespace zrv::test
