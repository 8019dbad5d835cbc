#include "fake_sysfs.h"

#include <fstream>
#include <stdexcept>
#include <cstdlib>

namespace zrv::test {

namespace fs = std::filesystem;

const std::vector<std::uint8_t> kDriverDescriptor = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00,
    0x75, 0x08, 0x95, 0x3F, 0x09, 0x01, 0x81, 0x02, 0x09, 0x02, 0x91, 0x02, 0xC0};

const std::vector<std::uint8_t> kKeyboardDescriptor = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00,
    0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01, 0x75, 0x08, 0x81, 0x01,
    0x95, 0x05, 0x75, 0x01, 0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91, 0x02, 0x95, 0x01,
    0x75, 0x03, 0x91, 0x01, 0x95, 0x06, 0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07,
    0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0};

FakeSysfs::FakeSysfs() {
  std::string pattern = (fs::temp_directory_path() / "zrv-sysfs-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  root_ = pattern;
  fs::create_directories(root_ / "class" / "hidraw");
  fs::create_directories(root_ / "dev" / "char");
}

FakeSysfs::~FakeSysfs() {
  std::error_code ec;
  fs::remove_all(root_, ec);
}

void FakeSysfs::WriteFile(const fs::path& file, const std::string& content) {
  std::ofstream out(file, std::ios::binary);
  out << content;
}

fs::path FakeSysfs::AddHidraw(std::uint32_t major, std::uint32_t minor, const std::string& parent,
                              const std::string& hidName, const std::string& uevent,
                              const std::vector<std::uint8_t>& descriptor) {
  const fs::path hidDir = root_ / "devices" / parent / hidName;
  const fs::path node = hidDir / "hidraw" / ("hidraw" + std::to_string(minor));
  fs::create_directories(node);
  WriteFile(hidDir / "uevent", uevent);
  WriteFile(hidDir / "report_descriptor", std::string(descriptor.begin(), descriptor.end()));
  fs::create_directory_symlink(root_ / "class" / "hidraw", node / "subsystem");
  fs::create_directory_symlink("../..", node / "device");
  const fs::path link = root_ / "dev" / "char" / (std::to_string(major) + ":" + std::to_string(minor));
  fs::remove(link);
  fs::create_directory_symlink(node, link);
  return hidDir;
}

void FakeSysfs::AddUsbDevice(const std::string& path, const std::string* product,
                             const std::string& bcd) {
  const fs::path dir = root_ / "devices" / path;
  fs::create_directories(dir);
  WriteFile(dir / "uevent", "MAJOR=189\nMINOR=3\nDEVNAME=bus/usb/001/004\nDEVTYPE=usb_device\n");
  WriteFile(dir / "bcdDevice", bcd);
  if (product != nullptr) WriteFile(dir / "product", *product);
}

}  // namespace zrv::test
