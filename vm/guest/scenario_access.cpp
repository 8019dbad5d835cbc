// A HID device that is not the driver is listed under its own product string; a driver whose node
// the user may not open is still listed, without read/write access and without a reader.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "connector.h"
#include "guest_support.h"
#include "link/platform/linux/linux_hid_platform.h"
#include "support/run_until.h"

namespace zrv::vmtest {
namespace {

constexpr int kRounds = 10000;
constexpr std::uint32_t kUnprivilegedUid = 1000;

void OtherDeviceAlone(Checks& c) {
  DriverProcess pointer({"--no-driver", "--second-name", "Virtual Pointer"});
  LinuxHidPlatform platform;
  const auto found = WaitForProduct(platform, "Virtual Pointer");
  if (!c.That(found.has_value(), "pointer not listed")) return;
  c.That(WaitForUdev(found->Path), "udev never handled " + found->Path);

  Connector connector(platform, u"ZRVXXX");
  if (!c.That(test::RunUntil([&] { return connector.Changes() >= 1; }, kRounds), "no forced scan")) return;
  c.That(connector.Driver() == nullptr, "a driver was connected");
  const auto& listed = connector.Listed();
  c.Equal(listed.size(), 1u, "devices listed");
  c.That(std::find(listed.begin(), listed.end(), "Virtual Pointer") != listed.end(),
         "pointer not listed under its own product string");
}

void UnprivilegedUser(Checks& c) {
  DriverProcess driver({});
  LinuxHidPlatform platform;
  const auto found = WaitForProduct(platform, "ZRVXXX");
  if (!c.That(found.has_value(), "driver not listed")) return;
  // udev sets the node's mode when it handles it; only then is the mode ours to change.
  c.That(WaitForUdev(found->Path), "udev never handled " + found->Path);
  c.That(chmod(found->Path.c_str(), 0600) == 0, "chmod 600 failed");
  c.That(chown(found->Path.c_str(), 0, 0) == 0, "chown root failed");
  c.Equal(RunAsUser(kUnprivilegedUid, "access-child"), 0, "unprivileged half (exit status)");
}

// Runs as uid 1000.
void UnprivilegedChild(Checks& c) {
  c.Equal(geteuid(), kUnprivilegedUid, "effective user");
  LinuxHidPlatform platform;
  const auto found = WaitForProduct(platform, "ZRVXXX", 100);
  if (!c.That(found.has_value(), "driver not listed for the user")) return;
  const int fd = open(found->Path.c_str(), O_RDWR | O_CLOEXEC);
  c.That(fd < 0 && errno == EACCES, "the node opened for the user although it is 0600 root");
  if (fd >= 0) close(fd);

  Connector connector(platform, u"ZRVXXX");
  if (!c.That(test::RunUntil([&] { return connector.Changes() >= 1; }, kRounds), "no forced scan")) return;
  THidDevice* device = connector.Driver();
  if (!c.That(device != nullptr, "driver not claimed by product string")) return;
  c.That(!device->ReadWriteAccess(), "ReadWriteAccess true without access to the node");
  c.Equal(device->HidAttributes().VendorID, 0x1234, "vendor id");
  c.Equal(device->HidAttributes().ProductID, 0x5678, "product id");
  test::RunRounds(50);
  c.That(!device->ReaderRunning(), "a reader runs without read/write access");
  const std::uint8_t command = 10;
  c.That(!connector.Send(1, &command, 1), "a write succeeded without access");
}

const ScenarioRegistrar kOther("other-device", "a non-driver HID device alone is listed with its own name",
                               OtherDeviceAlone);
const ScenarioRegistrar kAccess("no-access", "node 0600 root, client as uid 1000: listed, no read/write",
                                UnprivilegedUser);
const ScenarioRegistrar kAccessChild("access-child", "client as uid 1000", UnprivilegedChild, true);

}  // namespace
}  // namespace zrv::vmtest
