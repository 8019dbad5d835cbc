// The simulated platform itself: what the link layer relies on from any platform.
#include "link/platform/sim/sim_hid_platform.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/run_until.h"
#include "link_test_util.h"

namespace zrv {
namespace {

using test::DeviceConfig;
using test::Report;

class Echo : public ISimHidModel {
 public:
  void OnOutputReport(SimHidDevice& device, const std::uint8_t* report, std::size_t length) override {
    device.InjectInputReport(report, length);  // answers from inside the write
  }
};

std::vector<std::uint8_t> ReadOne(SimHidPlatform& platform, HidHandle handle, std::size_t length) {
  std::vector<std::uint8_t> buffer(length);
  std::uint32_t error = 0;
  EXPECT_TRUE(platform.StartRead(handle, buffer.data(), buffer.size(), error));
  EXPECT_EQ(platform.WaitRead(handle, 10000), HidWaitResult::Completed);
  std::uint32_t bytes = 0;
  EXPECT_TRUE(platform.GetReadResult(handle, bytes));
  buffer.resize(bytes);
  return buffer;
}

TEST(SimHidPlatformTest, TheInputQueueIsBoundedAndDropsTheOldest) {
  SimHidPlatform platform;
  SimHidDeviceConfig config = DeviceConfig(1);
  config.InputQueueCapacity = 4;
  auto sim = platform.Plug(config);
  for (std::uint8_t i = 1; i <= 6; ++i) {
    const auto report = Report(1, 65, i);
    sim->InjectInputReport(report.data(), report.size());
  }
  EXPECT_EQ(sim->QueuedInputReports(), 4);
  EXPECT_EQ(sim->DroppedInputReports(), 2);
  const HidHandle handle = platform.Open(sim->Path(), HidOpenMode::Read);
  EXPECT_EQ(ReadOne(platform, handle, 65), Report(1, 65, 3));
  EXPECT_EQ(ReadOne(platform, handle, 10).size(), 10u);  // a short buffer cuts the report
  platform.Close(handle);
}

TEST(SimHidPlatformTest, ClosingFromAnotherThreadEndsAWaitingRead) {
  SimHidPlatform platform;
  auto sim = platform.Plug(DeviceConfig(1));
  const HidHandle handle = platform.Open(sim->Path(), HidOpenMode::Read);
  std::vector<std::uint8_t> buffer(65);
  std::uint32_t error = 0;
  ASSERT_TRUE(platform.StartRead(handle, buffer.data(), buffer.size(), error));
  HidWaitResult result = HidWaitResult::Pending;
  std::uint32_t bytes = 99;
  bool ok = true;
  std::thread reader([&] {
    result = platform.WaitRead(handle, 10000);
    ok = platform.GetReadResult(handle, bytes);
  });
  ASSERT_TRUE(test::WaitWithoutEvents([&] { return sim->WaitingReads() == 1; }));
  platform.Close(handle);
  reader.join();
  EXPECT_EQ(result, HidWaitResult::Completed);
  EXPECT_FALSE(ok);
  EXPECT_EQ(bytes, 0u);
}

TEST(SimHidPlatformTest, UnplugEndsReadsAndRefusesEverythingAfter) {
  SimHidPlatform platform;
  auto sim = platform.Plug(DeviceConfig(1));
  const HidHandle reading = platform.Open(sim->Path(), HidOpenMode::Read);
  const HidHandle query = platform.Open(sim->Path(), HidOpenMode::ReadWrite);
  std::vector<std::uint8_t> buffer(65);
  std::uint32_t error = 0;
  ASSERT_TRUE(platform.StartRead(reading, buffer.data(), buffer.size(), error));
  platform.Unplug(sim);
  EXPECT_EQ(platform.WaitRead(reading, 10000), HidWaitResult::Completed);
  std::uint32_t bytes = 0;
  EXPECT_FALSE(platform.GetReadResult(reading, bytes));
  EXPECT_FALSE(platform.StartRead(reading, buffer.data(), buffer.size(), error));
  EXPECT_EQ(error, SimHidPlatform::kErrorDeviceNotConnected);
  std::uint32_t written = 0;
  EXPECT_FALSE(platform.Write(query, buffer.data(), buffer.size(), written));
  THidAttributes attributes;
  EXPECT_FALSE(platform.GetAttributes(query, attributes));
  EXPECT_EQ(platform.Open(sim->Path(), HidOpenMode::Identify), kInvalidHidHandle);
  std::vector<HidInterfaceInfo> present;
  EXPECT_TRUE(platform.EnumerateInterfaces(present));
  EXPECT_TRUE(present.empty());
}

TEST(SimHidPlatformTest, WritesReachTheModelWholeAndNeedReadWriteAccess) {
  SimHidPlatform platform;
  auto sim = platform.Plug(DeviceConfig(1), std::make_shared<Echo>());
  const HidHandle identify = platform.Open(sim->Path(), HidOpenMode::Identify);
  const HidHandle query = platform.Open(sim->Path(), HidOpenMode::ReadWrite);
  const HidHandle reading = platform.Open(sim->Path(), HidOpenMode::Read);
  const auto report = Report(1, 65, 20);
  std::uint32_t written = 0;
  EXPECT_FALSE(platform.Write(identify, report.data(), report.size(), written));
  ASSERT_TRUE(platform.Write(query, report.data(), report.size(), written));
  EXPECT_EQ(written, 65u);
  EXPECT_EQ(ReadOne(platform, reading, 65), report);
  EXPECT_EQ(sim->WriteCount(), 1);
  EXPECT_EQ(sim->WriteAttempts(), 2);
}

TEST(SimHidPlatformTest, ProductStringFillsAtMostTheBuffer) {
  SimHidPlatform platform;
  auto sim = platform.Plug(DeviceConfig(1, std::u16string(300, u'x')));
  const HidHandle handle = platform.Open(sim->Path(), HidOpenMode::Identify);
  char16_t buffer[255];
  buffer[254] = u'!';
  ASSERT_TRUE(platform.GetProductString(handle, buffer, 254 * sizeof(char16_t)));
  EXPECT_EQ(buffer[253], u'x');
  EXPECT_EQ(buffer[254], u'!');  // not one unit past the given size
}

TEST(SimHidPlatformTest, ChangesFromAnyThreadArriveOnTheRegisteringThread) {
  SimHidPlatform platform;
  const auto main = std::this_thread::get_id();
  int calls = 0;
  bool elsewhere = false;
  platform.SetChangeNotification([&] {
    ++calls;
    elsewhere = elsewhere || std::this_thread::get_id() != main;
  });
  std::thread other([&] {
    auto sim = platform.Plug(DeviceConfig(1));
    platform.Unplug(sim);
    platform.AnnounceChange();
  });
  other.join();
  ASSERT_TRUE(test::RunUntil([&] { return calls == 3; }));
  EXPECT_FALSE(elsewhere);
  platform.SetChangeNotification(nullptr);
  platform.AnnounceChange();
  test::RunRounds(10);
  EXPECT_EQ(calls, 3);
}

}  // namespace
}  // namespace zrv
