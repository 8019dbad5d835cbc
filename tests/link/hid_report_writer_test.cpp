// The writer thread of a device behind a device that stops taking reports: a full queue, outcomes
// on the UI thread, and the device object destroyed mid-stall. (Order and dropped polls are
// checked through the window, in the end-to-end tests.)
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "link/hid_device.h"
#include "link/hid_device_controller.h"
#include "support/run_until.h"
#include "link_test_util.h"

namespace zrv::test {
namespace {

using Kind = THidReportWriter::Kind;

struct Outcomes {
  std::vector<std::pair<std::uint32_t, bool>> seen;
  bool onMainThread = true;
  std::thread::id main = std::this_thread::get_id();
  void OnDone(std::uint32_t tag, bool written) {
    seen.emplace_back(tag, written);
    onMainThread = onMainThread && std::this_thread::get_id() == main;
  }
};

std::vector<std::uint8_t> Bytes(std::uint8_t code) {
  std::vector<std::uint8_t> report = Report(1, 65, 0);
  report[1] = code;
  return report;
}

THidPostResult Post(THidDevice& device, std::uint8_t code, Kind kind, std::uint32_t tag = 0) {
  const std::vector<std::uint8_t> report = Bytes(code);
  return device.PostReport(report.data(), report.size(), kind, tag);
}

class Writer : public ::testing::Test {
 protected:
  void SetUp() override {
    SimHidDeviceConfig config = DeviceConfig(1);
    config.WriteStallMs = 5000;
    sim = platform.Plug(config);
    controller = std::make_unique<THidDeviceController>(platform);
    ASSERT_TRUE(RunUntil([&] { return controller->Count() == 1; }));
    ASSERT_TRUE(controller->ClaimByIndex(device, 0));
    device->SetOnWriteDone(THidWriteDoneEvent(&outcomes, &Outcomes::OnDone));
  }
  void TearDown() override {
    sim->ReleaseStalledWrites();
    device.reset();
    controller.reset();
  }
  // Posts a poll and waits until the writer is stuck in it.
  void StallOnAPoll() {
    ASSERT_EQ(Post(*device, 11, Kind::Poll), THidPostResult::Taken);
    ASSERT_TRUE(WaitWithoutEvents([&] { return sim->StalledWrites() == 1; }));
  }

  SimHidPlatform platform;
  std::shared_ptr<SimHidDevice> sim;
  std::unique_ptr<THidDeviceController> controller;
  std::unique_ptr<THidDevice> device;
  Outcomes outcomes;
};

TEST_F(Writer, RefusedAndUnwrittenReportsAreReportedAndAFullQueueRefuses) {
  StallOnAPoll();
  std::uint32_t tag = 1;
  for (; tag <= THidReportWriter::kSlots - 1; ++tag) {
    ASSERT_EQ(Post(*device, 148, Kind::Kept, tag), THidPostResult::Taken) << tag;
  }
  // The stalled poll holds one slot: the queue is full now, and says so rather than lose one.
  EXPECT_EQ(Post(*device, 148, Kind::Kept, tag), THidPostResult::Refused);

  // The stall times out as the kernel's does: refused. The device then refuses everything.
  sim->SetFailWrites(true);
  sim->ReleaseStalledWrites();
  ASSERT_TRUE(WaitWithoutEvents([&] { return !device->WritesPending(); }));
  ASSERT_TRUE(RunUntil([&] { return outcomes.seen.size() == THidReportWriter::kSlots - 1; }));
  for (std::size_t i = 0; i < outcomes.seen.size(); ++i) {
    EXPECT_EQ(outcomes.seen[i], std::make_pair(static_cast<std::uint32_t>(i + 1), false));
  }
}

TEST_F(Writer, DestroyingTheDeviceMidStallNeitherWaitsNorLosesTheOutcome) {
  StallOnAPoll();
  ASSERT_EQ(Post(*device, 148, Kind::Kept, 7), THidPostResult::Taken);
  // Handed back while its writer is stuck: the controller keeps the writer, nothing waits.
  device.reset();
  EXPECT_EQ(controller->FinishingWriters(), 1u);
  EXPECT_EQ(sim->StalledWrites(), 1);
  // Unplugging ends the stalled write; the settings report behind it is never written, and
  // that is said.
  platform.Unplug(sim);
  ASSERT_TRUE(WaitWithoutEvents([&] { return sim->StalledWrites() == 0; }));
  ASSERT_TRUE(RunUntil([&] { return !outcomes.seen.empty(); }, 3000));
  EXPECT_EQ(outcomes.seen, (std::vector<std::pair<std::uint32_t, bool>>{{7, false}}));
  EXPECT_EQ(sim->WriteCount(), 0);
  // The next scan lets the finished writer go.
  platform.AnnounceChange();
  ASSERT_TRUE(RunUntil([&] { return controller->FinishingWriters() == 0; }));
  EXPECT_EQ(sim->OpenHandleCount(), 0);
}

}  // namespace
}  // namespace zrv::test
