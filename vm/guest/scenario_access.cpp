// A HID device that is not the driver is listed under its own product string; a driver whose node
// the user may not open is still listed, without read/write access and without a reader, and the
// session says "no connection" for it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "guest_support.h"
#include "link/platform/linux/linux_hid_platform.h"
#include "link/ttimer.h"
#include "session/driver_session.h"
#include "session_watch.h"
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

  DriverSession session(RealTimeSource(), platform);
  SessionWatch watch(session);
  if (!c.That(test::RunUntil([&] { return watch.Scans() >= 1; }, kRounds), "no forced scan")) return;
  c.That(session.CurrentDevice() == nullptr && !session.Connected(), "a driver was connected");
  const std::vector<std::string> listed = watch.Products();
  c.Equal(listed.size(), 1u, "devices listed");
  c.That(std::find(listed.begin(), listed.end(), "Virtual Pointer") != listed.end(),
         "pointer not listed under its own product string");
  c.That(!session.Devices().empty() && !session.Devices().front().IsDriver, "the pointer taken for a driver");
  c.That(!watch.Shown().empty() && watch.Shown().back() == ConnectionShown::Disconnected,
         "the session does not say \"Disconnected\" with another device alone");
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

  DriverSession session(RealTimeSource(), platform);
  SessionWatch watch(session);
  if (!c.That(test::RunUntil([&] { return watch.Scans() >= 1; }, kRounds), "no forced scan")) return;
  if (!c.That(session.Devices().size() == 1 && session.Devices().front().IsDriver, "driver not listed as the driver")) {
    return;
  }
  c.That(!session.Devices().front().ReadWrite, "listed with read/write access");
  THidDevice* device = session.Held().front().get();
  if (!c.That(device != nullptr, "driver not claimed by product string")) return;
  c.That(!device->ReadWriteAccess(), "ReadWriteAccess true without access to the node");
  c.Equal(device->HidAttributes().VendorID, 0x1234, "vendor id");
  c.Equal(device->HidAttributes().ProductID, 0x5678, "product id");
  test::RunRounds(50);
  c.That(!device->ReaderRunning(), "a reader runs without read/write access");
  c.That(!session.Connected(), "connected without read/write access");
  c.That(!watch.Shown().empty() && watch.Shown().back() == ConnectionShown::NoConnection,
         "the session does not say \"No connection\" for a driver it may not open");
  c.Equal(watch.RefusedNode().toStdString(), found->Path, "refused node the scan reports");
  const std::uint8_t command = 10;
  c.That(!session.SendTagged(&command, 1, 1), "the session sent without access");
  // Below the session: the device itself refuses the write.
  std::uint8_t report[64] = {1, command};
  std::uint32_t written = 0;
  c.That(!device->WriteReport(report, sizeof report, written), "a write succeeded without access");
  c.Equal(watch.Received().size(), 0u, "input reports without access");
}

const ScenarioRegistrar kOther("other-device", "a non-driver HID device alone is listed with its own name",
                               OtherDeviceAlone);
const ScenarioRegistrar kAccess("no-access", "node 0600 root, client as uid 1000: listed, no read/write",
                                UnprivilegedUser);
const ScenarioRegistrar kAccessChild("access-child", "client as uid 1000", UnprivilegedChild, true);

}  // namespace
}  // namespace zrv::vmtest
