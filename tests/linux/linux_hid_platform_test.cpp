#include "link/platform/linux/linux_hid_platform.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <array>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <iostream>
#include <thread>

#include "fake_sysfs.h"

namespace zrv {
namespace {

namespace fs = std::filesystem;
using test::FakeSysfs;

std::size_t OpenDescriptorCount() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

constexpr const char* kUhidUevent =
    "DRIVER=hid-generic\nHID_ID=0003:00001234:00005678\nHID_NAME=ZRVXXX\nHID_PHYS=\n";

// /dev/null (1:3) and /dev/zero (1:5) stand in for hidraw nodes: the fake sysfs says what they
// are, the real files give the read and write behaviour.
class LinuxHidPlatformTest : public ::testing::Test {
 protected:
  void AddUsbDriverAsNull() {
    const std::string product = "ZRVXXX\n";
    sysfs_.AddUsbDevice("pci0/usb1/1-4", &product, "0102\n");
    sysfs_.AddHidraw(1, 3, "pci0/usb1/1-4/1-4:1.0", "0003:1234:5678.000A",
                     "HID_ID=0003:00001234:00005678\nHID_NAME=Maker ZRVXXX\n",
                     test::kDriverDescriptor);
  }

  FakeSysfs sysfs_;
  LinuxHidPlatform platform_{sysfs_.Root()};
};

TEST_F(LinuxHidPlatformTest, IdentifyHandleAnswersEveryQueryFromSysfs) {
  AddUsbDriverAsNull();
  const HidHandle h = platform_.Open("/dev/null", HidOpenMode::Identify);
  ASSERT_NE(h, kInvalidHidHandle);

  THidAttributes attributes;
  attributes.Size = 12;
  ASSERT_TRUE(platform_.GetAttributes(h, attributes));
  EXPECT_EQ(attributes.VendorID, 0x1234);
  EXPECT_EQ(attributes.ProductID, 0x5678);
  EXPECT_EQ(attributes.VersionNumber, 0x0102);

  std::array<char16_t, 254> text{};
  ASSERT_TRUE(platform_.GetProductString(h, text.data(), 508));
  EXPECT_EQ(std::u16string(text.data()), u"ZRVXXX");

  HidPreparsedData data;
  ASSERT_TRUE(platform_.GetPreparsedData(h, data));
  EXPECT_EQ(data.Caps.InputReportByteLength, 64);
  EXPECT_EQ(data.Caps.OutputReportByteLength, 64);
  EXPECT_EQ(data.Caps.UsagePage, 0xFF00);

  std::uint32_t count = 0;
  EXPECT_TRUE(platform_.SetNumInputBuffers(h, 2));
  ASSERT_TRUE(platform_.GetNumInputBuffers(h, count));
  EXPECT_EQ(count, 64u);  // hidraw's fixed queue, whatever was set

  // Identification only: no writing, no reading.
  std::uint8_t report[64] = {1, 10};
  std::uint32_t written = 3;
  EXPECT_FALSE(platform_.Write(h, report, sizeof report, written));
  EXPECT_EQ(written, 0u);
  std::uint32_t error = 0;
  EXPECT_FALSE(platform_.StartRead(h, report, sizeof report, error));
  EXPECT_EQ(error, static_cast<std::uint32_t>(EBADF));

  platform_.Close(h);
  EXPECT_EQ(platform_.OpenHandleCount(), 0u);
  EXPECT_FALSE(platform_.GetAttributes(h, attributes));
  EXPECT_FALSE(platform_.GetProductString(h, text.data(), 508));
  EXPECT_FALSE(platform_.GetPreparsedData(h, data));
  EXPECT_FALSE(platform_.GetNumInputBuffers(h, count));
  platform_.Close(h);  // twice: harmless
}

TEST_F(LinuxHidPlatformTest, ProductStringIsCappedAndMalformedTextIsRefused) {
  sysfs_.AddHidraw(1, 3, "virtual/misc/uhid", "0003:1234:5678.0001",
                   "HID_ID=0003:00001234:00005678\nHID_NAME=" + std::string(300, 'n') + "\n",
                   test::kDriverDescriptor);
  const HidHandle h = platform_.Open("/dev/null", HidOpenMode::Identify);
  ASSERT_NE(h, kInvalidHidHandle);
  std::array<char16_t, 260> text;
  text.fill(u'#');
  ASSERT_TRUE(platform_.GetProductString(h, text.data(), 508));
  EXPECT_EQ(std::u16string(text.data(), 254), std::u16string(254, u'n'));
  EXPECT_EQ(text[254], u'#');  // 508 bytes and not one more

  sysfs_.AddHidraw(1, 3, "virtual/misc/uhid", "0003:1234:5678.0002",
                   "HID_ID=0003:00001234:00005678\nHID_NAME=bad\xC3(\n", test::kDriverDescriptor);
  const HidHandle bad = platform_.Open("/dev/null", HidOpenMode::Identify);
  ASSERT_NE(bad, kInvalidHidHandle);
  EXPECT_FALSE(platform_.GetProductString(bad, text.data(), 508));
  THidAttributes attributes;
  EXPECT_TRUE(platform_.GetAttributes(bad, attributes));  // the rest still identifies it
}

TEST_F(LinuxHidPlatformTest, NodeThatRefusesOpeningIsStillIdentified) {
  // A character device with no driver behind it: stat() works, open() does not.
  const fs::path node = sysfs_.Root() / "node";
  if (::mknod(node.c_str(), S_IFCHR | 0600, makedev(239, 77)) != 0) {
    GTEST_SKIP() << "mknod not permitted here";
  }
  sysfs_.AddHidraw(239, 77, "virtual/misc/uhid", "0003:1234:5678.0003", kUhidUevent,
                   test::kDriverDescriptor);
  EXPECT_EQ(platform_.Open(node, HidOpenMode::ReadWrite), kInvalidHidHandle);
  EXPECT_EQ(platform_.Open(node, HidOpenMode::Read), kInvalidHidHandle);
  const HidHandle h = platform_.Open(node, HidOpenMode::Identify);
  ASSERT_NE(h, kInvalidHidHandle);
  std::array<char16_t, 254> text{};
  ASSERT_TRUE(platform_.GetProductString(h, text.data(), 508));
  EXPECT_EQ(std::u16string(text.data()), u"ZRVXXX");
  HidPreparsedData data;
  ASSERT_TRUE(platform_.GetPreparsedData(h, data));
  EXPECT_EQ(data.Caps.OutputReportByteLength, 64);
}

TEST_F(LinuxHidPlatformTest, WhatIsNotAHidrawNodeDoesNotOpen) {
  AddUsbDriverAsNull();
  const std::size_t descriptors = OpenDescriptorCount();
  const fs::path regular = sysfs_.Root() / "regular";
  FakeSysfs::WriteFile(regular, "x");
  for (HidOpenMode mode : {HidOpenMode::ReadWrite, HidOpenMode::Identify, HidOpenMode::Read}) {
    EXPECT_EQ(platform_.Open("/dev/no-such-hidraw", mode), kInvalidHidHandle);
    EXPECT_EQ(platform_.Open(regular, mode), kInvalidHidHandle);
    EXPECT_EQ(platform_.Open("/dev/full", mode), kInvalidHidHandle);  // no sysfs entry for 1:7
  }
  EXPECT_EQ(OpenDescriptorCount(), descriptors);  // nothing left open by the failures
  EXPECT_EQ(platform_.OpenHandleCount(), 0u);
}

TEST_F(LinuxHidPlatformTest, UnreadableDescriptorMakesTheNodeIdentifyOnly) {
  // Without the descriptor reads cannot be framed, so the node is not opened for them.
  sysfs_.AddHidraw(1, 3, "virtual/misc/uhid", "0003:1234:5678.0004", kUhidUevent, {0xA1, 0x01});
  EXPECT_EQ(platform_.Open("/dev/null", HidOpenMode::ReadWrite), kInvalidHidHandle);
  EXPECT_EQ(platform_.Open("/dev/null", HidOpenMode::Read), kInvalidHidHandle);
  const HidHandle h = platform_.Open("/dev/null", HidOpenMode::Identify);
  ASSERT_NE(h, kInvalidHidHandle);
  HidPreparsedData data;
  data.Caps.InputReportByteLength = 5;
  EXPECT_FALSE(platform_.GetPreparsedData(h, data));
  THidAttributes attributes;
  EXPECT_TRUE(platform_.GetAttributes(h, attributes));
}

TEST_F(LinuxHidPlatformTest, ReadWriteHandleWritesWholeReports) {
  AddUsbDriverAsNull();
  const HidHandle h = platform_.Open("/dev/null", HidOpenMode::ReadWrite);
  ASSERT_NE(h, kInvalidHidHandle);
  std::uint8_t report[64] = {1, 10};
  std::uint32_t written = 0;
  ASSERT_TRUE(platform_.Write(h, report, sizeof report, written));
  EXPECT_EQ(written, 64u);
  EXPECT_FALSE(platform_.Write(h, report, 0, written));
  HidPreparsedData data;
  ASSERT_TRUE(platform_.GetPreparsedData(h, data));  // from sysfs when the ioctl is not there
  EXPECT_EQ(data.Caps.InputReportByteLength, 64);
  platform_.Close(h);
  EXPECT_FALSE(platform_.Write(h, report, sizeof report, written));
}

TEST_F(LinuxHidPlatformTest, ReadHandleDeliversWholeReportsWithTheIdFirst) {
  // /dev/zero always has data: a device without report IDs reads 8 bytes behind a 0 ID.
  sysfs_.AddHidraw(1, 5, "virtual/misc/uhid", "0003:1234:5678.0005", kUhidUevent,
                   test::kKeyboardDescriptor);
  const HidHandle h = platform_.Open("/dev/zero", HidOpenMode::Read);
  ASSERT_NE(h, kInvalidHidHandle);
  HidPreparsedData data;
  ASSERT_TRUE(platform_.GetPreparsedData(h, data));
  ASSERT_EQ(data.Caps.InputReportByteLength, 9);
  std::array<std::uint8_t, 9> buf;
  buf.fill(0xAA);
  std::uint32_t error = 0;
  ASSERT_TRUE(platform_.StartRead(h, buf.data(), buf.size(), error));
  ASSERT_EQ(platform_.WaitRead(h, 60000), HidWaitResult::Completed);
  std::uint32_t n = 0;
  ASSERT_TRUE(platform_.GetReadResult(h, n));
  EXPECT_EQ(n, 9u);
  for (std::uint8_t b : buf) EXPECT_EQ(b, 0);
  // A read handle does not write.
  std::uint32_t written = 0;
  EXPECT_FALSE(platform_.Write(h, buf.data(), buf.size(), written));
  platform_.Close(h);
}

TEST_F(LinuxHidPlatformTest, CloseFromAnotherThreadEndsTheReadAndFreesTheNodeAfterTheReader) {
  AddUsbDriverAsNull();
  const std::size_t descriptors = OpenDescriptorCount();
  const HidHandle h = platform_.Open("/dev/null", HidOpenMode::Read);
  ASSERT_NE(h, kInvalidHidHandle);
  std::array<std::uint8_t, 64> buf{};
  std::uint32_t error = 0;
  // /dev/null ends at once, as an unplugged node does: the first read fails with 0 bytes.
  ASSERT_TRUE(platform_.StartRead(h, buf.data(), buf.size(), error));
  ASSERT_EQ(platform_.WaitRead(h, 60000), HidWaitResult::Completed);
  std::uint32_t n = 1;
  EXPECT_FALSE(platform_.GetReadResult(h, n));
  EXPECT_EQ(n, 0u);

  // The next read waits until the handle is closed from the other thread.
  ASSERT_TRUE(platform_.StartRead(h, buf.data(), buf.size(), error));
  std::atomic<bool> waiting{false};
  HidWaitResult result = HidWaitResult::Pending;
  bool ok = true;
  std::uint32_t bytes = 1;
  std::thread reader([&] {
    waiting = true;
    result = platform_.WaitRead(h, 60000);
    ok = platform_.GetReadResult(h, bytes);
  });
  while (!waiting) std::this_thread::yield();
  platform_.Close(h);
  reader.join();
  EXPECT_EQ(result, HidWaitResult::Completed);
  EXPECT_FALSE(ok);
  EXPECT_EQ(bytes, 0u);
  EXPECT_EQ(OpenDescriptorCount(), descriptors);  // node and eventfd both closed
  EXPECT_EQ(platform_.WaitRead(h, 60000), HidWaitResult::Completed);
}

TEST_F(LinuxHidPlatformTest, HandlesAreNeverReused) {
  AddUsbDriverAsNull();
  const HidHandle a = platform_.Open("/dev/null", HidOpenMode::Identify);
  platform_.Close(a);
  const HidHandle b = platform_.Open("/dev/null", HidOpenMode::Identify);
  ASSERT_NE(b, kInvalidHidHandle);
  EXPECT_NE(a, b);
  THidAttributes attributes;
  EXPECT_FALSE(platform_.GetAttributes(a, attributes));  // a stale handle stays dead
  EXPECT_TRUE(platform_.GetAttributes(b, attributes));
}

// The real system: this machine may have no HID device at all, which is a fine answer.
TEST(LinuxHidPlatformHost, EnumerationListsHidrawNodesInInstanceOrder) {
  LinuxHidPlatform platform;
  ASSERT_TRUE(platform.HidServicesPresent());
  std::vector<HidInterfaceInfo> found{{"stale", 1}};
  ASSERT_TRUE(platform.EnumerateInterfaces(found));
  for (std::size_t i = 0; i < found.size(); ++i) {
    EXPECT_EQ(found[i].Path.rfind("/dev/", 0), 0u) << found[i].Path;
    if (i > 0) {
      EXPECT_LT(found[i - 1].Instance, found[i].Instance);
    }
    const HidHandle h = platform.Open(found[i].Path, HidOpenMode::Identify);
    ASSERT_NE(h, kInvalidHidHandle) << found[i].Path;
    THidAttributes attributes;
    EXPECT_TRUE(platform.GetAttributes(h, attributes));
    platform.Close(h);
  }
  std::cout << "hidraw nodes on this machine: " << found.size() << "\n";
}

TEST(LinuxHidPlatformHost, ChangeWatchReleasesItsSocketWhenCleared) {
  static int argc = 1;
  static char name[] = "zrv_link_linux_test";
  static char* argv[] = {name, nullptr};
  if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
  LinuxHidPlatform platform;
  const std::size_t descriptors = OpenDescriptorCount();
  int calls = 0;
  platform.SetChangeNotification([&] { ++calls; });
  EXPECT_EQ(OpenDescriptorCount(), descriptors + 1);  // the udev monitor's socket
  platform.SetChangeNotification([&] { calls += 10; });  // replacing keeps the one socket
  EXPECT_EQ(OpenDescriptorCount(), descriptors + 1);
  platform.SetChangeNotification({});
  QCoreApplication::processEvents();
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace zrv
