// The real window on the Windows HID platform, with whatever HID devices this machine has (under
// wine: its virtual mouse and keyboard, none of them the driver).
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QStringList>
#include <QtGlobal>

#include <string>
#include <vector>

#include "link/hid_device.h"
#include "link/hid_device_controller.h"
#include "support/run_until.h"
#include "support/scratch_user_folders.h"
#include "link/ttimer.h"
#include "support/manual_time_source.h"
#include "ui/application.h"
#include "ui/form1.h"
#include "ui/message_boxes.h"
#include "win32_test_devices.h"

namespace zrv::test {
namespace {

struct CountedBoxes : IMessageBoxes {
  void Warning(std::string_view, std::string_view) override { ++Shown; }
  bool Question(std::string_view, std::string_view) override { return ++Shown, false; }
  void Error(std::string_view, std::string_view) override { ++Shown; }
  int Shown = 0;
};

CountedBoxes& AppBoxes() {
  static CountedBoxes boxes;
  return boxes;
}

// What the window lists for a device: its product string, else its ids.
QString ListText(const SeenDevice& device) {
  if (!device.Product.empty()) return QString::fromStdU16String(device.Product);
  return QString::asprintf("Device VID=%04X PID=%04X", device.Attributes.VendorID, device.Attributes.ProductID);
}

TEST(Win32Window, OtherHidDevicesAloneLeaveDisconnectedAndAreListed) {
  Win32HidPlatform platform;
  const std::vector<SeenDevice> seen = SeenDevices(platform);
  if (seen.empty()) GTEST_SKIP() << "no HID device is attached to this machine";
  for (const SeenDevice& device : seen) {
    if (device.Product == u"ZRVXXX") GTEST_SKIP() << "a driver is attached to this machine";
  }

  ManualTimeSource time;
  CountedBoxes boxes;
  DriverSession session(time, platform);
  TForm1 form(session, time, boxes);
  auto* status = form.findChild<QLineEdit*>(QStringLiteral("ConnectionStatus"));
  auto* list = form.findChild<QListWidget*>(QStringLiteral("ListBox1"));
  ASSERT_NE(status, nullptr);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(status->text(), QStringLiteral("No connection"));  // until the first scan has run
  EXPECT_TRUE(platform.IsWatchingChanges());

  ASSERT_TRUE(RunUntil([&] { return status->text() == QStringLiteral("Disconnected"); }))
      << status->text().toStdString();
  EXPECT_FALSE(session.Connected());
  EXPECT_FALSE(session.Polling());
  EXPECT_EQ(session.CurrentDevice(), nullptr);

  QStringList expected, items;
  for (const SeenDevice& device : seen) expected << ListText(device);
  for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
  EXPECT_EQ(items, expected);
  if (test::FindWineDevice(seen, 0x0001) != nullptr) {
    EXPECT_TRUE(items.contains(QStringLiteral("Wine HID mouse")));
    EXPECT_TRUE(items.contains(QStringLiteral("Wine HID keyboard")));
  }
  for (const auto& device : session.Held()) {
    ASSERT_NE(device, nullptr);
    EXPECT_TRUE(device->IsClaimed());
    EXPECT_FALSE(device->ReaderRunning());
  }
  EXPECT_EQ(boxes.Shown + AppBoxes().Shown, 0);
}

// The device layer's reader thread on a real read handle: it waits slice after slice, and stopping
// it ends the outstanding read without waiting for a report that never comes.
TEST(Win32Window, AReaderOnAnAttachedDeviceWaitsInSlicesAndStops) {
  Win32HidPlatform platform;
  if (SeenDevices(platform).empty()) GTEST_SKIP() << "no HID device is attached to this machine";
  THidDeviceController controller(platform);
  ASSERT_TRUE(RunUntil([&] { return controller.Count() > 0; }));
  int index = 0;
  while (index < controller.Count() && !controller.Device(index)->ReadWriteAccess()) ++index;
  if (index == controller.Count()) GTEST_SKIP() << "no HID device opens for reading and writing here";
  std::unique_ptr<THidDevice> device;
  ASSERT_TRUE(controller.ClaimByIndex(device, index));
  if (device->GetCapabilities().InputReportByteLength == 0) GTEST_SKIP() << "the device sends no reports";
  device->SetReadSliceTime(10);
  int reports = 0;
  device->SetOnData([&](THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) { ++reports; });
  ASSERT_TRUE(device->ReaderRunning());
  ASSERT_TRUE(RunUntil([&] { return device->ReadHandle() != kInvalidHidHandle; }));
  RunRounds(50);
  EXPECT_EQ(reports, 0);  // nobody moves wine's devices
  device->SetOnData(nullptr);
  EXPECT_FALSE(device->ReaderRunning());
  device.reset();
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace zrv::test

int main(int argc, char** argv) {
  qputenv("QT_FONT_DPI", "96");
  // The Windows build of Qt here has no offscreen platform; `minimal` draws nothing as well.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "minimal");
  ::testing::InitGoogleTest(&argc, argv);
  const zrv::test::ScratchUserFolders userFolders;
  zrv::TApplication app(argc, argv, zrv::test::AppBoxes());
  return RUN_ALL_TESTS();
}
