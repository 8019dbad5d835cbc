// The link test through a Windows COM port whose far end is the simulated driver's RS485 side (under
// wine, a COM port mapped to a Linux pseudo-terminal served by zrv-uhid-driver --no-hid). The
// port and the driver's settings come from ZRV_TEST_COM_PORT ("COM9") and ZRV_TEST_COM_LINE
// ("slave,baud,parity": "7,19200,none"); without them there is no line and the cases skip.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <chrono>
#include <optional>

#include "bus/serial_port_list.h"
#include "rs485/link_test_runner.h"
#include "rs485/serial_port_transport.h"

namespace zrv {
namespace {

using modbus::LinkVerdict;

struct Line {
  QString port;
  std::uint8_t slave = 0;
  modbus::LineSettings settings;
};

std::optional<Line> LineFromEnvironment() {
  const QString port = qEnvironmentVariable("ZRV_TEST_COM_PORT");
  const QStringList parts = qEnvironmentVariable("ZRV_TEST_COM_LINE").split(QLatin1Char(','));
  if (port.isEmpty() || parts.size() != 3) return std::nullopt;
  const std::uint8_t parity = parts[2] == QLatin1String("even") ? 2 : parts[2] == QLatin1String("odd") ? 1 : 0;
  return Line{port, static_cast<std::uint8_t>(parts[0].toUInt()), {parts[1].toUInt(), parity}};
}

// One link test of `rounds` on the port; nothing is known through USB here.
std::optional<modbus::LinkTestResult> TestOn(const Line& line, std::uint8_t slave, int rounds) {
  SerialPortTransport port(line.port);
  const auto start = std::chrono::steady_clock::now();
  LinkTestRunner runner(port, RealTimeSource(), [start] {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count());
  });
  std::optional<modbus::LinkTestResult> result;
  runner.OnFinished = [&](const modbus::LinkTest& test) { result = test.Verdict({}); };
  if (!runner.Start({line.settings, slave, rounds})) return std::nullopt;
  QElapsedTimer bound;  // only stops a broken test
  bound.start();
  while (!result && bound.elapsed() < 30000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return result;
}

class ComPortLink : public ::testing::Test {
 protected:
  void SetUp() override {
    line_ = LineFromEnvironment();
    if (!line_) GTEST_SKIP() << "no COM port on a simulated driver's line (ZRV_TEST_COM_PORT, ZRV_TEST_COM_LINE)";
  }
  std::optional<Line> line_;
};

TEST_F(ComPortLink, ThePortIsListedAndTheDriverAnswersEveryRead) {
  bool listed = false;
  for (const bus::SerialPortInfo& info : bus::ListSerialPorts()) listed = listed || info.path == line_->port;
  EXPECT_TRUE(listed) << line_->port.toStdString() << " is not among the machine's serial ports";

  const std::optional<modbus::LinkTestResult> ok = TestOn(*line_, line_->slave, 3);
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->Verdict, LinkVerdict::Ok);
  EXPECT_GT(ok->Sent, 0U);
  EXPECT_EQ(ok->Answered, ok->Sent);
}

TEST_F(ComPortLink, AnotherAddressGetsNoAnswerAndAMissingPortIsAPortError) {
  const std::uint8_t other = static_cast<std::uint8_t>(line_->slave == 1 ? 2 : 1);
  const std::optional<modbus::LinkTestResult> silent = TestOn(*line_, other, 1);
  ASSERT_TRUE(silent);
  EXPECT_EQ(silent->Answered, 0U);
  EXPECT_NE(silent->Verdict, LinkVerdict::Ok);

  Line missing = *line_;
  missing.port = QStringLiteral("COM250");
  const std::optional<modbus::LinkTestResult> absent = TestOn(missing, missing.slave, 1);
  ASSERT_TRUE(absent);
  EXPECT_EQ(absent->Verdict, LinkVerdict::PortError);
}

}  // namespace
}  // namespace zrv
