// The link test through real serial I/O: the tool's port on one end of a pseudo-terminal, the
// simulated driver's paced line on the other, on real time. Verdicts only: no time is asserted.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <chrono>
#include <optional>

#include "rs485/link_test_runner.h"
#include "rs485/serial_port_transport.h"
#include "rs485/sim_line_pty.h"

namespace zrv {
namespace {

using modbus::LinkVerdict;

struct Outcome {
  modbus::LinkTestResult result;
  modbus::RegisterTable table = modbus::RegisterTable::Holding;
};

// One run against the simulated driver at slave 9, 115200 8E1, with `fault` on its line.
std::optional<Outcome> RunOnPty(sim::Rs485Fault fault, const QString& portOverride = {}) {
  auto model = std::make_shared<SimDriverModel>();
  model->WithDriver([](sim::SimulatedDriver& d) { d.Model().Modbus = {115200, 2, 9}; });
  SimLinePty far(model);
  QString error;
  if (!far.Open({}, &error)) return std::nullopt;
  far.SetFault(fault);
  SerialPortTransport port(portOverride.isEmpty() ? far.PortPath() : portOverride);
  const auto start = std::chrono::steady_clock::now();
  LinkTestRunner runner(port, RealTimeSource(), [start] {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count());
  });
  std::uint16_t before = 0;
  RegisterBlock registers{};
  model->WithDriver([&](sim::SimulatedDriver& d) {
    before = d.Model().GoodFrames;
    registers = d.Model().Registers;
  });
  std::optional<Outcome> outcome;
  runner.OnFinished = [&](const modbus::LinkTest& test) {
    modbus::UsbView usb;
    usb.CounterBefore = before;
    model->WithDriver([&](sim::SimulatedDriver& d) { usb.CounterAfter = d.Model().GoodFrames; });
    usb.RegistersBefore = registers;
    usb.RegistersAfter = registers;
    outcome = Outcome{test.Verdict(usb), test.Table()};
  };
  if (!runner.Start({{115200, 2}, 9, 4})) return std::nullopt;
  QElapsedTimer bound;  // only stops a broken test
  bound.start();
  while (!outcome && bound.elapsed() < 20000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return outcome;
}

TEST(SerialLinkTest, EachLineFaultGivesItsVerdictThroughARealSerialPort) {
  const std::optional<Outcome> ok = RunOnPty(sim::Rs485Fault::None);
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->result.Verdict, LinkVerdict::Ok);
  EXPECT_EQ(ok->result.Answered, ok->result.Sent);
  EXPECT_EQ(ok->table, modbus::RegisterTable::Holding);

  const std::optional<Outcome> deaf = RunOnPty(sim::Rs485Fault::Deaf);
  ASSERT_TRUE(deaf);
  EXPECT_EQ(deaf->result.Verdict, LinkVerdict::DriverHearsNoAnswer);

  const std::optional<Outcome> swapped = RunOnPty(sim::Rs485Fault::Swapped);
  ASSERT_TRUE(swapped);
  EXPECT_EQ(swapped->result.Verdict, LinkVerdict::NothingReachesDriver);

  const std::optional<Outcome> echo = RunOnPty(sim::Rs485Fault::Echo);
  ASSERT_TRUE(echo);
  EXPECT_TRUE(echo->result.Echo);
}

TEST(SerialLinkTest, APortThatIsNotThereEndsTheTestWithAPortError) {
  const std::optional<Outcome> missing = RunOnPty(sim::Rs485Fault::None, QStringLiteral("/dev/ttyZRV-absent"));
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->result.Verdict, LinkVerdict::PortError);
}

}  // namespace
}  // namespace zrv
