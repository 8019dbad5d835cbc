#include "link/platform/linux/hidraw_node_facts.h"

#include <gtest/gtest.h>

#include "fake_sysfs.h"
#include "link/platform/linux/sysfs_text.h"

namespace zrv {
namespace {

TEST(HidrawNodeFacts, BusComesFromTheHidDeviceBehindTheNumber) {
  test::FakeSysfs sysfs;
  const std::string product = "ZRVXXX\n";
  sysfs.AddUsbDevice("pci0/usb1/1-4", &product, "0102\n");
  sysfs.AddHidraw(1, 3, "pci0/usb1/1-4/1-4:1.0", "0003:1234:5678.000A",
                  "HID_ID=0003:00001234:00005678\nHID_NAME=Maker ZRVXXX\n", test::kDriverDescriptor);
  sysfs.AddHidraw(240, 1, "virtual/misc/uhid", "0006:1234:5678.0005",
                  "HID_ID=0006:00001234:00005678\nHID_NAME=ZRVXXX\n", test::kDriverDescriptor);

  std::uint16_t bus = 0;
  ASSERT_TRUE(ReadHidrawBus(sysfs.Root(), 1, 3, bus));
  EXPECT_EQ(bus, kHidBusUsb);
  ASSERT_TRUE(ReadHidrawBus(sysfs.Root(), 240, 1, bus));
  EXPECT_EQ(bus, 0x0006);
  EXPECT_FALSE(ReadHidrawBus(sysfs.Root(), 240, 2, bus));

  // /dev/null is 1:3, which the fake sysfs calls a USB hidraw node.
  HidrawNodeFacts facts;
  ASSERT_TRUE(ReadHidrawNodeFacts(sysfs.Root(), "/dev/null", facts));
  EXPECT_EQ(facts.Mode, 0666u);
  EXPECT_EQ(facts.Uid, 0u);
  EXPECT_TRUE(facts.BusKnown);
  EXPECT_EQ(facts.Bus, kHidBusUsb);

  EXPECT_FALSE(ReadHidrawNodeFacts(sysfs.Root(), (sysfs.Root() / "dev").string(), facts)) << "a directory";
  EXPECT_FALSE(ReadHidrawNodeFacts(sysfs.Root(), "/dev/hidraw-missing", facts));
}

}  // namespace
}  // namespace zrv
