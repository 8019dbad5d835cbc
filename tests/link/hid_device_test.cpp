// Device objects and their readers on the simulated platform, with real reader threads.
#include "link/hid_device.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "link/hid_device_controller.h"
#include "support/run_until.h"
#include "link_test_util.h"

namespace zrv {
namespace {

using test::DeviceConfig;
using test::Recorder;
using test::Report;
using test::RunRounds;
using test::RunUntil;
using test::WaitWithoutEvents;

class DeviceTest : public ::testing::Test {
 protected:
  // Builds the controller and lets its first scan run.
  void Start() {
    controller = std::make_unique<THidDeviceController>(platform);
    ASSERT_TRUE(RunUntil([&] { return platform.EnumerationCount() > 0; }));
  }
  std::unique_ptr<THidDevice> Claim(int index) {
    std::unique_ptr<THidDevice> device;
    EXPECT_TRUE(controller->ClaimByIndex(device, index));
    return device;
  }
  // Rescan after a plug change and wait until it has run.
  void Rescan() {
    const int before = platform.EnumerationCount();
    platform.AnnounceChange();
    ASSERT_TRUE(RunUntil([&] { return platform.EnumerationCount() > before; }));
  }

  SimHidPlatform platform;
  std::unique_ptr<THidDeviceController> controller;
  Recorder recorder;
};

TEST_F(DeviceTest, RefusedReadWriteAccessIsListedButNeverRead) {
  SimHidDeviceConfig config = DeviceConfig(1);
  config.RefuseReadWrite = true;
  auto sim = platform.Plug(config);
  Start();
  ASSERT_EQ(controller->Count(), 1);

  std::u16string product;
  controller->SetOnEnumerate([&](THidDevice* dev, int) {
    product = dev->GetProductString();
    return true;
  });
  EXPECT_EQ(controller->EnumerateDevices(), 1);
  EXPECT_EQ(product, u"ZRVXXX");

  controller->SetOnDeviceData(recorder.DataHandler());
  auto device = Claim(0);
  EXPECT_FALSE(device->ReadWriteAccess());
  EXPECT_EQ(device->HidAttributes().VendorID, 0x0ABC);
  EXPECT_EQ(device->HidAttributes().ProductID, 0x0012);
  EXPECT_EQ(device->OnData(), recorder.DataHandler());
  EXPECT_FALSE(device->ReaderRunning());
  device->SetOnData(recorder.DataHandler());
  EXPECT_FALSE(device->ReaderRunning());
  std::uint32_t written = 0;
  const std::uint8_t report[65] = {1, 10};
  EXPECT_FALSE(device->WriteReport(report, sizeof report, written));
  EXPECT_EQ(sim->OpenCount(HidOpenMode::Read), 0);
}

TEST_F(DeviceTest, CreationFailsWhenTheDeviceCannotBeOpenedOrIdentified) {
  SimHidDeviceConfig closed = DeviceConfig(1);
  closed.RefuseOpen = true;
  SimHidDeviceConfig anonymous = DeviceConfig(2);
  anonymous.FailIdentify = true;
  auto a = platform.Plug(closed);
  auto b = platform.Plug(anonymous);
  auto make = [&](const std::shared_ptr<SimHidDevice>& sim) {
    return THidDevice(platform, std::make_unique<THidPnPInfo>(THidPnPInfo{sim->Instance(), sim->Path()}),
                      nullptr);
  };
  try {
    make(a);
    FAIL() << "opened";
  } catch (const EControllerError& e) {
    EXPECT_STREQ(e.what(), "Device cannot be opened");
  }
  try {
    make(b);
    FAIL() << "identified";
  } catch (const EControllerError& e) {
    EXPECT_STREQ(e.what(), "Device cannot be identified");
  }
  EXPECT_EQ(b->OpenHandleCount(), 0);  // the failed creation closed what it opened
  Start();
  EXPECT_EQ(controller->Count(), 0);
}

TEST_F(DeviceTest, ReportsArriveOnTheUiThreadWithTheIdSplitOff) {
  auto sim = platform.Plug(DeviceConfig(1));
  Start();
  auto device = Claim(0);
  device->SetOnData(recorder.DataHandler());
  ASSERT_TRUE(device->ReaderRunning());
  EXPECT_EQ(device->Reader()->ReportBufferSize(), 65u);

  const auto unnumbered = Report(0, 65, 7);
  const std::uint8_t empty[1] = {0};
  const std::uint8_t idOnly[1] = {5};
  sim->InjectInputReport(unnumbered.data(), unnumbered.size());
  sim->InjectInputReport(empty, 0);  // completes with 0 bytes: nothing delivered
  sim->InjectInputReport(idOnly, 1);
  ASSERT_TRUE(RunUntil([&] { return recorder.deliveries.size() >= 2; }));
  RunRounds(20);
  ASSERT_EQ(recorder.deliveries.size(), 2u);
  const auto& first = recorder.deliveries[0];
  EXPECT_EQ(first.device, device.get());
  EXPECT_EQ(first.reportId, 0);
  EXPECT_EQ(first.data, std::vector<std::uint8_t>(unnumbered.begin() + 1, unnumbered.end()));
  EXPECT_TRUE(first.onMainThread);
  EXPECT_EQ(recorder.deliveries[1].reportId, 5);
  EXPECT_TRUE(recorder.deliveries[1].data.empty());
}

TEST_F(DeviceTest, ProductStringIsCachedOnlyWhenNotEmpty) {
  SimHidDeviceConfig config = DeviceConfig(1, u"");
  auto sim = platform.Plug(config);
  Start();
  auto device = Claim(0);
  EXPECT_EQ(device->GetProductString(), u"");
  EXPECT_EQ(device->GetProductString(), u"");
  EXPECT_EQ(sim->ProductStringQueries(), 2);

  sim->SetProductString(std::u16string(254, u'A'));  // fills the buffer: no terminator
  EXPECT_EQ(device->GetProductString(), std::u16string(254, u'A'));
  sim->SetProductString(u"Other");
  EXPECT_EQ(device->GetProductString(), std::u16string(254, u'A'));
  EXPECT_EQ(sim->ProductStringQueries(), 3);
  EXPECT_EQ(sim->OpenHandleCount(), 0);  // each query closes what it opened
}

TEST_F(DeviceTest, UnclaimedDeviceOutsideAnEventOpensNothing) {
  auto sim = platform.Plug(DeviceConfig(1));
  Start();
  THidDevice* device = controller->Device(0);
  const int opens = sim->OpenCount();
  EXPECT_EQ(device->GetProductString(), u"");
  EXPECT_EQ(device->GetCapabilities().OutputReportByteLength, 0);
  EXPECT_EQ(sim->OpenCount(), opens);
}

TEST_F(DeviceTest, CapabilitiesAreFetchedOnceAndZeroWithoutDescriptor) {
  SimHidDeviceConfig bare = DeviceConfig(2);
  bare.FailPreparsedData = true;
  auto sim = platform.Plug(DeviceConfig(1));
  auto simBare = platform.Plug(bare);
  Start();
  auto device = Claim(0);
  auto deviceBare = Claim(1);
  EXPECT_EQ(device->GetCapabilities().OutputReportByteLength, 65);
  EXPECT_EQ(device->GetCapabilities().InputReportByteLength, 65);
  EXPECT_EQ(sim->PreparsedDataQueries(), 1);
  const THidCaps caps = deviceBare->GetCapabilities();
  EXPECT_EQ(caps.InputReportByteLength, 0);
  EXPECT_EQ(caps.OutputReportByteLength, 0);
  EXPECT_EQ(caps.UsagePage, 0);
}

TEST_F(DeviceTest, ReadSliceTimeTakesOnlyTenToTenThousand) {
  platform.Plug(DeviceConfig(1));
  Start();
  THidDevice* device = controller->Device(0);
  EXPECT_EQ(device->ReadSliceTime(), 100);
  device->SetReadSliceTime(9);
  device->SetReadSliceTime(10001);
  EXPECT_EQ(device->ReadSliceTime(), 100);
  device->SetReadSliceTime(10);
  EXPECT_EQ(device->ReadSliceTime(), 10);
  device->SetReadSliceTime(10000);
  EXPECT_EQ(device->ReadSliceTime(), 10000);
}

TEST_F(DeviceTest, SameHandlerTwiceKeepsOneReader) {
  auto sim = platform.Plug(DeviceConfig(1));
  Start();
  auto device = Claim(0);
  device->SetOnData(recorder.DataHandler());
  const THidDeviceReadThread* reader = device->Reader();
  device->SetOnData(recorder.DataHandler());
  EXPECT_EQ(device->Reader(), reader);
  const auto report = Report(1, 65, 0);
  sim->InjectInputReport(report.data(), report.size());
  ASSERT_TRUE(RunUntil([&] { return recorder.deliveries.size() == 1; }));
  EXPECT_EQ(sim->OpenCount(HidOpenMode::Read), 1);
}

TEST_F(DeviceTest, ClearingTheHandlerServesThePendingReportThenNothingFollows) {
  auto sim = platform.Plug(DeviceConfig(1));
  Start();
  auto device = Claim(0);
  device->SetReadSliceTime(10);
  device->SetOnData(recorder.DataHandler());
  const auto report = Report(1, 65, 3);
  sim->InjectInputReport(report.data(), report.size());
  sim->InjectInputReport(report.data(), report.size());
  // Without running the loop the reader is now blocked in its hand-off of the first report.
  ASSERT_TRUE(WaitWithoutEvents([&] { return device->Reader()->BytesRead() == 65; }));
  device->SetOnData(nullptr);
  EXPECT_FALSE(device->ReaderRunning());
  EXPECT_EQ(recorder.deliveries.size(), 1u);  // the old handler ran while the UI thread waited
  sim->InjectInputReport(report.data(), report.size());
  RunRounds(30);
  EXPECT_EQ(recorder.deliveries.size(), 1u);
}

TEST_F(DeviceTest, AThrowingHandlerServedWhileStoppingDoesNotEscapeTheStop) {
  auto sim = platform.Plug(DeviceConfig(1));
  Start();
  auto device = Claim(0);
  recorder.after = [](THidDevice*) { throw std::runtime_error("handler failed"); };
  device->SetOnData(recorder.DataHandler());
  const auto report = Report(1, 65, 3);
  sim->InjectInputReport(report.data(), report.size());
  ASSERT_TRUE(WaitWithoutEvents([&] { return device->Reader()->BytesRead() == 65; }));
  EXPECT_NO_THROW(device.reset());
  EXPECT_EQ(recorder.deliveries.size(), 1u);
  EXPECT_EQ(controller->Count(), 1);
}

TEST_F(DeviceTest, ClearingUnderAFloodFromAnotherThread) {
  auto sim = platform.Plug(DeviceConfig(1));
  Start();
  auto device = Claim(0);
  device->SetReadSliceTime(10);
  std::atomic<bool> stop{false};
  std::thread flood([&] {
    const auto report = Report(2, 65, 1);
    while (!stop.load()) {
      sim->InjectInputReport(report.data(), report.size());
      std::this_thread::yield();
    }
  });
  for (int cycle = 0; cycle < 20; ++cycle) {
    const std::size_t before = recorder.deliveries.size();
    device->SetOnData(recorder.DataHandler());
    ASSERT_TRUE(RunUntil([&] { return recorder.deliveries.size() > before + 3; }));
    device->SetOnData(nullptr);
    const std::size_t atClear = recorder.deliveries.size();
    RunRounds(3);
    ASSERT_EQ(recorder.deliveries.size(), atClear) << "a delivery after the handler was cleared";
  }
  stop = true;
  flood.join();
  EXPECT_EQ(sim->OpenCount(HidOpenMode::Read), 1);  // the read handle is kept for the object's life
}

TEST_F(DeviceTest, AHandlerMayStopItsOwnReaderOrReleaseItsOwnDevice) {
  auto sim = platform.Plug(DeviceConfig(1));
  Start();
  auto device = Claim(0);
  device->SetReadSliceTime(10);
  recorder.after = [&](THidDevice* dev) { dev->SetOnData(nullptr); };
  device->SetOnData(recorder.DataHandler());
  const auto report = Report(1, 65, 0);
  sim->InjectInputReport(report.data(), report.size());
  sim->InjectInputReport(report.data(), report.size());
  ASSERT_TRUE(RunUntil([&] { return !device->ReaderRunning(); }));
  RunRounds(20);
  EXPECT_EQ(recorder.deliveries.size(), 1u);

  // Now the holder destroys the device from inside its handler: it is handed back.
  recorder.after = [&](THidDevice*) { device.reset(); };
  device->SetOnData(recorder.DataHandler());
  ASSERT_TRUE(RunUntil([&] { return device == nullptr; }));
  EXPECT_EQ(recorder.deliveries.size(), 2u);
  ASSERT_EQ(controller->Count(), 1);
  EXPECT_FALSE(controller->Device(0)->IsClaimed());
}

// A report numbered in its first data byte.
std::vector<std::uint8_t> Numbered(int n) {
  auto report = Report(1, 65, 0);
  report[1] = static_cast<std::uint8_t>(n);
  return report;
}

TEST_F(DeviceTest, ABurstIsDeliveredInOrderWithOneWakeUpPerFullQueue) {
  SimHidDeviceConfig config = DeviceConfig(1);
  config.InputQueueCapacity = 200;
  auto sim = platform.Plug(config);
  Start();
  auto device = Claim(0);
  // All queued before the reader starts: its first read takes one, the rest wait behind it.
  for (int n = 0; n < 200; ++n) sim->InjectInputReport(Numbered(n).data(), 65);
  device->SetOnData(recorder.DataHandler());
  ASSERT_TRUE(RunUntil([&] { return recorder.deliveries.size() >= 200; }));
  RunRounds(10);
  ASSERT_EQ(recorder.deliveries.size(), 200u);
  for (std::size_t n = 0; n < 200; ++n) {
    ASSERT_EQ(recorder.deliveries[n].data[0], n) << "out of order or lost";
    ASSERT_EQ(recorder.deliveries[n].data.size(), 64u);
    ASSERT_TRUE(recorder.deliveries[n].onMainThread);
  }
  // One handed over plus at most 64 taken from the queue per wake-up: the event loop gets a turn
  // between bursts, and a burst does not cost a wake-up per report.
  EXPECT_EQ(device->Reader()->HandOffs(), 4u);
  EXPECT_EQ(sim->QueuedInputReports(), 0);
}

TEST_F(DeviceTest, AHandlerThatEndsItsDeliveriesMidBurstGetsNoMore) {
  auto sim = platform.Plug(DeviceConfig(1));
  Start();
  auto device = Claim(0);
  device->SetReadSliceTime(10);
  const auto queue = [&] {
    for (int n = 0; n < 10; ++n) sim->InjectInputReport(Numbered(n).data(), 65);
  };
  recorder.after = [&](THidDevice* dev) {
    if (recorder.deliveries.size() == 3) dev->SetOnData(nullptr);
  };
  queue();
  device->SetOnData(recorder.DataHandler());
  ASSERT_TRUE(RunUntil([&] { return !device->ReaderRunning(); }));
  RunRounds(20);
  EXPECT_EQ(recorder.deliveries.size(), 3u);
  EXPECT_EQ(sim->QueuedInputReports(), 7);  // left where they were, not read and dropped

  // A holder that destroys its device from the handler mid-burst.
  recorder.deliveries.clear();
  recorder.after = [&](THidDevice*) {
    if (recorder.deliveries.size() == 1) device.reset();
  };
  device->SetOnData(recorder.DataHandler());
  ASSERT_TRUE(RunUntil([&] { return device == nullptr; }));
  RunRounds(20);
  EXPECT_EQ(recorder.deliveries.size(), 1u);

  // A handler that unplugs its device mid-burst: its read handle is closed, nothing more comes.
  device = Claim(0);
  ASSERT_NE(device, nullptr);
  recorder.deliveries.clear();
  recorder.after = [&](THidDevice* dev) {
    if (recorder.deliveries.size() == 2) dev->MarkUnplugged();
  };
  queue();
  device->SetOnData(recorder.DataHandler());
  ASSERT_TRUE(RunUntil([&] { return recorder.deliveries.size() >= 2; }));
  RunRounds(20);
  EXPECT_EQ(recorder.deliveries.size(), 2u);
  device->SetOnData(nullptr);
}

TEST_F(DeviceTest, WriteReportSendsOneWholeReportAndKeepsTheHandle) {
  auto sim = platform.Plug(DeviceConfig(1));
  Start();
  auto device = Claim(0);
  std::uint8_t report[65] = {1, 11};
  std::uint32_t written = 0;
  ASSERT_TRUE(device->WriteReport(report, sizeof report, written));
  EXPECT_EQ(written, 65u);
  ASSERT_TRUE(device->WriteReport(report, sizeof report, written));
  EXPECT_EQ(sim->WrittenReports().at(0), std::vector<std::uint8_t>(report, report + 65));
  EXPECT_EQ(sim->OpenCount(HidOpenMode::ReadWrite), 2);  // creation, then one for both writes
  EXPECT_EQ(sim->OpenHandleCount(), 1);

  sim->SetFailWrites(true);
  EXPECT_FALSE(device->WriteReport(report, sizeof report, written));
  EXPECT_EQ(written, 0u);
}

class Echo : public ISimHidModel {
 public:
  void OnOutputReport(SimHidDevice& device, const std::uint8_t* report, std::size_t length) override {
    device.InjectInputReport(report, length);
  }
};

struct WriteOutcomes {
  std::vector<std::pair<std::uint32_t, bool>> seen;
  void OnDone(std::uint32_t tag, bool written) { seen.emplace_back(tag, written); }
};

// Wine says a 65-byte report took 64 bytes (its ID byte not counted), Windows and Linux say 65:
// both are whole, reach the device and are answered. A count shorter still is a failure.
TEST_F(DeviceTest, AWriteCountedAsWineOrWindowsCountsIsWholeAndAShorterOneFails) {
  const SimWriteCount counts[] = {SimWriteCount::Whole, SimWriteCount::WithoutReportId,
                                  SimWriteCount::Short};
  std::vector<std::shared_ptr<SimHidDevice>> sims;
  for (std::uint32_t i = 0; i < 3; ++i) {
    SimHidDeviceConfig config = DeviceConfig(i + 1);
    config.ReportedWriteCount = counts[i];
    sims.push_back(platform.Plug(config, std::make_shared<Echo>()));
  }
  Start();
  const std::uint32_t expectedCount[] = {65, 64, 63};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const bool whole = i < 2;
    auto device = Claim(i);
    Recorder replies;
    WriteOutcomes outcomes;
    device->SetOnData(replies.DataHandler());
    device->SetOnWriteDone(THidWriteDoneEvent(&outcomes, &WriteOutcomes::OnDone));
    const auto report = Report(0, 65, 30);
    std::uint32_t written = 0;
    EXPECT_EQ(device->WriteReport(report.data(), report.size(), written), whole);
    EXPECT_EQ(written, expectedCount[i]);
    ASSERT_EQ(device->PostReport(report.data(), report.size(), THidReportWriter::Kind::Kept, 7),
              THidPostResult::Taken);
    ASSERT_TRUE(RunUntil([&] { return !outcomes.seen.empty(); }));
    EXPECT_EQ(outcomes.seen.front(), std::make_pair(7u, whole));
    if (whole) {
      ASSERT_TRUE(RunUntil([&] { return replies.deliveries.size() == 2; }));
    }
    RunRounds(20);
    EXPECT_EQ(replies.deliveries.size(), whole ? 2u : 0u);
    EXPECT_EQ(sims[static_cast<std::size_t>(i)]->WriteCount(), whole ? 2 : 0);
    device->SetOnData(nullptr);
  }
}

TEST_F(DeviceTest, WriteOnAnUnpluggedDeviceFailsAndOpensNothing) {
  auto sim = platform.Plug(DeviceConfig(1));
  Start();
  auto device = Claim(0);
  platform.Unplug(sim);
  ASSERT_TRUE(RunUntil([&] { return !device->IsAttached(); }));
  const int opens = sim->OpenCount();
  std::uint8_t report[65] = {1, 11};
  std::uint32_t written = 7;
  EXPECT_FALSE(device->WriteReport(report, sizeof report, written));
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(sim->OpenCount(), opens);
  EXPECT_EQ(sim->WriteAttempts(), 0);
}

TEST_F(DeviceTest, AFailedReadStartGoesToTheErrorHandlerAndIsRetried) {
  auto sim = platform.Plug(DeviceConfig(1));
  Start();
  auto device = Claim(0);
  device->SetReadSliceTime(10);
  device->SetOnDataError(recorder.ErrorHandler());
  device->SetOnData(recorder.DataHandler());
  ASSERT_TRUE(WaitWithoutEvents([&] { return sim->OpenCount(HidOpenMode::Read) == 1; }));
  platform.Unplug(sim);
  ASSERT_TRUE(RunUntil([&] { return recorder.errors.size() >= 3; }));
  for (std::uint32_t error : recorder.errors) EXPECT_NE(error, 0u);
  EXPECT_FALSE(device->IsAttached());
  EXPECT_TRUE(device->ReaderRunning());  // only clearing the handler or destruction stops it
  device->SetOnData(nullptr);
  EXPECT_TRUE(recorder.deliveries.empty());
}

TEST_F(DeviceTest, UnplugHandlerRunsOnceAcrossScans) {
  auto sim = platform.Plug(DeviceConfig(1));
  int unplugs = 0;
  Start();
  controller->SetOnDeviceUnplug([&](THidDevice*) { ++unplugs; });
  auto device = Claim(0);
  platform.Unplug(sim);
  ASSERT_TRUE(RunUntil([&] { return !device->IsAttached(); }));
  Rescan();
  EXPECT_EQ(unplugs, 1);
  EXPECT_EQ(sim->OpenHandleCount(), 0);
}

}  // namespace
}  // namespace zrv
