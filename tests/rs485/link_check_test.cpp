// The whole link test with a driver on USB too: settings and the good-frame counter from the
// driver's USB side, the reads through a real serial port to its simulated RS485 side, on real
// time. Verdicts and what was read are asserted, never times.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>

#include "link/platform/sim/sim_hid_platform.h"
#include "link/ttimer.h"
#include "rs485/link_check.h"
#include "rs485/serial_port_transport.h"
#include "rs485/sim_line_pty.h"
#include "session/driver_session.h"
#include "support/driver_replies.h"
#include "support/run_until.h"

namespace zrv {
namespace {

using modbus::LinkVerdict;

std::uint64_t SteadyUs() {
  static const auto start = std::chrono::steady_clock::now();
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count());
}

class LinkCheckTest : public ::testing::Test {
 protected:
  LinkCheckTest() : session(RealTimeSource(), platform), far(model) {
    model->WithDriver([](sim::SimulatedDriver& d) { d.Model().Modbus = {115200, 2, 3}; });
    QString error;
    EXPECT_TRUE(far.Open({}, &error)) << error.toStdString();
  }

  bool Connect() {
    EXPECT_TRUE(test::RunUntil([&] { return session.Scanned(); }));
    device = SimDriverModel::PlugDriver(platform, test::DriverDeviceConfig(), model);
    return test::RunUntil([&] { return session.Connected() && session.Polling(); });
  }

  std::optional<LinkCheckReport> Run(DriverSession* withSession, const LinkCheckPlan& plan,
                                     const std::function<void(LinkCheck&, int sent)>& onProgress = {}) {
    SerialPortTransport port(far.PortPath());
    LinkCheck check(withSession, RealTimeSource(), SteadyUs);
    std::optional<LinkCheckReport> report;
    QObject::connect(&check, &LinkCheck::Finished, [&](const LinkCheckReport& r) { report = r; });
    if (onProgress) {
      QObject::connect(&check, &LinkCheck::Progress, [&](int sent, int) { onProgress(check, sent); });
    }
    if (!check.Start(port, plan)) return std::nullopt;
    EXPECT_TRUE(test::RunUntil([&] { return report.has_value(); }));
    EXPECT_FALSE(port.LastError()) << bus::PortProblemText(port.LastError(), port.Path()).toStdString();
    return report;
  }

  SimHidPlatform platform;
  DriverSession session;
  std::shared_ptr<SimDriverModel> model = std::make_shared<SimDriverModel>();
  SimLinePty far;
  std::shared_ptr<SimHidDevice> device;
};

TEST_F(LinkCheckTest, SettingsAndCounterComeFromUsbAndTheLineIsJudgedAgainstThem) {
  ASSERT_TRUE(Connect());
  std::optional<LinkCheckReport> ok = Run(&session, {std::nullopt, std::nullopt, 3});
  ASSERT_TRUE(ok);
  EXPECT_TRUE(ok->Problem.isEmpty()) << ok->Problem.toStdString();
  EXPECT_TRUE(ok->SettingsFromUsb);
  EXPECT_EQ(ok->Line, (modbus::LineSettings{115200, 2}));
  EXPECT_EQ(ok->Slave, 3);
  EXPECT_TRUE(ok->CounterRead);
  EXPECT_EQ(ok->Result.Verdict, LinkVerdict::Ok);
  EXPECT_EQ(ok->Result.Sent, 6u);
  EXPECT_EQ(ok->Result.CounterRise, std::optional<std::uint16_t>(6));
  ASSERT_TRUE(ok->Usb);

  // The driver hears, its answers are lost: only its counter over USB can tell.
  far.SetFault(sim::Rs485Fault::Deaf);
  std::optional<LinkCheckReport> deaf = Run(&session, {std::nullopt, std::nullopt, 2});
  ASSERT_TRUE(deaf);
  EXPECT_EQ(deaf->Result.Verdict, LinkVerdict::DriverHearsNoAnswer);
}

TEST_F(LinkCheckTest, WithoutADriverOnUsbItNeedsTheSettingsAndJudgesWithoutTheCounter) {
  std::optional<LinkCheckReport> unknown = Run(nullptr, {std::nullopt, std::uint8_t{3}, 2});
  ASSERT_TRUE(unknown);
  EXPECT_FALSE(unknown->Problem.isEmpty());
  EXPECT_EQ(unknown->Result.Sent, 0u);

  std::optional<LinkCheckReport> given = Run(nullptr, {modbus::LineSettings{115200, 2}, std::uint8_t{3}, 2});
  ASSERT_TRUE(given);
  EXPECT_FALSE(given->CounterRead);
  EXPECT_EQ(given->Result.Verdict, LinkVerdict::Ok);

  far.SetFault(sim::Rs485Fault::Swapped);
  std::optional<LinkCheckReport> silent = Run(nullptr, {modbus::LineSettings{115200, 2}, std::uint8_t{3}, 1});
  ASSERT_TRUE(silent);
  EXPECT_EQ(silent->Result.Verdict, LinkVerdict::NoAnswer);
}

TEST_F(LinkCheckTest, ACancelOrADriverUnpluggedOnTheWayEndsItCleanly) {
  ASSERT_TRUE(Connect());
  std::optional<LinkCheckReport> cancelled =
      Run(&session, {std::nullopt, std::nullopt, 50}, [](LinkCheck& check, int sent) {
        if (sent >= 2) check.Cancel();
      });
  ASSERT_TRUE(cancelled);
  EXPECT_TRUE(cancelled->Cancelled);
  EXPECT_LT(cancelled->Result.Sent, 100u);

  bool unplugged = false;
  std::optional<LinkCheckReport> gone = Run(&session, {std::nullopt, std::nullopt, 20}, [&](LinkCheck&, int sent) {
    if (sent >= 2 && !unplugged) {
      unplugged = true;
      platform.Unplug(device);
    }
  });
  ASSERT_TRUE(gone);
  EXPECT_TRUE(gone->DriverWentAway);
  EXPECT_FALSE(gone->CounterRead);
  EXPECT_EQ(gone->Result.Verdict, LinkVerdict::Ok);  // the line itself was fine
}

}  // namespace
}  // namespace zrv
