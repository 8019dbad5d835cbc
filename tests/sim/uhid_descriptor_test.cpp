// The virtual devices' report descriptors read by the backend's own descriptor reader: the VM
// test relies on the lengths the tool will compute from them.
#include <gtest/gtest.h>

#include "link/platform/linux/hid_report_descriptor.h"
#include "uhid_bridge.h"

namespace zrv::uhid {
namespace {

TEST(UhidDescriptors, DriverReportsAre64BytesWithTheIdByteNumberedOrNot) {
  for (bool numbered : {true, false}) {
    const auto d = DriverReportDescriptor(numbered);
    HidReportDescriptorInfo info;
    ASSERT_TRUE(ParseHidReportDescriptor(d.data(), d.size(), info)) << numbered;
    EXPECT_EQ(info.NumberedReports, numbered);
    EXPECT_EQ(info.InputReportByteLength, 64);
    EXPECT_EQ(info.OutputReportByteLength, 64);
    EXPECT_EQ(info.FeatureReportByteLength, 0);
    EXPECT_EQ(info.UsagePage, 0xFF00);
  }
}

TEST(UhidDescriptors, PointerIsAGenericDesktopMouseWithoutOutput) {
  const auto d = PointerReportDescriptor();
  HidReportDescriptorInfo info;
  ASSERT_TRUE(ParseHidReportDescriptor(d.data(), d.size(), info));
  EXPECT_FALSE(info.NumberedReports);
  EXPECT_EQ(info.UsagePage, 0x01);
  EXPECT_EQ(info.Usage, 0x02);
  EXPECT_EQ(info.InputReportByteLength, 4);  // buttons byte, X, Y, plus the ID byte
  EXPECT_EQ(info.OutputReportByteLength, 0);
}

}  // namespace
}  // namespace zrv::uhid
