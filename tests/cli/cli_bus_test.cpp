// zrv-cli's bus commands in-process against the simulated driver, its RS485 side on a
// pseudo-terminal: verdicts in words and keys, exit statuses, and that nothing but reads went out.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "bus_output.h"
#include "cli_app.h"
#include "cli_simulation.h"

namespace zrv::cli {
namespace {

struct Result {
  int code = -1;
  std::string out;
  std::string err;
  QJsonObject json;
};

class CliBus : public ::testing::Test {
 protected:
  Result Run(Simulation& sim, const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    CliContext context;
    context.platform = &sim.Platform();
    context.simulation = &sim;
    context.out = &out;
    context.err = &err;
    context.busWritten = [this](std::span<const std::uint8_t> bytes) {
      frames_.emplace_back(bytes.begin(), bytes.end());
    };
    Result r;
    r.code = RunCli(args, context);
    r.out = out.str();
    r.err = err.str();
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(r.out));
    if (doc.isObject()) r.json = doc.object();
    return r;
  }

  // The tool never writes to the driver over RS485: every frame a bus command sent is a read of
  // holding or input registers or the echo test.
  void TearDown() override {
    for (const std::vector<std::uint8_t>& f : frames_) {
      ASSERT_EQ(f.size(), 8U);
      EXPECT_TRUE(f[1] == 0x03 || f[1] == 0x04 || f[1] == 0x08) << int(f[1]);
    }
  }

  std::vector<std::vector<std::uint8_t>> frames_;
};

TEST_F(CliBus, AHealthyLineIsOkInWordsAndInJson) {
  Simulation sim("driver");
  const Result text = Run(sim, {"--simulate", "bus", "test", "--count", "3"});
  EXPECT_EQ(text.code, 0) << text.err;
  EXPECT_NE(text.out.find("result: the line works: the driver answered 6 of 6 requests"), std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("the values agree with what the driver shows over USB"), std::string::npos);
  const std::size_t textFrames = frames_.size();
  EXPECT_EQ(textFrames, 6U);

  // Again on the same line: a port opened again and written at once is heard in time.
  const Result json = Run(sim, {"--simulate", "bus", "test", "--count", "2", "--json"});
  EXPECT_EQ(json.code, 0) << json.err;
  EXPECT_EQ(json.json.value("verdict").toString(), "ok") << json.out;
  EXPECT_EQ(json.json.value("answered").toInt(), 4);
  EXPECT_EQ(json.json.value("sent").toInt(), 4);
  EXPECT_GE(json.json.value("counter_rise").toInt(), 4);
  EXPECT_EQ(json.json.value("counter_after").toInt() - json.json.value("counter_before").toInt(),
            json.json.value("counter_rise").toInt());
  EXPECT_GT(json.json.value("max_ms").toDouble(), 0.0);
  EXPECT_EQ(json.json.value("settings").toObject().value("baud").toInt(), 19200);
  EXPECT_TRUE(json.json.value("port_problem").isNull());
  EXPECT_EQ(json.json.value("port").toString(), sim.Rs485Port());
  EXPECT_EQ(frames_.size(), textFrames + 4);
}

TEST_F(CliBus, LineFaultsGetTheirVerdictsAndExitStatus) {
  {
    Simulation sim("rs485-deaf");
    const Result r = Run(sim, {"--simulate=rs485-deaf", "bus", "test", "--count", "2", "--json"});
    EXPECT_EQ(r.code, 8);
    EXPECT_EQ(r.json.value("verdict").toString(), "driver-hears-no-answer") << r.out;
    EXPECT_EQ(r.json.value("answered").toInt(), 0);
    EXPECT_EQ(r.json.value("counter_rise").toInt(), 4);
  }
  {
    Simulation sim("rs485-swapped");
    const Result r = Run(sim, {"--simulate=rs485-swapped", "bus", "test", "--count", "2"});
    EXPECT_EQ(r.code, 8);
    EXPECT_NE(r.out.find("problem: nothing reaches the driver"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("fix: swap A and B"), std::string::npos);
  }
  {
    // A whole line asked at another address than the driver's over USB: heard, never answered,
    // and the fix is the address, not the adapter.
    Simulation sim("driver");
    const Result json = Run(sim, {"--simulate", "bus", "test", "--slave-id", "5", "--count", "2", "--json"});
    EXPECT_EQ(json.code, 8);
    EXPECT_EQ(json.json.value("verdict").toString(), "driver-hears-no-answer") << json.out;
    EXPECT_EQ(json.json.value("slave").toInt(), 5);
    EXPECT_EQ(json.json.value("driver_slave").toInt(), 1) << json.out;
    const Result text = Run(sim, {"--simulate", "bus", "test", "--slave-id", "5", "--count", "2"});
    EXPECT_NE(text.out.find("it is slave 1 over USB, the test asked slave 5\nfix: test at its address (--slave-id 1)"),
              std::string::npos)
        << text.out;
    EXPECT_EQ(text.out.find("direction control"), std::string::npos) << text.out;
  }
  EXPECT_FALSE(KnownScenario("rs485-none"));
  EXPECT_TRUE(KnownScenario("rs485-twin"));
}

TEST_F(CliBus, ReadGivesTheRegistersUsbShows) {
  Simulation sim("driver");
  // Readings frozen after a step of the lively mode, so both commands see the same values.
  sim.Drivers().front()->WithDriver([](sim::SimulatedDriver& d) {
    const auto now = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                     std::chrono::steady_clock::now().time_since_epoch())
                                                     .count());
    d.Advance(now + 5000);
    d.SetLively(false);
  });
  const Result usb = Run(sim, {"--simulate", "registers", "--json"});
  const Result line = Run(sim, {"--simulate", "bus", "read", "--json"});
  ASSERT_EQ(usb.code, 0) << usb.err;
  ASSERT_EQ(line.code, 0) << line.err;
  const QJsonArray usbRows = usb.json.value("registers").toArray();
  EXPECT_EQ(usbRows.size(), 15);
  EXPECT_EQ(line.json.value("registers").toArray(), usbRows) << line.out;
  EXPECT_NE(usbRows.at(2).toObject().value("value").toInt(), 0);  // not a block of zeros
  EXPECT_EQ(line.json.value("function").toInt(), 3);
  EXPECT_FALSE(line.json.value("fell_back").toBool());
  EXPECT_TRUE(line.json.value("settings_from_usb").toBool());
  EXPECT_EQ(frames_.size(), 2U);

  const Result input = Run(sim, {"--simulate", "bus", "read", "--function", "4"});
  EXPECT_EQ(input.code, 0) << input.err;
  EXPECT_NE(input.out.find("read: input registers (function 04)"), std::string::npos) << input.out;
  EXPECT_EQ(frames_.back()[1], 0x04);
}

TEST_F(CliBus, ScanFindsTheDriverWhereUsbSaysItListens) {
  Simulation sim("driver");
  sim.Drivers().front()->WithDriver([](sim::SimulatedDriver& d) { d.Model().Modbus = {57600, 1, 23}; });
  const Result r = Run(sim, {"--simulate", "bus", "scan", "--json"});
  EXPECT_EQ(r.code, 0) << r.err;
  const QJsonArray found = r.json.value("found").toArray();
  ASSERT_EQ(found.size(), 1) << r.out;
  const QJsonObject settings = found.at(0).toObject().value("settings").toObject();
  EXPECT_EQ(settings.value("baud").toInt(), 57600);
  EXPECT_EQ(settings.value("parity").toString(), "odd");
  EXPECT_EQ(found.at(0).toObject().value("slave").toInt(), 23);
  EXPECT_EQ(r.json.value("probes").toInt(), 1);

  // Limited to another address, nothing answers: every probe is tried, and it says so.
  const Result none = Run(sim, {"--simulate", "bus", "scan", "--baud", "57600", "--parity", "odd", "--slave-id", "5"});
  EXPECT_EQ(none.code, 8);
  EXPECT_NE(none.out.find("nothing answered"), std::string::npos) << none.out;
  EXPECT_NE(none.err.find("scanning 57600 baud, odd parity"), std::string::npos) << none.err;
}

TEST_F(CliBus, PortsAndUsage) {
  Simulation sim("driver");
  const Result ports = Run(sim, {"--simulate", "bus", "ports"});
  EXPECT_EQ(ports.code, 0);
  EXPECT_EQ(ports.out.find(sim.Rs485Port().toStdString(), ports.out.find('\n')), ports.out.find('\n') + 1)
      << ports.out;  // listed first
  EXPECT_NE(ports.out.find("Simulated driver's RS485 line"), std::string::npos);

  const Result missing = Run(sim, {"--simulate", "bus", "test", "--port", "/dev/ttyZRV-missing"});
  EXPECT_EQ(missing.code, 9);
  EXPECT_NE(missing.out.find("/dev/ttyZRV-missing does not exist: plug the adapter in"), std::string::npos)
      << missing.out;
  const Result missingJson = Run(sim, {"--simulate", "bus", "test", "--port", "/dev/ttyZRV-missing", "--json"});
  EXPECT_EQ(missingJson.json.value("verdict").toString(), "port-error");
  EXPECT_EQ(missingJson.json.value("port_problem").toString(), "missing");
  const Result readMissing = Run(sim, {"--simulate", "bus", "read", "--port", "/dev/ttyZRV-missing"});
  EXPECT_EQ(readMissing.code, 9);
  EXPECT_NE(readMissing.err.find("does not exist"), std::string::npos);

  Simulation nobody("none");
  const Result noSettings = Run(nobody, {"--simulate=none", "bus", "read", "--port", "/dev/ttyZRV-missing"});
  EXPECT_EQ(noSettings.code, 1);
  EXPECT_NE(noSettings.err.find("needs --baud, --parity and --slave-id: no driver on USB"), std::string::npos)
      << noSettings.err;
  EXPECT_EQ(Run(sim, {"bus", "read", "--function", "5"}).code, 1);
  EXPECT_EQ(Run(sim, {"bus", "test", "--all"}).code, 1);
  EXPECT_EQ(Run(sim, {"status", "--port", "/dev/ttyS0"}).code, 1);
  EXPECT_TRUE(frames_.empty());
}

// Each verdict in words: a technician reads what is wrong and what to do, and hears when the
// driver's counter could not tell the two silent cases apart.
TEST(BusVerdictText, EveryVerdictSaysWhatToDo) {
  LinkCheckReport r;
  r.Line = {9600, 0};
  r.Slave = 7;
  r.CounterRead = true;
  BusWhere w;
  w.Port = "/dev/ttyUSB0";
  w.DriverOnUsb = true;
  const auto text = [&](modbus::LinkVerdict v) {
    r.Result.Verdict = v;
    return VerdictText(r, w);
  };
  r.Result.Answered = 20;
  r.Result.Sent = 20;
  r.Result.MedianRoundTripUs = 12340;
  r.Result.MaxRoundTripUs = 20000;
  r.Usb = RegisterBlock{};
  EXPECT_EQ(text(modbus::LinkVerdict::Ok),
            "result: the line works: the driver answered 20 of 20 requests; round trip 12.34 ms median, 20.00 ms "
            "at most; the values agree with what the driver shows over USB\n");
  r.Result.Answered = 0;
  r.Result.CounterRise = 20;
  EXPECT_EQ(text(modbus::LinkVerdict::DriverHearsNoAnswer).rfind(
                "problem: the driver hears the requests (its good-frame counter rose by 20) but no answer", 0),
            0U);
  // The driver's own address over USB, the one asked: still the adapter's fault.
  r.DriverSlave = 7;
  EXPECT_NE(text(modbus::LinkVerdict::DriverHearsNoAnswer).find("direction control"), std::string::npos);
  r.DriverSlave.reset();
  EXPECT_NE(text(modbus::LinkVerdict::NothingReachesDriver).find("other settings than 9600 baud, no parity"),
            std::string::npos);
  r.Result.Answered = 15;
  r.Result.Corrupted = 3;
  EXPECT_EQ(text(modbus::LinkVerdict::Noisy).rfind(
                "problem: the line is noisy: the driver answered 15 of 20 requests, 3 answers came back damaged\nfix: ",
                0),
            0U);
  EXPECT_NE(text(modbus::LinkVerdict::Echo).find("local echo"), std::string::npos);
  EXPECT_NE(text(modbus::LinkVerdict::AnotherDevice).find("another device answers at slave 7"), std::string::npos);
  w.PortProblem = "/dev/ttyUSB0 is held by another program: close it and try again";
  EXPECT_EQ(text(modbus::LinkVerdict::PortError),
            "problem: /dev/ttyUSB0 is held by another program: close it and try again\n");
  // Without a driver on USB the counter is unknown, and the verdict and a note say so.
  r.CounterRead = false;
  w.DriverOnUsb = false;
  const std::string none = text(modbus::LinkVerdict::NoAnswer);
  EXPECT_EQ(none.rfind("problem: no answer from slave 7 at 9600 baud, no parity\nfix: ", 0), 0U) << none;
  EXPECT_NE(none.find("note: the good-frame counter could not be read: no driver on USB\n"), std::string::npos);
  w.DriverOnUsb = true;
  EXPECT_NE(text(modbus::LinkVerdict::NoAnswer).find("did not tell its good-frame counter"), std::string::npos);
}

}  // namespace
}  // namespace zrv::cli
