// zrv-cli run in-process on the simulated platform: every command, every exit code, and what
// reached the driver.
#include "cli_app.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli_options.h"
#include "cli_simulation.h"
#include "doctor.h"
#include "protocol/device_state.h"

namespace zrv::cli {
namespace {

class FakeProbes final : public IDoctorProbes {
 public:
  std::string InstalledUdevRule() override { return rule; }
  SessionKind Session() override { return session; }
  std::optional<NodeFacts> Node(const std::string&) override { return node; }
  bool AccessIsByPermission() override { return byPermission; }
  bool byPermission = true;
  std::string rule;
  SessionKind session = SessionKind::LocalSeat;
  std::optional<NodeFacts> node;
};

struct Result {
  int code = -1;
  std::string out;
  std::string err;
};

class CliApp : public ::testing::Test {
 protected:
  Result Run(Simulation& sim, std::vector<std::string> args) {
    std::ostringstream out;
    std::ostringstream err;
    CliContext context;
    context.platform = &sim.Platform();
    context.probes = &probes_;
    context.out = &out;
    context.err = &err;
    Result r;
    r.code = RunCli(args, context);
    r.out = out.str();
    r.err = err.str();
    return r;
  }

  static QJsonObject ParseObject(const std::string& line) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
    EXPECT_TRUE(doc.isObject()) << line;
    return doc.object();
  }

  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // Command codes of the reports the driver received, in order.
  static std::vector<int> Codes(Simulation& sim, std::size_t driver = 0) {
    std::vector<int> codes;
    for (const auto& r : sim.Drivers().at(driver)->Driver().Received()) codes.push_back(r.Code());
    return codes;
  }

  std::string TempFile(const std::string& content) {
    // Named by process and test: CTest runs the cases as processes side by side, and one case's
    // full settings file must not stand in for another's half-written one.
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("zrv-cli-test-" + std::to_string(QCoreApplication::applicationPid()) + "-" +
         ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-" + std::to_string(files_.size()) + ".json");
    std::ofstream(path) << content;
    files_.push_back(path);
    return path.string();
  }

  void TearDown() override {
    for (const auto& f : files_) std::filesystem::remove(f);
  }

  FakeProbes probes_;
  std::vector<std::filesystem::path> files_;
};

TEST_F(CliApp, ListShowsEveryDeviceWithDriverAndAccess) {
  Simulation sim("denied");
  const Result r = Run(sim, {"list", "--json"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  const QJsonArray devices = ParseObject(r.out)["devices"].toArray();
  ASSERT_EQ(devices.size(), 2);
  const QJsonObject mouse = devices[0].toObject();
  const QJsonObject driver = devices[1].toObject();
  EXPECT_EQ(mouse["driver"].toBool(), false);
  EXPECT_EQ(mouse["read_write"].toBool(), true);
  EXPECT_EQ(mouse["vid"].toInt(), 0x046D);
  EXPECT_EQ(driver["node"].toString(), "/dev/hidraw1");
  EXPECT_EQ(driver["id"].toString(), "1234:5678");
  EXPECT_EQ(driver["product"].toString(), "ZRVXXX");
  EXPECT_EQ(driver["driver"].toBool(), true);
  EXPECT_EQ(driver["read_write"].toBool(), false);
  EXPECT_EQ(driver["index"].toInt(), 1);
  EXPECT_TRUE(Codes(sim).empty()) << "list must send nothing";
}

TEST_F(CliApp, InfoStatusRegistersAndModbusGetGiveTheDriversValuesAsNumbers) {
  Simulation sim("silent");  // quiet until told otherwise: the readings stay where the test puts them
  auto& model = sim.Drivers()[0]->Driver();
  model.Faults().SilentAll = false;
  model.Model().FirmwareByte = -3;
  model.Model().Modbus = {38400, 1, 17};
  model.Model().Status.PwmAct = -200;
  model.Model().Status.PowerSupply = 0xFFFFFFFFu;
  model.Model().Status.CurAct = -1000;
  model.Model().Status.Outputs = 0x08;
  model.Model().GoodFrames = 4660;
  const std::int32_t encoder = -2;
  std::memcpy(model.Model().Registers.Bytes.data() + 52, &encoder, sizeof encoder);

  Result r = Run(sim, {"info", "--json"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  QJsonObject o = ParseObject(r.out);
  EXPECT_EQ(o["name"].toString(), "SIM");
  EXPECT_DOUBLE_EQ(o["firmware_version"].toDouble(), -0.03);
  EXPECT_DOUBLE_EQ(o["hardware_version"].toDouble(), 1.03);
  EXPECT_EQ(o["limits"].toObject()["current_max_ma"].toInt(), 10000);
  EXPECT_EQ(o["modbus"].toObject()["slave_id"].toInt(), 17);
  EXPECT_EQ(o["modbus"].toObject()["parity"].toString(), "odd");

  r = Run(sim, {"status", "--json"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  o = ParseObject(r.out);
  EXPECT_EQ(o["pwm"].toInt(), -200);
  EXPECT_EQ(o["supply_mv"].toDouble(), 4294967295.0);
  EXPECT_EQ(o["current_ma"].toInt(), -1000);
  EXPECT_TRUE(o["out1"].toBool());
  EXPECT_FALSE(o["out2"].toBool());
  EXPECT_FALSE(o.contains("elapsed_ms"));

  r = Run(sim, {"registers", "--json"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  o = ParseObject(r.out);
  EXPECT_EQ(o["good_frames"].toInt(), 4660);
  const QJsonArray rows = o["registers"].toArray();
  ASSERT_EQ(rows.size(), 15);
  EXPECT_EQ(rows[14].toObject()["name"].toString(), "EnoderCnt");
  EXPECT_EQ(rows[14].toObject()["addr"].toInt(), 112);
  EXPECT_EQ(rows[14].toObject()["value"].toInt(), -2);

  r = Run(sim, {"modbus", "get", "--json"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(r.out, "{\"baud\":38400,\"parity\":\"odd\",\"slave_id\":17}\n");

  r = Run(sim, {"status"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_NE(r.out.find("PWM:           -20 %"), std::string::npos) << r.out;
  EXPECT_EQ(Codes(sim), (std::vector<int>{10, 11, 12, 20, 10, 11}));
}

TEST_F(CliApp, WatchRepeatsAtTheIntervalAndStopsAfterCount) {
  Simulation sim("driver");
  Result r = Run(sim, {"status", "--watch", "--interval", "10", "--count", "4", "--json"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 4u);
  // A reply later than its period sends the next request at once, and a quick answer can then
  // come within the same millisecond: the times never go back, and the waits add up. Request n is
  // sent no sooner than n intervals after the start; the bound leaves room for a timer that fires
  // a little early.
  long long previous = -1;
  for (const auto& line : lines) {
    const QJsonObject o = ParseObject(line);
    ASSERT_TRUE(o["elapsed_ms"].isDouble());
    EXPECT_GE(o["elapsed_ms"].toInteger(), previous);
    previous = o["elapsed_ms"].toInteger();
  }
  EXPECT_GE(previous, 20);
  EXPECT_EQ(Codes(sim), (std::vector<int>{11, 11, 11, 11}));

  sim.Drivers()[0]->Driver().ClearReceived();
  r = Run(sim, {"status", "--watch", "--interval", "10", "--count", "2", "--csv"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  const auto rows = Lines(r.out);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].rfind("time,elapsed [s],event,", 0), 0u) << rows[0];
  EXPECT_EQ(Codes(sim), (std::vector<int>{10, 11, 11}));

  sim.Drivers()[0]->Driver().ClearReceived();
  r = Run(sim, {"registers", "--watch", "--interval", "10", "--count", "2"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(Codes(sim), (std::vector<int>{12, 12}));
}

TEST_F(CliApp, OnlyItsOwnRequestsReachTheDriverBetweenReadings) {
  // The identity comes first for the text output; the session must not start polling on it, or
  // status requests would go out between the readings.
  Simulation sim("driver");
  const Result r = Run(sim, {"status", "--watch", "--interval", "300", "--count", "2"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(Codes(sim), (std::vector<int>{10, 11, 11}));
}

TEST_F(CliApp, ModbusSetWritesTheExactReportKeepsUnsetValuesAndReadsBack) {
  Simulation sim("silent");
  auto& model = sim.Drivers()[0]->Driver();
  model.Faults().SilentAll = false;
  model.Model().Modbus = {19200, 2, 1};

  const Result r = Run(sim, {"modbus", "set", "--baud", "115200", "--parity", "odd", "--json"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  const QJsonObject o = ParseObject(r.out);
  EXPECT_TRUE(o["match"].toBool());
  EXPECT_EQ(o["read_back"].toObject()["slave_id"].toInt(), 1);
  EXPECT_EQ(model.Model().Modbus.Baudrate, 115200u);
  EXPECT_EQ(model.Model().Modbus.Parity, 1);
  EXPECT_EQ(model.Model().Modbus.SlaveId, 1);

  ASSERT_EQ(Codes(sim), (std::vector<int>{20, 148, 20}));
  std::vector<std::uint8_t> expected(64, 0);
  const std::uint8_t head[] = {0x01, 0x94, 0x00, 0xC2, 0x01, 0x00, 0x01, 0x01};
  std::copy(std::begin(head), std::end(head), expected.begin());
  EXPECT_EQ(model.Received()[1].Bytes, expected);
}

TEST_F(CliApp, SettingsSavedAsJsonRestoreAnotherDriver) {
  Simulation sim("two");
  auto& first = sim.Drivers()[0]->Driver();
  auto& second = sim.Drivers()[1]->Driver();
  first.Model().Modbus = {57600, 0, 42};
  second.Model().Modbus = {9600, 2, 7};

  Result r = Run(sim, {"modbus", "get", "--json", "--device", "/dev/hidraw1"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  const std::string file = TempFile(r.out);
  r = Run(sim, {"modbus", "set", "--from", file, "--device", "2"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  EXPECT_EQ(second.Model().Modbus.Baudrate, 57600u);
  EXPECT_EQ(second.Model().Modbus.Parity, 0);
  EXPECT_EQ(second.Model().Modbus.SlaveId, 42);
  EXPECT_EQ(Codes(sim, 0), (std::vector<int>{20}));
}

TEST_F(CliApp, BadInputNeverReachesTheDriver) {
  Simulation sim("silent");
  auto& model = sim.Drivers()[0]->Driver();
  model.Faults().SilentAll = false;

  EXPECT_EQ(Run(sim, {"modbus", "set", "--slave-id", "0"}).code, kExitUsage);
  EXPECT_EQ(Run(sim, {"modbus", "set", "--slave-id", "128"}).code, kExitUsage);
  EXPECT_EQ(Run(sim, {"modbus", "set", "--baud", "14400"}).code, kExitUsage);
  EXPECT_EQ(Run(sim, {"modbus", "set", "--parity", "mark"}).code, kExitUsage);
  EXPECT_EQ(Run(sim, {"modbus", "set", "--from", TempFile("{\"baud\":9600,\"parity\":\"none\"}")}).code, kExitUsage);
  EXPECT_EQ(Run(sim, {"modbus", "set", "--from", TempFile("garbage")}).code, kExitUsage);
  EXPECT_EQ(Run(sim, {"modbus", "set", "--from", "/nonexistent/settings.json"}).code, kExitUsage);
  EXPECT_EQ(Run(sim, {"modbus", "set", "--dry-run", "--slave-id", "3"}).code, kExitUsage);
  EXPECT_TRUE(Codes(sim).empty());

  // The driver holds a slave id the window could never send: keeping it would write 0.
  model.Model().Modbus = {19200, 2, 0};
  const Result r = Run(sim, {"modbus", "set", "--baud", "9600"});
  EXPECT_EQ(r.code, kExitUsage);
  EXPECT_NE(r.err.find("slave id"), std::string::npos) << r.err;
  EXPECT_EQ(Codes(sim), (std::vector<int>{20})) << "only the read of the present settings";
  EXPECT_EQ(model.Model().Modbus.Baudrate, 19200u);
}

TEST_F(CliApp, DryRunPrintsTheReportAndSendsNothing) {
  Simulation sim("driver");
  const Result r = Run(sim, {"modbus", "set", "--dry-run", "--slave-id", "5", "--baud", "19200", "--parity", "odd",
                             "--json"});
  ASSERT_EQ(r.code, kExitOk) << r.err;
  const QJsonObject o = ParseObject(r.out);
  EXPECT_EQ(o["length"].toInt(), 64);
  EXPECT_EQ(o["report"].toString().left(23), "01 94 00 4b 00 00 01 05");
  EXPECT_EQ(o["report"].toString().count("00"), 56 + 3);  // three in the baud rate
  EXPECT_TRUE(Codes(sim).empty());
}

TEST_F(CliApp, ExitCodesForNoneSeveralDeniedSilentLateAndMismatch) {
  {
    Simulation sim("none");
    const Result r = Run(sim, {"info"});
    EXPECT_EQ(r.code, kExitNoDriver);
    EXPECT_NE(r.err.find("no driver"), std::string::npos);
  }
  {
    Simulation sim("two");
    Result r = Run(sim, {"status"});
    EXPECT_EQ(r.code, kExitSeveralDrivers);
    EXPECT_NE(r.err.find("--device /dev/hidraw1"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--device /dev/hidraw2"), std::string::npos) << r.err;
    EXPECT_EQ(Run(sim, {"info", "--device", "0"}).code, kExitNoDriver) << "index 0 is the mouse";
    EXPECT_EQ(Run(sim, {"info", "--device", "/dev/hidraw9"}).code, kExitNoDriver);
    EXPECT_TRUE(Codes(sim, 0).empty() && Codes(sim, 1).empty());
    EXPECT_EQ(Run(sim, {"info", "--device", "2"}).code, kExitOk);
    EXPECT_TRUE(Codes(sim, 0).empty());
    EXPECT_EQ(Codes(sim, 1), (std::vector<int>{10}));
  }
  {
    Simulation sim("denied");
    const Result r = Run(sim, {"modbus", "get"});
    EXPECT_EQ(r.code, kExitNoAccess);
    EXPECT_NE(r.err.find("fix: "), std::string::npos) << r.err;
  }
  {
    Simulation sim("silent");
    const Result r = Run(sim, {"info", "--timeout", "50"});
    EXPECT_EQ(r.code, kExitNoAnswer);
    EXPECT_NE(r.err.find("50 ms"), std::string::npos) << r.err;
  }
  {
    Simulation sim("late");  // answers after 1.5 s
    EXPECT_EQ(Run(sim, {"info", "--timeout", "100"}).code, kExitNoAnswer);
    EXPECT_EQ(Run(sim, {"modbus", "get", "--timeout", "20000"}).code, kExitOk);
  }
  {
    Simulation sim("mismatch");
    const Result r = Run(sim, {"modbus", "set", "--slave-id", "9"});
    EXPECT_EQ(r.code, kExitMismatch);
    EXPECT_NE(r.err.find("differ"), std::string::npos);
    EXPECT_EQ(Codes(sim), (std::vector<int>{20, 148, 20}));
  }
}

TEST_F(CliApp, DoctorNamesEachObstacleAndItsFix) {
  {
    Simulation sim("lookalike");
    const Result r = Run(sim, {"doctor", "--json"});
    EXPECT_EQ(r.code, kExitNoDriver);
    const QJsonArray findings = ParseObject(r.out)["findings"].toArray();
    ASSERT_EQ(findings.size(), 2);
    EXPECT_NE(findings[0].toObject()["message"].toString().indexOf("no driver"), -1);
    EXPECT_NE(findings[1].toObject()["message"].toString().indexOf("\"ZRVXXX \""), -1);
  }
  {
    Simulation sim("denied");
    probes_.rule = "";
    Result r = Run(sim, {"doctor"});
    EXPECT_EQ(r.code, kExitNoAccess);
    EXPECT_NE(r.out.find("not installed"), std::string::npos) << r.out;
    probes_.rule = "/usr/lib/udev/rules.d/70-zrv-pc.rules";
    probes_.session = SessionKind::Remote;
    r = Run(sim, {"doctor"});
    EXPECT_NE(r.out.find("remote session (SSH)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("GROUP="), std::string::npos) << r.out;
    probes_.session = SessionKind::LocalSeat;
    probes_.node = NodeFacts{0600, 0, 0, "root", "root", true};
    r = Run(sim, {"doctor"});
    EXPECT_NE(r.out.find("mode 0600, owner root"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("replug"), std::string::npos) << r.out;
  }
  {
    Simulation sim("silent");
    const Result r = Run(sim, {"doctor", "--timeout", "30"});
    EXPECT_EQ(r.code, kExitNoAnswer);
    EXPECT_NE(r.out.find("does not answer"), std::string::npos);
  }
  {
    Simulation sim("two");
    const Result r = Run(sim, {"doctor"});
    EXPECT_EQ(r.code, kExitOk);
    EXPECT_EQ(Codes(sim, 0), (std::vector<int>{10}));
    EXPECT_EQ(Codes(sim, 1), (std::vector<int>{10}));
  }
}

TEST_F(CliApp, UnplugWhileWatchingEndsWithNoDriver) {
  Simulation sim("driver");
  QTimer::singleShot(150, [&] {
    for (const auto& device : sim.Platform().Present()) {
      if (device->Path() == "/dev/hidraw1") sim.Platform().Unplug(device);
    }
  });
  const Result r = Run(sim, {"status", "--watch", "--interval", "20", "--json"});
  EXPECT_EQ(r.code, kExitNoDriver) << r.err;
  EXPECT_NE(r.err.find("unplugged"), std::string::npos) << r.err;
  EXPECT_FALSE(r.out.empty()) << "readings before the unplug";
}

TEST_F(CliApp, AWriteTheDriverRefusesEndsTheWaitAtOnceWithNoAnswer) {
  // The refusal comes back from the writer thread: the wait must end on it, not on the time-out.
  Simulation sim("driver");
  for (const auto& device : sim.Platform().Present()) {
    if (device->Path() == "/dev/hidraw1") device->SetFailWrites(true);
  }
  const Result r = Run(sim, {"modbus", "get", "--timeout", "30000"});
  EXPECT_EQ(r.code, kExitNoAnswer) << r.err;
  EXPECT_NE(r.err.find("the driver at /dev/hidraw1 refused the settings request"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());
}

TEST(CliDoctor, LookalikeNamesAreCloseButNotTheDriversName) {
  for (const char* close : {"ZRVXXX ", "zrvxxx", "ZRVXX", "ZRVXXXX", "ZRV-XXX", " ZRVXXX"}) {
    EXPECT_TRUE(LooksLikeDriverName(close)) << close;
  }
  for (const char* far : {"ZRVXXX", "", "USB Optical Mouse", "ABCDEF", "Keyboard"}) {
    EXPECT_FALSE(LooksLikeDriverName(far)) << far;
  }
}

TEST(CliDoctor, ANodeOffUsbIsNotHelpedByTheRule) {
  FakeProbes probes;
  probes.rule = "/etc/udev/rules.d/70-zrv-pc.rules";
  probes.node = NodeFacts{0600, 0, 0, "root", "root", false};
  DeviceEntry driver;
  driver.Node = "/dev/hidraw4";
  driver.IsDriver = true;
  const Finding f = DiagnoseNoAccess(driver, probes);
  EXPECT_NE(f.Problem.find("not on USB"), std::string::npos) << f.Problem;
  EXPECT_NE(f.Fix.find("sudo"), std::string::npos);
}

TEST(CliDoctor, WhereAccessIsNotByPermissionTheHolderIsToBlameNotARule) {
  FakeProbes probes;  // no rule installed, a remote session: both beside the point here
  probes.byPermission = false;
  probes.session = SessionKind::Remote;
  DeviceEntry driver;
  driver.Node = "\\\\?\\hid#vid_1234&pid_5678#1&2&0#{4d1e55b2-f16f-11cf-88cb-001111000030}";
  driver.IsDriver = true;
  const Finding f = DiagnoseNoAccess(driver, probes);
  EXPECT_NE(f.Problem.find("another program"), std::string::npos) << f.Problem;
  EXPECT_NE(f.Problem.find(driver.Node), std::string::npos) << f.Problem;
  EXPECT_EQ(f.Problem.find("udev"), std::string::npos) << f.Problem;
  EXPECT_EQ(f.Fix.find("sudo"), std::string::npos) << f.Fix;

  // The whole report says the same and exits as for any driver that cannot be opened.
  const DoctorReport report = Diagnose({driver}, probes, {}, 500);
  ASSERT_EQ(report.Findings.size(), 1u);
  EXPECT_EQ(report.Findings[0].Problem, f.Problem);
  EXPECT_EQ(report.ExitCode, kExitNoAccess);
}

TEST(CliDoctor, SerialPortsAreJudgedForAccessHoldersAndModemManagerWithoutChangingTheExitStatus) {
  SerialPortFacts free{"/dev/ttyUSB0", "FT232R USB UART", std::nullopt, true, {}};
  SerialPortFacts denied{"/dev/ttyUSB1", "", NodeFacts{0660, 0, 20, "root", "dialout", true}, false, {}};
  SerialPortFacts held{"/dev/ttyACM0", "", std::nullopt, true, {"ModemManager (812)"}};
  SerialFacts facts{{free, denied, held}, false, false, true};
  std::vector<Finding> findings = DiagnoseSerial(facts);
  ASSERT_EQ(findings.size(), 4u);
  EXPECT_TRUE(findings[0].Ok);
  EXPECT_EQ(findings[0].Problem, "the serial port /dev/ttyUSB0 (FT232R USB UART) can be opened");
  EXPECT_FALSE(findings[1].Ok);
  EXPECT_NE(findings[1].Problem.find("mode 0660, group dialout"), std::string::npos) << findings[1].Problem;
  EXPECT_NE(findings[1].Fix.find("sudo usermod -aG dialout $USER"), std::string::npos) << findings[1].Fix;
  EXPECT_NE(findings[2].Problem.find("held by ModemManager (812)"), std::string::npos);
  EXPECT_NE(findings[2].Fix.find("ID_MM_DEVICE_IGNORE"), std::string::npos);
  EXPECT_NE(findings[3].Problem.find("ModemManager is running"), std::string::npos);

  // Added to dialout after this login began: only a new login helps.
  facts.ListedInDialout = true;
  EXPECT_NE(DiagnoseSerial(facts)[1].Fix.find("log out and in again"), std::string::npos);
  EXPECT_EQ(DiagnoseSerial(facts)[1].Fix.find("usermod"), std::string::npos);
  // No adapter, no word about serial ports.
  EXPECT_TRUE(DiagnoseSerial({}).empty());

  // A working driver with a bad port beside it still passes.
  class SerialProbes final : public IDoctorProbes {
   public:
    explicit SerialProbes(SerialFacts f) : facts_(std::move(f)) {}
    std::string InstalledUdevRule() override { return "/etc/udev/rules.d/70-zrv-pc.rules"; }
    SessionKind Session() override { return SessionKind::LocalSeat; }
    std::optional<NodeFacts> Node(const std::string&) override { return std::nullopt; }
    SerialFacts Serial() override { return facts_; }

   private:
    SerialFacts facts_;
  } probes(facts);
  DeviceEntry driver;
  driver.Index = 0;
  driver.Node = "/dev/hidraw0";
  driver.IsDriver = true;
  driver.ReadWrite = true;
  const DoctorReport report = Diagnose({driver}, probes, {{0, true}}, 500);
  EXPECT_EQ(report.ExitCode, kExitOk);
  ASSERT_EQ(report.Findings.size(), 5u);
  EXPECT_EQ(report.Findings[0].Node, "/dev/hidraw0");
}

}  // namespace
}  // namespace zrv::cli
