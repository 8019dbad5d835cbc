#include "link/platform/linux/linux_hid_platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <array>
#include <atomic>
#include <cerrno>
#include <functional>
#include <iostream>
#include <set>
#include <thread>

#include "fake_sysfs.h"

namespace zrv {
namespace {

namespace fs = std::filesystem;
using test::FakeSysfs;

std::size_t OpenDescriptorCount() {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

const std::string kUhidUevent = "HID_ID=0003:00001234:00005678\nHID_NAME=ZRVXXX\n";

// /dev/null (1:3) and /dev/zero (1:5) stand in for hidraw nodes: the fake sysfs says what they
// are, the real files give the read and write behaviour.
class LinuxHidPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string product = "ZRVXXX\n";
    sysfs_.AddUsbDevice("pci0/usb1/1-4", &product, "0102\n");
    sysfs_.AddHidraw(1, 3, "pci0/usb1/1-4/1-4:1.0", "0003:1234:5678.000A",
                     "HID_ID=0003:00001234:00005678\nHID_NAME=Maker ZRVXXX\n",
                     test::kDriverDescriptor);
    sysfs_.AddHidraw(1, 5, "virtual/misc/uhid", "0003:1234:5678.0005", kUhidUevent,
                     test::kKeyboardDescriptor);
  }

  FakeSysfs sysfs_;
  LinuxHidPlatform platform_{sysfs_.Root()};
};

TEST_F(LinuxHidPlatformTest, IdentifyHandleAnswersFromSysfsAndNothingElse) {
  const HidHandle h = platform_.Open("/dev/null", HidOpenMode::Identify);
  ASSERT_NE(h, kInvalidHidHandle);
  THidAttributes attributes;
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
  std::uint32_t count = 0;
  EXPECT_TRUE(platform_.SetNumInputBuffers(h, 2));
  ASSERT_TRUE(platform_.GetNumInputBuffers(h, count));
  EXPECT_EQ(count, 64u);  // hidraw's fixed queue, whatever was set

  std::uint8_t report[64] = {1, 10};
  std::uint32_t written = 3, error = 0;
  EXPECT_FALSE(platform_.Write(h, report, sizeof report, written));
  EXPECT_EQ(written, 0u);
  EXPECT_FALSE(platform_.StartRead(h, report, sizeof report, error));
  EXPECT_EQ(error, static_cast<std::uint32_t>(EBADF));

  // A closed number refuses every call (the numbering itself is the handle table's).
  platform_.Close(h);
  EXPECT_EQ(platform_.OpenHandleCount(), 0u);
  EXPECT_FALSE(platform_.GetAttributes(h, attributes));
  EXPECT_FALSE(platform_.GetPreparsedData(h, data));
}

struct IdentityCase {
  const char* Parent;
  const char* HidName;
  std::string Uevent;
  std::u16string Product;  // empty: none
  std::uint16_t Version;
};

TEST_F(LinuxHidPlatformTest, ProductStringAndVersionComeFromTheRightPlace) {
  const std::string dongle = "Radio\n";
  sysfs_.AddUsbDevice("pci0/usb1/1-2", &dongle, "0200\n");
  sysfs_.AddUsbDevice("pci0/usb1/1-3", nullptr, "zz\n");
  const IdentityCase cases[] = {
      // uhid: no USB parent, the HID name is the product string.
      {"virtual/misc/uhid", "0003:1234:5678.0001", kUhidUevent, u"ZRVXXX", 0},
      // Bluetooth behind a USB dongle: the dongle's name is not the device's.
      {"pci0/usb1/1-2/1-2:1.0/bluetooth/hci0/hci0:256", "0005:046D:B01A.0009",
       "HID_ID=0005:0000046D:0000B01A\nHID_NAME=BT Mouse\n", u"BT Mouse", 0},
      // USB without a product string: none, rather than the made-up HID name.
      {"pci0/usb1/1-3/1-3:1.0", "0003:1234:5678.000B",
       "HID_ID=0003:00001234:00005678\nHID_NAME=x\n", u"", 0},
      // Longer than 254 units: cut at the buffer.
      {"virtual/misc/uhid", "0003:1234:5678.0002",
       "HID_ID=0003:00001234:00005678\nHID_NAME=" + std::string(300, 'n') + "\n",
       std::u16string(254, u'n'), 0},
      // Not UTF-8: refused.
      {"virtual/misc/uhid", "0003:1234:5678.0003",
       "HID_ID=0003:00001234:00005678\nHID_NAME=bad\xC3(\n", u"", 0},
  };
  for (const IdentityCase& c : cases) {
    sysfs_.AddHidraw(1, 3, c.Parent, c.HidName, c.Uevent, test::kDriverDescriptor);
    const HidHandle h = platform_.Open("/dev/null", HidOpenMode::Identify);
    THidAttributes attributes;
    ASSERT_TRUE(platform_.GetAttributes(h, attributes)) << c.HidName;
    EXPECT_EQ(attributes.VersionNumber, c.Version) << c.HidName;
    std::array<char16_t, 256> text;
    text.fill(u'#');
    EXPECT_EQ(platform_.GetProductString(h, text.data(), 508), !c.Product.empty()) << c.HidName;
    if (!c.Product.empty()) {
      EXPECT_EQ(std::u16string(text.data(), c.Product.size() + 1),
                c.Product + (c.Product.size() < 254 ? u'\0' : u'#')) << c.HidName;
    }
    platform_.Close(h);
  }
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
  std::array<char16_t, 254> text{};
  ASSERT_TRUE(platform_.GetProductString(h, text.data(), 508));
  EXPECT_EQ(std::u16string(text.data()), u"ZRVXXX");
}

TEST_F(LinuxHidPlatformTest, FailedOpensLeaveNothingOpen) {
  const std::size_t descriptors = OpenDescriptorCount();
  const fs::path regular = sysfs_.Root() / "regular";
  FakeSysfs::WriteFile(regular, "x");
  for (HidOpenMode mode : {HidOpenMode::ReadWrite, HidOpenMode::Identify, HidOpenMode::Read}) {
    EXPECT_EQ(platform_.Open("/dev/no-such-hidraw", mode), kInvalidHidHandle);
    EXPECT_EQ(platform_.Open(regular, mode), kInvalidHidHandle);
    EXPECT_EQ(platform_.Open("/dev/full", mode), kInvalidHidHandle);  // no sysfs entry for 1:7
  }
  // Without a descriptor reads cannot be framed: such a node is for identification only.
  sysfs_.AddHidraw(1, 3, "virtual/misc/uhid", "0003:1234:5678.0004", kUhidUevent, {0xA1, 0x01});
  EXPECT_EQ(platform_.Open("/dev/null", HidOpenMode::ReadWrite), kInvalidHidHandle);
  EXPECT_EQ(platform_.Open("/dev/null", HidOpenMode::Read), kInvalidHidHandle);
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
  EXPECT_EQ(platform_.OpenHandleCount(), 0u);
}

TEST_F(LinuxHidPlatformTest, ReadWriteHandleWritesAndReadHandleReads) {
  const HidHandle rw = platform_.Open("/dev/null", HidOpenMode::ReadWrite);
  std::uint8_t report[64] = {1, 10};
  std::uint32_t written = 0, error = 0, n = 0;
  ASSERT_TRUE(platform_.Write(rw, report, sizeof report, written));
  EXPECT_EQ(written, 64u);

  // /dev/zero always has data; its descriptor has no report IDs: 8 bytes behind a 0 ID.
  const HidHandle rd = platform_.Open("/dev/zero", HidOpenMode::Read);
  std::array<std::uint8_t, 9> buf;
  buf.fill(0xAA);
  ASSERT_TRUE(platform_.StartRead(rd, buf.data(), buf.size(), error));
  ASSERT_EQ(platform_.WaitRead(rd, 60000), HidWaitResult::Completed);
  ASSERT_TRUE(platform_.GetReadResult(rd, n));
  EXPECT_EQ(n, 9u);
  EXPECT_EQ(buf, (std::array<std::uint8_t, 9>{}));
  EXPECT_FALSE(platform_.Write(rd, buf.data(), buf.size(), written));  // read handles do not write
}

std::set<int> OpenDescriptors() {
  std::set<int> fds;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    fds.insert(std::stoi(entry.path().filename().string()));
  }
  std::erase_if(fds, [](int fd) { return ::fcntl(fd, F_GETFD) == -1; });  // the listing's own
  return fds;
}

// The access mode and O_NONBLOCK of the device file that `open` added (not its eventfd).
int FlagsOfNewDescriptor(const std::function<void()>& open) {
  const std::set<int> before = OpenDescriptors();
  open();
  for (int fd : OpenDescriptors()) {
    std::error_code ec;
    const fs::path target = fs::read_symlink("/proc/self/fd/" + std::to_string(fd), ec);
    if (before.count(fd) == 0 && target == "/dev/zero") {
      return ::fcntl(fd, F_GETFL) & (O_ACCMODE | O_NONBLOCK);
    }
  }
  return -1;
}

TEST_F(LinuxHidPlatformTest, ReaderSharesTheOpenFileOfTheWriteHandle) {
  // hidraw queues reports per open file: sharing is what keeps a quick reply for the reader.
  HidHandle rw = kInvalidHidHandle, rd = kInvalidHidHandle;
  EXPECT_EQ(FlagsOfNewDescriptor([&] { rw = platform_.Open("/dev/zero", HidOpenMode::ReadWrite); }),
            O_RDWR);
  EXPECT_EQ(FlagsOfNewDescriptor([&] { rd = platform_.Open("/dev/zero", HidOpenMode::Read); }),
            O_RDWR);
  // The shared file outlives the write handle and still reads, with the 0 ID in front.
  platform_.Close(rw);
  std::array<std::uint8_t, 9> buf;
  buf.fill(0xAA);
  std::uint32_t error = 0, n = 0;
  ASSERT_TRUE(platform_.StartRead(rd, buf.data(), buf.size(), error));
  ASSERT_EQ(platform_.WaitRead(rd, 60000), HidWaitResult::Completed);
  ASSERT_TRUE(platform_.GetReadResult(rd, n));
  EXPECT_EQ(n, 9u);
  EXPECT_EQ(buf, (std::array<std::uint8_t, 9>{}));
  // With no write handle open, the reader gets a file of its own.
  EXPECT_EQ(FlagsOfNewDescriptor([&] { platform_.Open("/dev/zero", HidOpenMode::Read); }),
            O_RDONLY | O_NONBLOCK);
}

TEST_F(LinuxHidPlatformTest, CloseFromAnotherThreadEndsTheReadAndFreesTheNodeAfterTheReader) {
  const std::size_t descriptors = OpenDescriptorCount();
  const HidHandle h = platform_.Open("/dev/null", HidOpenMode::Read);
  std::array<std::uint8_t, 64> buf{};
  std::uint32_t error = 0, bytes = 1;
  // /dev/null ends at once, as an unplugged node does: the first read fails with 0 bytes...
  ASSERT_TRUE(platform_.StartRead(h, buf.data(), buf.size(), error));
  ASSERT_EQ(platform_.WaitRead(h, 60000), HidWaitResult::Completed);
  EXPECT_FALSE(platform_.GetReadResult(h, bytes));
  // ...and the next one waits until the handle is closed from the other thread.
  ASSERT_TRUE(platform_.StartRead(h, buf.data(), buf.size(), error));
  std::atomic<bool> waiting{false};
  HidWaitResult result = HidWaitResult::Pending;
  bool ok = true;
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
    THidAttributes attributes;
    EXPECT_TRUE(platform.GetAttributes(h, attributes)) << found[i].Path;
    platform.Close(h);
  }
  std::cout << "hidraw nodes on this machine: " << found.size() << "\n";
}

TEST(LinuxHidPlatformHost, ChangeNotificationReleasesItsSocketWhenCleared) {
  static int argc = 1;
  static char name[] = "zrv_link_linux_test";
  static char* argv[] = {name, nullptr};
  if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
  LinuxHidPlatform platform;
  const std::size_t descriptors = OpenDescriptorCount();
  platform.SetChangeNotification([] {});
  platform.SetChangeNotification([] {});  // replacing keeps the one monitor
  EXPECT_EQ(OpenDescriptorCount(), descriptors + 1);
  platform.SetChangeNotification({});
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
}

}  // namespace
}  // namespace zrv
