#include "link/platform/linux/sysfs_hid_device.h"

#include <gtest/gtest.h>

#include "fake_sysfs.h"

namespace zrv {
namespace {

namespace fs = std::filesystem;
using test::FakeSysfs;

const std::string kUsbUevent =
    "DRIVER=hid-generic\nHID_ID=0003:00001234:00005678\nHID_NAME=Maker Co ZRVXXX\n"
    "HID_PHYS=usb-0000:00:14.0-1/input0\nMODALIAS=hid:b0003g0001v00001234p00005678\n";

TEST(SysfsHidDevice, UsbDeviceTakesProductAndVersionFromItsUsbAncestor) {
  FakeSysfs sysfs;
  // The root hub is a USB device too; the nearest one is the device's own.
  const std::string hub = "Host Controller\n";
  sysfs.AddUsbDevice("pci0000:00/0000:00:14.0/usb1", &hub, "0601\n");
  const std::string product = "ZRVXXX\n";
  sysfs.AddUsbDevice("pci0000:00/0000:00:14.0/usb1/1-1", &product, "0102\n");
  const fs::path interface = "pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0";
  fs::create_directories(sysfs.Root() / "devices" / interface);
  FakeSysfs::WriteFile(sysfs.Root() / "devices" / interface / "uevent", "DEVTYPE=usb_interface\n");
  const fs::path hidDir = sysfs.AddHidraw(240, 0, interface.string(), "0003:1234:5678.000A",
                                          kUsbUevent, test::kDriverDescriptor);

  SysfsHidIdentity id;
  ASSERT_TRUE(ReadSysfsHidIdentity(hidDir, id));
  EXPECT_EQ(id.Ids.Bus, kHidBusUsb);
  EXPECT_EQ(id.Ids.VendorID, 0x1234);
  EXPECT_EQ(id.Ids.ProductID, 0x5678);
  EXPECT_EQ(id.VersionNumber, 0x0102);
  ASSERT_TRUE(id.HasProductString);
  EXPECT_EQ(id.ProductUtf8, "ZRVXXX");  // not the HID name "Maker Co ZRVXXX"

  fs::path resolved;
  ASSERT_TRUE(ResolveHidrawHidDirectory(sysfs.Root(), 240, 0, resolved));
  EXPECT_EQ(resolved, fs::canonical(hidDir));
  std::vector<std::uint8_t> descriptor;
  ASSERT_TRUE(ReadSysfsReportDescriptor(resolved, descriptor));
  EXPECT_EQ(descriptor, test::kDriverDescriptor);
}

TEST(SysfsHidDevice, DeviceWithoutUsbParentUsesItsHidName) {
  FakeSysfs sysfs;
  const fs::path hidDir = sysfs.AddHidraw(
      240, 1, "virtual/misc/uhid", "0003:1234:5678.0004",
      "DRIVER=hid-generic\nHID_ID=0003:00001234:00005678\nHID_NAME=ZRVXXX\nHID_UNIQ=\n",
      test::kDriverDescriptor);
  SysfsHidIdentity id;
  ASSERT_TRUE(ReadSysfsHidIdentity(hidDir, id));
  EXPECT_EQ(id.VersionNumber, 0);
  ASSERT_TRUE(id.HasProductString);
  EXPECT_EQ(id.ProductUtf8, "ZRVXXX");
}

TEST(SysfsHidDevice, BluetoothDeviceBehindAUsbDongleKeepsItsOwnName) {
  FakeSysfs sysfs;
  const std::string dongle = "Radio Dongle\n";
  sysfs.AddUsbDevice("pci0/usb1/1-2", &dongle, "0200\n");
  const fs::path hidDir = sysfs.AddHidraw(
      240, 2, "pci0/usb1/1-2/1-2:1.0/bluetooth/hci0/hci0:256", "0005:046D:B01A.0009",
      "HID_ID=0005:0000046D:0000B01A\nHID_NAME=BT Mouse\n", test::kDriverDescriptor);
  SysfsHidIdentity id;
  ASSERT_TRUE(ReadSysfsHidIdentity(hidDir, id));
  EXPECT_EQ(id.Ids.Bus, 5);
  EXPECT_EQ(id.ProductUtf8, "BT Mouse");
  EXPECT_EQ(id.VersionNumber, 0);
}

TEST(SysfsHidDevice, UsbDeviceWithoutProductStringHasNone) {
  FakeSysfs sysfs;
  sysfs.AddUsbDevice("pci0/usb1/1-3", nullptr, "zz\n");  // and a bcdDevice that is not a number
  const fs::path hidDir = sysfs.AddHidraw(240, 3, "pci0/usb1/1-3/1-3:1.0", "0003:1234:5678.000B",
                                          kUsbUevent, test::kDriverDescriptor);
  SysfsHidIdentity id;
  ASSERT_TRUE(ReadSysfsHidIdentity(hidDir, id));
  EXPECT_FALSE(id.HasProductString);
  EXPECT_EQ(id.VersionNumber, 0);
}

TEST(SysfsHidDevice, BadOrMissingDataIsRejected) {
  FakeSysfs sysfs;
  const fs::path noId = sysfs.AddHidraw(240, 4, "virtual", "0003:1234:5678.0001",
                                        "HID_NAME=x\n", {});
  const fs::path badId = sysfs.AddHidraw(240, 5, "virtual", "0003:1234:5678.0002",
                                         "HID_ID=0003:1234\nHID_NAME=x\n", {});
  SysfsHidIdentity id;
  EXPECT_FALSE(ReadSysfsHidIdentity(noId, id));
  EXPECT_FALSE(ReadSysfsHidIdentity(badId, id));
  EXPECT_FALSE(ReadSysfsHidIdentity(sysfs.Root() / "devices" / "nothing", id));
  std::vector<std::uint8_t> descriptor;
  EXPECT_FALSE(ReadSysfsReportDescriptor(noId, descriptor));  // empty file

  fs::path hidDir;
  EXPECT_FALSE(ResolveHidrawHidDirectory(sysfs.Root(), 240, 99, hidDir));  // no such node
  // A character device of another class.
  fs::create_directories(sysfs.Root() / "class" / "input");
  const fs::path event = sysfs.Root() / "devices" / "virtual" / "input" / "event3";
  fs::create_directories(event);
  fs::create_directory_symlink(sysfs.Root() / "class" / "input", event / "subsystem");
  fs::create_directory_symlink(sysfs.Root() / "devices" / "virtual" / "0003:1234:5678.0001",
                               event / "device");
  fs::create_directory_symlink(event, sysfs.Root() / "dev" / "char" / "13:67");
  EXPECT_FALSE(ResolveHidrawHidDirectory(sysfs.Root(), 13, 67, hidDir));
  // A hidraw node whose parent does not carry a HID device name.
  const fs::path odd = sysfs.Root() / "devices" / "virtual" / "odd" / "hidraw" / "hidraw9";
  fs::create_directories(odd);
  fs::create_directory_symlink(sysfs.Root() / "class" / "hidraw", odd / "subsystem");
  fs::create_directory_symlink("../..", odd / "device");
  fs::create_directory_symlink(odd, sysfs.Root() / "dev" / "char" / "240:9");
  EXPECT_FALSE(ResolveHidrawHidDirectory(sysfs.Root(), 240, 9, hidDir));
}

TEST(SysfsHidDevice, SmallFileReadsStopAtTheirLimit) {
  FakeSysfs sysfs;
  const fs::path file = sysfs.Root() / "big";
  FakeSysfs::WriteFile(file, std::string(1000, 'x'));
  std::string text;
  ASSERT_TRUE(ReadSmallFile(file, 100, text));
  EXPECT_EQ(text.size(), 100u);
  ASSERT_TRUE(ReadSmallFile(file, 5000, text));
  EXPECT_EQ(text.size(), 1000u);
  EXPECT_FALSE(ReadSmallFile(sysfs.Root() / "missing", 100, text));
}

}  // namespace
}  // namespace zrv
