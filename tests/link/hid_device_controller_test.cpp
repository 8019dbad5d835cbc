// Discovery, plug events, enumeration, claiming and hand-back on the simulated platform.
#include "link/hid_device_controller.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/run_until.h"
#include "link_test_util.h"

namespace zrv {
namespace {

using test::DeviceConfig;
using test::Recorder;
using test::Report;
using test::RunRounds;
using test::RunUntil;

class ControllerTest : public ::testing::Test {
 protected:
  // Builds the controller the way the window does (handler assigned while loading) and lets the
  // forced first scan run.
  void Start() {
    controller = std::make_unique<THidDeviceController>(platform);
    controller->SetLoading(true);
    controller->SetOnDeviceChange([this](QObject* sender) {
      EXPECT_EQ(sender, controller.get());
      ++changes;
      if (onChange) onChange();
    });
    controller->SetLoading(false);
    EXPECT_EQ(platform.EnumerationCount(), 0);  // nothing scans before the loop runs
    ASSERT_TRUE(RunUntil([&] { return platform.EnumerationCount() > 0; }));
  }
  // Announces a change of the device tree and waits until the scan it causes has run.
  void Change() {
    const int before = platform.EnumerationCount();
    platform.AnnounceChange();
    ASSERT_TRUE(RunUntil([&] { return platform.EnumerationCount() > before; }));
  }
  std::unique_ptr<THidDevice> Claim(int index) {
    std::unique_ptr<THidDevice> device;
    EXPECT_TRUE(controller->ClaimByIndex(device, index));
    return device;
  }
  std::vector<std::uint32_t> Instances() const {
    std::vector<std::uint32_t> out;
    for (THidDevice* d : controller->Devices()) out.push_back(d->PlugInfo()->DeviceInstance);
    return out;
  }

  SimHidPlatform platform;
  std::unique_ptr<THidDeviceController> controller;
  int changes = 0;
  std::function<void()> onChange;
  Recorder recorder;
};

TEST_F(ControllerTest, ForcedFirstScanWithoutDevicesFiresOnce) {
  Start();
  RunRounds(20);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(controller->NotifyParam(), -1);
  EXPECT_EQ(controller->EnumerateDevices(), 0);
  EXPECT_TRUE(platform.ChangeWatchActive());
}

TEST_F(ControllerTest, AChangeWithoutHidDevicesFiresNothing) {
  platform.Plug(DeviceConfig(1));
  Start();
  EXPECT_EQ(changes, 1);
  Change();
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(controller->NotifyParam(), 0);
  EXPECT_EQ(Instances(), (std::vector<std::uint32_t>{1}));
}

TEST_F(ControllerTest, AssigningTheChangeHandlerOutsideLoadingScansAtOnce) {
  platform.Plug(DeviceConfig(1));
  controller = std::make_unique<THidDeviceController>(platform);
  controller->SetOnDeviceChange([&](QObject*) { ++changes; });
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(controller->Count(), 1);
  const int scans = platform.EnumerationCount();
  controller->SetOnDeviceChange(controller->OnDeviceChange());  // the same handler: nothing
  EXPECT_EQ(platform.EnumerationCount(), scans);
}

TEST_F(ControllerTest, EqualLookingDevicesAreTwoSlots) {
  platform.Plug(DeviceConfig(7));
  platform.Plug(DeviceConfig(9));
  Start();
  EXPECT_EQ(Instances(), (std::vector<std::uint32_t>{7, 9}));
  Change();  // both stay: no duplicates appended
  EXPECT_EQ(Instances(), (std::vector<std::uint32_t>{7, 9}));
}

TEST_F(ControllerTest, ArrivalsAndRemovalsAreReportedInsideAnEvent) {
  auto a = platform.Plug(DeviceConfig(1));
  Start();
  std::vector<std::pair<char, std::uint32_t>> events;
  auto record = [&](char kind) {
    return THidPlugEvent([&events, kind](THidDevice* d) {
      EXPECT_TRUE(d->InEventCall());
      events.emplace_back(kind, d->PlugInfo()->DeviceInstance);
    });
  };
  controller->SetOnArrival(record('+'));
  controller->SetOnRemoval(record('-'));
  platform.Plug(DeviceConfig(2));
  ASSERT_TRUE(RunUntil([&] { return changes == 2; }));
  platform.Unplug(a);
  ASSERT_TRUE(RunUntil([&] { return changes == 3; }));
  EXPECT_EQ(events, (std::vector<std::pair<char, std::uint32_t>>{{'+', 2}, {'-', 1}}));
  EXPECT_EQ(Instances(), (std::vector<std::uint32_t>{2}));
  EXPECT_FALSE(controller->Device(0)->InEventCall());
}

TEST_F(ControllerTest, ClaimedDeviceUnpluggedAndBackBeforeRelease) {
  auto sim = platform.Plug(DeviceConfig(1));
  Start();
  auto held = Claim(0);
  platform.Unplug(sim);
  ASSERT_TRUE(RunUntil([&] { return changes == 2; }));
  ASSERT_EQ(controller->Count(), 1);  // the claimed slot stays, unplugged
  EXPECT_FALSE(held->IsAttached());
  EXPECT_EQ(controller->EnumerateDevices(), 0);

  sim = platform.Plug(DeviceConfig(1));
  ASSERT_TRUE(RunUntil([&] { return changes == 3; }));
  EXPECT_EQ(Instances(), (std::vector<std::uint32_t>{1, 1}));
  EXPECT_TRUE(controller->Device(1)->IsAttached());
  Change();  // the old slot counts as gone again at every scan
  EXPECT_EQ(changes, 4);

  held.reset();  // releasing the unplugged object removes its slot
  ASSERT_EQ(controller->Count(), 1);
  EXPECT_TRUE(controller->Device(0)->IsAttached());
  Change();
  EXPECT_EQ(changes, 4);
}

TEST_F(ControllerTest, EnumerationStopsAtFalseAndSkipsUnpluggedSlots) {
  std::vector<std::shared_ptr<SimHidDevice>> sims;
  for (std::uint32_t i = 1; i <= 4; ++i) sims.push_back(platform.Plug(DeviceConfig(i)));
  Start();
  auto held = Claim(0);
  platform.Unplug(sims[0]);
  ASSERT_TRUE(RunUntil([&] { return changes == 2; }));

  std::vector<int> visited;
  controller->SetOnEnumerate([&](THidDevice* d, int idx) {
    EXPECT_EQ(controller->Device(idx), d);
    visited.push_back(idx);
    return visited.size() < 2;
  });
  EXPECT_EQ(controller->EnumerateDevices(), 2);
  EXPECT_EQ(visited, (std::vector<int>{1, 2}));  // slot 0 is unplugged: indices keep their gap

  controller->SetOnEnumerate(nullptr);
  EXPECT_EQ(controller->EnumerateDevices(), 1);  // no handler: the walk ends at the first
}

TEST_F(ControllerTest, EnumerationEventMakesTheDeviceOpenableAndClosesWhatIsLeftUnclaimed) {
  auto a = platform.Plug(DeviceConfig(1, u"Mouse"));
  auto b = platform.Plug(DeviceConfig(2, u"ZRVXXX"));
  Start();
  std::vector<std::unique_ptr<THidDevice>> items;
  controller->SetOnEnumerate([&](THidDevice* d, int idx) {
    EXPECT_FALSE(d->GetProductString().empty());
    if (d->GetProductString() == u"ZRVXXX") {
      std::uint8_t report[65] = {1, 10};
      std::uint32_t written = 0;
      EXPECT_TRUE(d->WriteReport(report, sizeof report, written));  // leaves QueryHandle open
      items.push_back(Claim(idx));
      EXPECT_EQ(items.back().get(), d);
    } else {
      d->OpenQueryHandle();
    }
    return true;
  });
  EXPECT_EQ(controller->EnumerateDevices(), 2);
  EXPECT_EQ(a->OpenHandleCount(), 0);  // unclaimed: closed after its event
  EXPECT_EQ(b->OpenHandleCount(), 1);  // claimed: stays open
}

TEST_F(ControllerTest, ClaimRefusesBadIndicesAndClaimedSlots) {
  platform.Plug(DeviceConfig(1));
  Start();
  std::unique_ptr<THidDevice> device;
  EXPECT_FALSE(controller->ClaimByIndex(device, -1));
  EXPECT_FALSE(controller->ClaimByIndex(device, 1));
  EXPECT_TRUE(controller->ClaimByIndex(device, 0));
  ASSERT_NE(device, nullptr);
  EXPECT_TRUE(device->IsClaimed());
  std::unique_ptr<THidDevice> again;
  EXPECT_FALSE(controller->ClaimByIndex(again, 0));
  EXPECT_EQ(again, nullptr);
  EXPECT_EQ(controller->Device(0), device.get());
}

TEST_F(ControllerTest, ReleasingAnAttachedDeviceLeavesAFreshOneCarryingItsHandlers) {
  auto sim = platform.Plug(DeviceConfig(1));
  platform.Plug(DeviceConfig(2));
  Start();
  auto device = Claim(1);
  device->SetReadSliceTime(20);
  device->SetOnData(recorder.DataHandler());
  ASSERT_TRUE(device->ReaderRunning());
  THidDevice* old = device.get();
  device.reset();

  ASSERT_EQ(Instances(), (std::vector<std::uint32_t>{1, 2}));
  THidDevice* fresh = controller->Device(1);
  EXPECT_FALSE(fresh->IsClaimed());
  EXPECT_FALSE(fresh->ReaderRunning());
  EXPECT_EQ(fresh->OnData(), recorder.DataHandler());
  EXPECT_EQ(fresh->ReadSliceTime(), 20);
  (void)old;

  auto again = Claim(1);
  EXPECT_TRUE(again->ReaderRunning());  // started at the claim
}

TEST_F(ControllerTest, AReplacementThatCannotBeOpenedLeavesTheSlotToTheNextScan) {
  auto sim = platform.Plug(DeviceConfig(1));
  Start();
  auto device = Claim(0);
  sim->SetRefuseOpen(true);
  device.reset();
  EXPECT_EQ(controller->Count(), 0);
  sim->SetRefuseOpen(false);
  Change();
  EXPECT_EQ(changes, 2);  // found again as an arrival
  EXPECT_EQ(controller->Count(), 1);
}

TEST_F(ControllerTest, ANoticeDuringTheChangeHandlerIsDropped) {
  Start();
  bool nested = false;
  onChange = [&] {
    if (nested) return;
    nested = true;
    EXPECT_TRUE(controller->ScanRunning());
    const int delivered = platform.NotificationsDelivered();
    platform.Plug(DeviceConfig(5));
    // The notice reaches the controller while this handler runs, as under a message box.
    EXPECT_TRUE(RunUntil([&] { return platform.NotificationsDelivered() > delivered; }));
  };
  platform.Plug(DeviceConfig(4));
  ASSERT_TRUE(RunUntil([&] { return changes == 2; }));
  RunRounds(20);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(Instances(), (std::vector<std::uint32_t>{4}));  // device 5 not seen yet
  Change();
  EXPECT_EQ(Instances(), (std::vector<std::uint32_t>{4, 5}));
}

TEST_F(ControllerTest, HandlersAreHandedOnOnlyWhereTheOldOneIsSet) {
  platform.Plug(DeviceConfig(1));
  platform.Plug(DeviceConfig(2));
  Start();
  Recorder other;
  controller->Device(1)->SetOnData(other.DataHandler());
  controller->Device(1)->SetReadSliceTime(50);
  controller->SetOnDeviceData(recorder.DataHandler());
  controller->SetDevThreadSleepTime(30);
  EXPECT_EQ(controller->Device(0)->OnData(), recorder.DataHandler());
  EXPECT_EQ(controller->Device(1)->OnData(), other.DataHandler());
  EXPECT_EQ(controller->Device(0)->ReadSliceTime(), 30);
  EXPECT_EQ(controller->Device(1)->ReadSliceTime(), 50);

  controller->SetOnDeviceDataError(recorder.ErrorHandler());
  EXPECT_EQ(controller->Device(0)->OnDataError(), recorder.ErrorHandler());
  EXPECT_EQ(controller->Device(1)->OnDataError(), recorder.ErrorHandler());

  auto claimed = Claim(0);
  EXPECT_TRUE(claimed->ReaderRunning());
  controller->SetOnDeviceData(nullptr);  // clears it on the claimed device too: its reader stops
  EXPECT_FALSE(claimed->ReaderRunning());
}

TEST_F(ControllerTest, AFailedEnumerationCountsEveryDeviceGone) {
  platform.Plug(DeviceConfig(1));
  Start();
  platform.SetEnumerationFails(true);
  Change();
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(controller->Count(), 0);
}

TEST_F(ControllerTest, WithoutHidServicesNothingIsWatchedOrFound) {
  platform.SetHidServicesPresent(false);
  platform.Plug(DeviceConfig(1));
  controller = std::make_unique<THidDeviceController>(platform);
  controller->SetOnDeviceChange([&](QObject*) { ++changes; });
  RunRounds(20);
  EXPECT_FALSE(platform.ChangeWatchActive());
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(controller->Count(), 0);
}

TEST_F(ControllerTest, DestructionStopsReadersAndLeavesClaimedObjectsWithTheirHolders) {
  auto sim = platform.Plug(DeviceConfig(1));
  platform.Plug(DeviceConfig(2));
  Start();
  auto device = Claim(0);
  device->SetReadSliceTime(10);
  device->SetOnData(recorder.DataHandler());
  std::atomic<bool> stop{false};
  std::thread flood([&] {
    const auto report = Report(1, 65, 0);
    while (!stop.load()) {
      sim->InjectInputReport(report.data(), report.size());
      std::this_thread::yield();
    }
  });
  ASSERT_TRUE(RunUntil([&] { return recorder.deliveries.size() > 5; }));
  controller.reset();
  stop = true;
  flood.join();
  EXPECT_FALSE(device->ReaderRunning());
  EXPECT_FALSE(device->IsAttached());
  EXPECT_EQ(device->Controller(), nullptr);
  EXPECT_FALSE(platform.ChangeWatchActive());
  const std::size_t delivered = recorder.deliveries.size();
  RunRounds(10);
  EXPECT_EQ(recorder.deliveries.size(), delivered);
  device.reset();  // nothing to hand back to
  EXPECT_EQ(sim->OpenHandleCount(), 0);
}

// The connection manager's pattern under plug and unplug from another thread: every change
// releases all devices, walks the attached ones, claims each and reads from it.
TEST_F(ControllerTest, PlugAndUnplugFromAnotherThreadWhileReading) {
  std::vector<std::unique_ptr<THidDevice>> items;
  platform.Plug(DeviceConfig(100, u"Mouse"));
  onChange = [&] {
    items.clear();
    controller->SetOnEnumerate([&](THidDevice*, int idx) {
      items.push_back(Claim(idx));
      items.back()->SetReadSliceTime(10);
      items.back()->SetOnData(recorder.DataHandler());
      return true;
    });
    controller->EnumerateDevices();
  };
  Start();
  std::atomic<bool> done{false};
  std::thread plugger([&] {
    const auto report = Report(1, 65, 9);
    for (std::uint32_t cycle = 0; cycle < 40; ++cycle) {
      auto sim = platform.Plug(DeviceConfig(cycle + 1));
      for (int i = 0; i < 20; ++i) {
        sim->InjectInputReport(report.data(), report.size());
        std::this_thread::yield();
      }
      platform.Unplug(sim);
    }
    done = true;
  });
  ASSERT_TRUE(RunUntil([&] { return done.load(); }, 200000));
  plugger.join();
  Change();
  ASSERT_EQ(items.size(), 1u);  // only the mouse is left, claimed and read
  EXPECT_EQ(items[0]->PlugInfo()->DeviceInstance, 100u);
  EXPECT_TRUE(items[0]->ReaderRunning());
  EXPECT_EQ(controller->Count(), 1);
  for (const auto& d : recorder.deliveries) EXPECT_TRUE(d.onMainThread);
  items.clear();
  for (const auto& sim : platform.Present()) EXPECT_EQ(sim->OpenHandleCount(), 0);
}

}  // namespace
}  // namespace zrv
