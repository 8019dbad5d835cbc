// The driver session without a window: which device it connects, when it polls and pauses, what
// its send path lets through, and when it says the driver has gone silent.
#include <gtest/gtest.h>

#include <QObject>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/platform/sim/sim_hid_platform.h"
#include "protocol/reply_decoder.h"
#include "session/driver_session.h"
#include "sim/sim_driver_model.h"
#include "support/driver_replies.h"
#include "support/manual_time_source.h"
#include "support/run_until.h"

namespace zrv::test {
namespace {

struct Plugged {
  std::shared_ptr<SimDriverModel> Model;
  std::shared_ptr<SimHidDevice> Device;
  std::uint64_t Count(CommandCode code) const {
    return Model->Driver().CommandCount(static_cast<std::uint8_t>(code));
  }
  std::vector<int> Codes() const {
    std::vector<int> codes;
    for (const sim::ReceivedReport& report : Model->Driver().Received()) codes.push_back(report.Code());
    return codes;
  }
};

class SessionTest : public ::testing::Test {
 protected:
  explicit SessionTest(DriverSession::Choice choice = DriverSession::Choice::Rebuild)
      : session(time, platform, choice) {
    QObject::connect(&session, &DriverSession::ConnectionChanged,
                     [this](ConnectionShown shown) { Shown.push_back(shown); });
    QObject::connect(&session, &DriverSession::ScanEnded,
                     [this](const QString& node) { RefusedNode = node.toStdString(); });
    QObject::connect(&session, &DriverSession::AnswerWatchExpired, [this] { ++WatchExpired; });
  }

  bool FirstScan() { return RunUntil([&] { return session.Scanned(); }); }

  Plugged PlugDriver(std::u16string product = u"ZRVXXX",
                     const std::function<void(SimHidDeviceConfig&, sim::SimulatedDriver&)>& setUp = {}) {
    SimHidDeviceConfig config = DriverDeviceConfig(nextInstance_++);
    config.Path = "/sim/driver" + std::to_string(config.Instance);
    config.ProductString = std::move(product);
    Plugged plugged{std::make_shared<SimDriverModel>(), nullptr};
    if (setUp) setUp(config, plugged.Model->Driver());
    Rescan([&] { plugged.Device = SimDriverModel::PlugDriver(platform, config, plugged.Model); });
    return plugged;
  }
  std::shared_ptr<SimHidDevice> PlugOther(std::u16string product) {
    SimHidDeviceConfig config;
    config.Path = "/sim/other" + std::to_string(nextInstance_);
    config.Instance = nextInstance_++;
    config.ProductString = std::move(product);
    config.OutputReportByteLength = 0;
    std::shared_ptr<SimHidDevice> device;
    Rescan([&] { device = platform.Plug(config); });
    return device;
  }
  void Unplug(const std::shared_ptr<SimHidDevice>& device) {
    Rescan([&] { platform.Unplug(device); });
  }
  void Rescan(const std::function<void()>& change) {
    const int before = platform.EnumerationCount();
    change();
    ASSERT_TRUE(RunUntil([&] { return platform.EnumerationCount() > before; }));
    Flush();
  }
  // Until every held device's writer has written what it took.
  void Flush() const {
    auto pending = [this] {
      for (const auto& device : session.Held()) {
        if (device && device->WritesPending()) return true;
      }
      return false;
    };
    for (int round = 0; round < 20000 && pending(); ++round) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  // Until the identity reply of the connected driver has started polling.
  bool Identified() { return RunUntil([&] { return session.Polling(); }); }
  // One 40 ms step at a time, each poll written before the next.
  void Advance(int ms) {
    for (; ms >= 40; ms -= 40) {
      time.Advance(40);
      Flush();
    }
    if (ms > 0) {
      time.Advance(ms);
      Flush();
    }
  }

  ManualTimeSource time;
  SimHidPlatform platform;
  DriverSession session;
  std::vector<ConnectionShown> Shown;
  std::string RefusedNode = "(no scan ended)";
  int WatchExpired = 0;

 private:
  std::uint32_t nextInstance_ = 1;
};

// ---- The choice of the driver ----

TEST_F(SessionTest, TheLastDriverFoundIsCurrentAndEveryDriverIsAskedWhoItIs) {
  ASSERT_TRUE(FirstScan());
  EXPECT_EQ(Shown.back(), ConnectionShown::NoConnection);
  PlugOther(u"USB Optical Mouse");
  Plugged first = PlugDriver();
  Plugged second = PlugDriver();
  ASSERT_TRUE(Identified());

  ASSERT_EQ(session.Devices().size(), 3u);
  EXPECT_FALSE(session.Devices()[0].IsDriver);
  EXPECT_TRUE(session.Devices()[1].IsDriver);
  EXPECT_TRUE(session.Devices()[2].IsDriver);
  EXPECT_TRUE(session.Connected());
  EXPECT_EQ(session.CurrentDevice(), session.Held()[2].get());
  EXPECT_EQ(Shown.back(), ConnectionShown::Connected);
  EXPECT_EQ(RefusedNode, "");
  // Every device is held until the next change; both drivers read.
  for (const auto& device : session.Held()) ASSERT_NE(device, nullptr);
  EXPECT_FALSE(session.Held()[0]->ReaderRunning());
  EXPECT_TRUE(session.Held()[1]->ReaderRunning());
  EXPECT_TRUE(session.Held()[2]->ReaderRunning());
  // The first got 10 when it came and again when the second did.
  EXPECT_EQ(first.Count(CommandCode::ReadIdentity), 2u);
  EXPECT_EQ(second.Count(CommandCode::ReadIdentity), 1u);

  // Polls go to the current driver only.
  Advance(120);
  EXPECT_EQ(first.Count(CommandCode::ReadStatus), 0u);
  EXPECT_EQ(second.Count(CommandCode::ReadStatus), 3u);
}

TEST_F(SessionTest, NearMissesOfTheProductStringAreNotTheDriver) {
  ASSERT_TRUE(FirstScan());
  PlugDriver(u"zrvxxx");
  PlugDriver(u"ZRVXXX ");
  PlugDriver(u"ZRVXXXX");
  for (const ListedDevice& device : session.Devices()) EXPECT_FALSE(device.IsDriver);
  EXPECT_FALSE(session.Connected());
  EXPECT_EQ(session.CurrentDevice(), nullptr);
  EXPECT_EQ(Shown.back(), ConnectionShown::Disconnected);
  EXPECT_FALSE(session.Polling());
}

TEST_F(SessionTest, ADriverWithoutReadWriteAccessIsNotConnectedAndItsNodeIsTold) {
  ASSERT_TRUE(FirstScan());
  Plugged driver = PlugDriver(u"ZRVXXX", [](SimHidDeviceConfig& config, sim::SimulatedDriver&) {
    config.RefuseReadWrite = true;
  });
  EXPECT_FALSE(session.Connected());
  EXPECT_EQ(Shown.back(), ConnectionShown::NoConnection);
  EXPECT_EQ(RefusedNode, driver.Device->Path());
  ASSERT_NE(session.CurrentDevice(), nullptr);
  EXPECT_FALSE(session.CurrentDevice()->ReaderRunning());
  session.SendCommand(CommandCode::ReadModbusSettings);
  session.ReadModbusSettings();
  Flush();
  EXPECT_EQ(driver.Device->WriteAttempts(), 0);
}

TEST_F(SessionTest, UnpluggingTheDriverDisconnectsAndStopsPolling) {
  ASSERT_TRUE(FirstScan());
  auto mouse = PlugOther(u"USB Optical Mouse");
  Plugged driver = PlugDriver();
  ASSERT_TRUE(Identified());
  Unplug(driver.Device);
  EXPECT_FALSE(session.Connected());
  EXPECT_EQ(session.CurrentDevice(), nullptr);
  EXPECT_FALSE(session.Polling());
  EXPECT_EQ(Shown.back(), ConnectionShown::Disconnected);
  const std::size_t received = driver.Model->Driver().Received().size();
  Advance(400);
  EXPECT_EQ(driver.Model->Driver().Received().size(), received);
  EXPECT_EQ(mouse->WriteAttempts(), 0);
  Unplug(mouse);
  EXPECT_TRUE(session.Devices().empty());
  EXPECT_EQ(Shown.back(), ConnectionShown::NoConnection);
}

// ---- Polling ----

TEST_F(SessionTest, OnlyTheIdentityReplyOfAConnectedDriverStartsPolling) {
  Deliver(session, IdentityReply(125, "ZRV", 103));
  EXPECT_FALSE(session.Polling());
  ASSERT_TRUE(FirstScan());
  Plugged driver = PlugDriver(u"ZRVXXX", [](SimHidDeviceConfig&, sim::SimulatedDriver& sim) {
    sim.Faults().SilentAll = true;
  });
  ASSERT_TRUE(session.Connected());
  Advance(400);
  EXPECT_FALSE(session.Polling());
  EXPECT_EQ(driver.Codes(), std::vector<int>{10});
  // Its identity reply, whenever it comes, starts polling.
  Deliver(session, IdentityReply(125, "ZRV", 103));
  EXPECT_TRUE(session.Polling());
  Advance(80);
  EXPECT_EQ(driver.Codes(), (std::vector<int>{10, 11, 11}));
}

TEST_F(SessionTest, EachTickAsksForThePolledCommand) {
  ASSERT_TRUE(FirstScan());
  Plugged driver = PlugDriver();
  ASSERT_TRUE(Identified());
  driver.Model->Driver().ClearReceived();
  Advance(119);
  EXPECT_EQ(driver.Codes(), (std::vector<int>{11, 11}));
  session.SetPolledCommand(CommandCode::ReadRegisters);
  Advance(1);
  Advance(40);
  EXPECT_EQ(driver.Codes(), (std::vector<int>{11, 11, 12, 12}));
  // The replies are decoded: the good-frame count comes from the register reply.
  driver.Model->Driver().Model().GoodFrames = 0x1234;
  Advance(40);
  EXPECT_TRUE(RunUntil([&] { return session.GoodFrames() == 0x1234; }));
  EXPECT_GE(session.Replies(CommandCode::ReadRegisters), 1u);
}

TEST_F(SessionTest, APauseStopsPollingForFiveHundredMillisecondsCountedFromTheFirst) {
  ASSERT_TRUE(FirstScan());
  Plugged driver = PlugDriver();
  ASSERT_TRUE(Identified());
  Advance(13);  // off the 40 ms grid
  driver.Model->Driver().ClearReceived();
  session.ReadModbusSettings();
  Flush();
  EXPECT_FALSE(session.Polling());
  EXPECT_TRUE(session.PollingPaused());
  Advance(300);
  session.PausePolling();  // a second pause does not move the end of the first
  Advance(199);
  EXPECT_EQ(driver.Codes(), std::vector<int>{20});
  EXPECT_FALSE(session.Polling());
  Advance(1);
  EXPECT_TRUE(session.Polling());
  EXPECT_FALSE(session.PollingPaused());
  Advance(39);
  EXPECT_EQ(driver.Codes(), std::vector<int>{20});
  Advance(1);
  EXPECT_EQ(driver.Codes(), (std::vector<int>{20, 11}));
  // The pause ended once: polling goes on at its own pace.
  Advance(400);
  EXPECT_EQ(driver.Codes().size(), 12u);
}

TEST_F(SessionTest, APauseThatOutlivesTheConnectionTurnsPollingOnButTicksSendNothing) {
  ASSERT_TRUE(FirstScan());
  auto mouse = PlugOther(u"USB Optical Mouse");
  Plugged driver = PlugDriver();
  ASSERT_TRUE(Identified());
  session.PausePolling();
  Unplug(driver.Device);
  Advance(500);
  EXPECT_TRUE(session.Polling());
  const std::size_t received = driver.Model->Driver().Received().size();
  Advance(400);
  EXPECT_EQ(driver.Model->Driver().Received().size(), received);
  EXPECT_EQ(mouse->WriteAttempts(), 0);
}

TEST_F(SessionTest, AnIdentityReplyDuringAPauseStartsPollingAndThePauseStillEnds) {
  ASSERT_TRUE(FirstScan());
  Plugged driver = PlugDriver();
  ASSERT_TRUE(Identified());
  driver.Model->Driver().ClearReceived();
  session.ReadModbusSettings();
  Flush();
  driver.Model->Driver().SendReply(10);
  ASSERT_TRUE(RunUntil([&] { return session.Polling(); }));
  EXPECT_TRUE(session.PollingPaused());
  Advance(480);
  EXPECT_EQ(driver.Count(CommandCode::ReadStatus), 12u);
  Advance(20);
  EXPECT_FALSE(session.PollingPaused());
  EXPECT_TRUE(session.Polling());
}

TEST_F(SessionTest, APauseWhileNotConnectedTurnsPollingOnLaterAndAScanStopsItAgain) {
  ASSERT_TRUE(FirstScan());
  session.PausePolling();
  Advance(499);
  EXPECT_FALSE(session.Polling());
  Advance(1);
  EXPECT_TRUE(session.Polling());
  EXPECT_FALSE(session.PollingPaused());
  // A driver found now is connected by the scan, which stops polling until its identity reply.
  Plugged driver = PlugDriver(u"ZRVXXX", [](SimHidDeviceConfig&, sim::SimulatedDriver& sim) {
    sim.Faults().SilentFor[10] = true;
  });
  EXPECT_TRUE(session.Connected());
  EXPECT_FALSE(session.Polling());
  Advance(200);
  EXPECT_EQ(driver.Codes(), std::vector<int>{10});
}

// ---- The send path ----

TEST_F(SessionTest, NothingIsSentWhileNotConnected) {
  ASSERT_TRUE(FirstScan());
  const std::uint8_t payload[] = {20};
  session.SendReport(payload, 1);
  EXPECT_FALSE(session.SendTagged(payload, 1, 7));
  EXPECT_FALSE(session.SaveModbusSettings(ModbusSettings{9600, 0, 3}, 8));
  // The record keeps the chosen settings even so, and the pause runs.
  const std::uint32_t baud = session.State().Modbus.Baudrate;
  EXPECT_EQ(baud, 9600u);
  EXPECT_TRUE(session.PollingPaused());
}

TEST_F(SessionTest, SaveSendsTheSettingsOnceTellsTheOutcomeAndHearsTheAcknowledgement) {
  ASSERT_TRUE(FirstScan());
  Plugged driver = PlugDriver();
  ASSERT_TRUE(Identified());
  std::vector<std::pair<std::uint32_t, bool>> outcomes;
  int saved = 0;
  QObject::connect(&session, &DriverSession::ReportWritten,
                   [&](std::uint32_t tag, bool written) { outcomes.emplace_back(tag, written); });
  QObject::connect(&session, &DriverSession::SettingsSaved, [&] { ++saved; });
  driver.Model->Driver().ClearReceived();

  ASSERT_TRUE(session.SaveModbusSettings(ModbusSettings{57600, 1, 42}, 5));
  EXPECT_TRUE(session.PollingPaused());
  ASSERT_TRUE(RunUntil([&] { return saved == 1 && outcomes.size() == 1; }));
  EXPECT_EQ(outcomes.front(), std::make_pair(5u, true));
  ASSERT_EQ(driver.Codes(), std::vector<int>{148});
  const ModbusSettings taken = driver.Model->Driver().Model().Modbus;
  EXPECT_EQ(taken.Baudrate, 57600u);
  EXPECT_EQ(taken.Parity, 1);
  EXPECT_EQ(taken.SlaveId, 42);
}

TEST_F(SessionTest, ADriverWithAShortOutputReportGetsNoSettings) {
  ASSERT_TRUE(FirstScan());
  SimHidDeviceConfig config = DriverDeviceConfig(50);
  config.OutputReportByteLength = 8;
  auto device = PlugConnectedDriver(platform, session, nullptr, config);
  ASSERT_NE(device, nullptr);
  Flush();
  const int attempts = device->WriteAttempts();
  EXPECT_FALSE(session.SaveModbusSettings(ModbusSettings{19200, 2, 1}, 3));
  Flush();
  EXPECT_EQ(device->WriteAttempts(), attempts);
}

// ---- The silent-driver deadline ----

TEST_F(SessionTest, TheWatchRunsOutOneSecondAfterTheLatestReplyOrRescan) {
  ASSERT_TRUE(FirstScan());
  Plugged answering = PlugDriver();
  ASSERT_TRUE(Identified());
  const int before = WatchExpired;
  // Answered polls move the deadline on: three seconds without a run-out.
  for (int i = 0; i < 75; ++i) {
    Advance(40);
    ASSERT_TRUE(RunUntil([&] { return session.Replies(CommandCode::ReadStatus) >= static_cast<std::uint64_t>(i + 1); }));
  }
  EXPECT_EQ(WatchExpired, before);
  Unplug(answering.Device);

  // A silent driver: one second after the rebuilt connection, and every second after that.
  Plugged silent = PlugDriver(u"ZRVXXX", [](SimHidDeviceConfig&, sim::SimulatedDriver& sim) {
    sim.Faults().SilentAll = true;
  });
  const int atPlug = WatchExpired;
  time.Advance(999);
  EXPECT_EQ(WatchExpired, atPlug);
  time.Advance(1);
  EXPECT_EQ(WatchExpired, atPlug + 1);
  time.Advance(1000);
  EXPECT_EQ(WatchExpired, atPlug + 2);
  // A reply gives it one more second from its arrival.
  time.Advance(500);
  Deliver(session, StatusReply(LiveStatus{}));
  time.Advance(999);
  EXPECT_EQ(WatchExpired, atPlug + 2);
  time.Advance(1);
  EXPECT_EQ(WatchExpired, atPlug + 3);
}

// ---- A front end that chooses the driver itself ----

class ChosenSession : public SessionTest {
 protected:
  ChosenSession() : SessionTest(DriverSession::Choice::Chosen) {}
};

TEST_F(ChosenSession, TheFirstScanListsAndClaimsOnlyDriversAndUseConnectsOne) {
  SimHidDeviceConfig mouse;
  mouse.Path = "/sim/mouse";
  mouse.Instance = 90;
  mouse.ProductString = u"USB Optical Mouse";
  platform.Plug(mouse);
  SimHidDeviceConfig refused = DriverDeviceConfig(91);
  refused.RefuseReadWrite = true;
  platform.Plug(refused);
  auto model = std::make_shared<SimDriverModel>();
  auto driver = SimDriverModel::PlugDriver(platform, DriverDeviceConfig(92), model);
  ASSERT_TRUE(FirstScan());

  ASSERT_EQ(session.Devices().size(), 3u);
  EXPECT_EQ(session.Held()[0], nullptr);  // not a driver: not claimed
  EXPECT_FALSE(session.Connected());
  EXPECT_TRUE(Shown.empty());
  EXPECT_EQ(model->Driver().TotalReceived(), 0u);  // nobody is asked anything by itself
  EXPECT_FALSE(session.Use(0));
  EXPECT_FALSE(session.Use(1));
  EXPECT_FALSE(session.Use(7));
  ASSERT_TRUE(session.Use(2));
  EXPECT_TRUE(session.Connected());
  EXPECT_EQ(session.CurrentDevice(), session.Held()[2].get());

  session.SendCommand(CommandCode::ReadIdentity);
  ASSERT_TRUE(RunUntil([&] { return session.Replies(CommandCode::ReadIdentity) == 1; }));
  EXPECT_EQ(std::string(session.State().Identity.DeviceName.data()), std::string(model->Driver().Model().Name()));

  // Later changes do not rebuild the list, and the chosen driver stays in use.
  int cleared = 0;
  QObject::connect(&session, &DriverSession::DevicesCleared, [&] { ++cleared; });
  const int notified = platform.NotificationsDelivered();
  SimHidDeviceConfig keyboard = mouse;
  keyboard.Path = "/sim/keyboard";
  keyboard.Instance = 93;
  platform.Plug(keyboard);
  ASSERT_TRUE(RunUntil([&] { return platform.NotificationsDelivered() > notified; }));
  RunRounds(20);
  EXPECT_EQ(cleared, 0);
  EXPECT_EQ(session.Devices().size(), 3u);
  EXPECT_TRUE(session.Connected());
  EXPECT_EQ(session.CurrentDevice(), session.Held()[2].get());
}

}  // namespace
}  // namespace zrv::test
