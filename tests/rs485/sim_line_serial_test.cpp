// The simulated driver's line with its far end on a serial port: here one end of a pair of
// pseudo-terminals joined in this process, the tool on the other end, on real time. Verdicts and
// settings only: no time is asserted.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <chrono>
#include <functional>
#include <optional>

#include "bus/pty_line.h"
#include "protocol/report_framing.h"
#include "rs485/link_test_runner.h"
#include "rs485/serial_port_transport.h"
#include "rs485/sim_line_pty.h"

namespace zrv {
namespace {

// Two pseudo-terminals whose masters pass each other's bytes: a null-modem cable between the two
// terminal ends, as a pair made by a tool outside would be.
struct PtyPair {
  bus::PtyLine a;
  bus::PtyLine b;
  bool Open() {
    QString error;
    if (!a.Open({}, &error) || !b.Open({}, &error)) return false;
    QObject::connect(&a, &bus::PtyLine::Received, &b, &bus::PtyLine::Send);
    QObject::connect(&b, &bus::PtyLine::Received, &a, &bus::PtyLine::Send);
    return true;
  }
};

bool SpinUntil(const std::function<bool()>& done) {
  QElapsedTimer bound;  // only stops a broken test
  bound.start();
  while (!done() && bound.elapsed() < 20000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return done();
}

std::optional<modbus::LinkVerdict> RunLinkTest(const QString& port, SimDriverModel& model,
                                               const modbus::LineSettings& line, std::uint8_t slave) {
  SerialPortTransport transport(port);
  const auto start = std::chrono::steady_clock::now();
  LinkTestRunner runner(transport, RealTimeSource(), [start] {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count());
  });
  modbus::UsbView usb;
  model.WithDriver([&](sim::SimulatedDriver& d) {
    usb.CounterBefore = d.Model().GoodFrames;
    usb.RegistersBefore = d.Model().Registers;
    usb.RegistersAfter = d.Model().Registers;
  });
  std::optional<modbus::LinkVerdict> verdict;
  runner.OnFinished = [&](const modbus::LinkTest& test) {
    model.WithDriver([&](sim::SimulatedDriver& d) { usb.CounterAfter = d.Model().GoodFrames; });
    verdict = test.Verdict(usb).Verdict;
  };
  if (!runner.Start({line, slave, 4})) return std::nullopt;
  SpinUntil([&] { return verdict.has_value(); });
  return verdict;
}

TEST(SimLineSerialTest, TheFarEndOnASerialPortAnswersAndFollowsASave) {
  PtyPair pair;
  ASSERT_TRUE(pair.Open());
  auto model = std::make_shared<SimDriverModel>();
  model->WithDriver([](sim::SimulatedDriver& d) { d.Model().Modbus = {38400, 0, 17}; });
  SimLinePty far(model);
  QString error;
  ASSERT_TRUE(far.OpenSerial(pair.b.PortPath(), &error)) << error.toStdString();
  EXPECT_EQ(far.PortPath(), pair.b.PortPath());
  ASSERT_TRUE(far.SerialSettings());
  EXPECT_EQ(far.SerialSettings()->Baudrate, 38400u);
  EXPECT_EQ(far.SerialSettings()->Parity, 0);

  EXPECT_EQ(RunLinkTest(pair.a.PortPath(), *model, {38400, 0}, 17), modbus::LinkVerdict::Ok);

  // A Save over USB, as the tool frames it: the far end reopens at the new settings, and a master
  // at the new settings and address is answered.
  const auto payload = BuildWriteModbusSettingsPayload({115200, 2, 5});
  OutputReport save;
  ASSERT_TRUE(FrameReport(payload.data(), static_cast<std::uint32_t>(payload.size()),
                          static_cast<std::uint32_t>(sim::kReportLength), save));
  model->WithDriver([&](sim::SimulatedDriver& d) { ASSERT_TRUE(d.OnOutputReport(save.Buffer.data(), save.Length)); });
  ASSERT_TRUE(SpinUntil([&] {
    const auto now = far.SerialSettings();
    return now && now->Baudrate == 115200u && now->Parity == 2;
  }));
  EXPECT_EQ(RunLinkTest(pair.a.PortPath(), *model, {115200, 2}, 5), modbus::LinkVerdict::Ok);
  // The old address is no longer the driver's.
  EXPECT_NE(RunLinkTest(pair.a.PortPath(), *model, {115200, 2}, 17), modbus::LinkVerdict::Ok);
}

TEST(SimLineSerialTest, APortThatIsNotThereIsRefusedWithTheReason) {
  SimLinePty far(std::make_shared<SimDriverModel>());
  QString error;
  EXPECT_FALSE(far.OpenSerial(QStringLiteral("/dev/ttyZRV-absent"), &error));
  EXPECT_TRUE(error.contains(QStringLiteral("/dev/ttyZRV-absent"))) << error.toStdString();
  EXPECT_FALSE(far.SerialSettings());
}

}  // namespace
}  // namespace zrv
