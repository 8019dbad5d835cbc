#include "cli_app.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>

#include "bus_commands.h"
#include "cli_options.h"
#include "cli_output.h"
#include "cli_simulation.h"
#include "driver_requests.h"
#include "settings_file.h"
// The operating system's HID backend. The Windows one lives in src/link/platform/win32/.
#ifdef _WIN32
#include "link/platform/win32/win32_hid_platform.h"
#else
#include "link/platform/linux/linux_hid_platform.h"
#endif
#include "link/ttimer.h"
#include "protocol/report_framing.h"
#include "record/csv_row.h"
#include "record/sample.h"
#include "sim/simulated_driver.h"
#ifndef _WIN32
#include "rs485/sim_line_pty.h"
#endif

namespace zrv::cli {

namespace {

// How long a refused write waits for the change notice of an unplug (udev handles the removal first).
constexpr int kUnplugNoticeMs = 1000;
// The reader's wait when nothing stops it in an orderly way (see CliContext::exitWhenDone).
constexpr int kLongReadSliceMs = 1000;

// The end of every command: the output finished and checked. A failed write outranks the
// command's own result, for what the script was told is incomplete; a reader that went away
// (`| head`) took what it wanted.
int FinishOutput(OutputSink& out, std::ostream& err, int code) {
  if (!out.Failed()) out.Finish();
  if (!out.Failed()) return code;
  if (out.ReaderGone()) return code == kExitOutput ? kExitOk : code;
  err << "zrv-cli: cannot write the output: " << out.Error() << "; what was written is incomplete\n";
  return kExitOutput;
}

bool SameSettings(const ModbusSettings& a, const ModbusSettings& b) {
  return a.Baudrate == b.Baudrate && a.Parity == b.Parity && a.SlaveId == b.SlaveId;
}

class Runner {
 public:
  Runner(const CliOptions& options, const CliContext& context, OutputSink& sink)
      : o_(options), out_(sink), err_(*context.err), probes_(context.probes),
        exitWhenDone_(context.exitWhenDone), busWritten_(context.busWritten) {}

  int Run(IHidPlatform& platform);
  int RunCommand(DriverSession& session, DriverRequests& link);

  ModbusChoice fromFile_;  // settings read from --from
  Simulation* simulation_ = nullptr;

 private:
  int Fail(int code, const std::string& message) {
    err_ << "zrv-cli: " << ShownText(message) << '\n';
    return code;
  }
  // For a failed request: unplugged, refused, or silent.
  int NoAnswer(DriverRequests& link, const char* what) {
    // A write refused because the driver was just unplugged: the scan saying so follows shortly.
    if (!link.ChosenAttached() || (link.LastWriteRefused() && link.WaitUntilGone(kUnplugNoticeMs))) {
      return Fail(kExitNoDriver, "the driver at " + link.Chosen().Node + " was unplugged");
    }
    if (link.LastWriteRefused()) {
      return Fail(kExitNoAnswer, std::string("the driver at ") + link.Chosen().Node + " refused " + what);
    }
    return Fail(kExitNoAnswer, std::string("no answer to ") + what + " from the driver at " + link.Chosen().Node +
                                   " within " + std::to_string(o_.timeoutMs) + " ms");
  }
  // False once the output failed: a watch stops at once.
  bool Print(const std::string& text) { return out_.Write(text); }
  bool Json() const { return o_.format == OutputFormat::Json; }

  int Doctor(DriverRequests& link);
  int Watch(const DriverSession& session, DriverRequests& link, std::uint8_t code);
  int ModbusSet(const DriverSession& session, DriverRequests& link);
  int Bus(DriverSession& session, DriverRequests& link);

  const CliOptions& o_;
  OutputSink& out_;
  std::ostream& err_;
  IDoctorProbes* probes_;
  bool exitWhenDone_;
  std::function<void(std::span<const std::uint8_t>)> busWritten_;
  SystemProbes systemProbes_;

  IDoctorProbes& Probes() { return probes_ != nullptr ? *probes_ : systemProbes_; }
};

int Runner::Doctor(DriverRequests& link) {
  std::vector<std::pair<int, bool>> answers;
  for (const DeviceEntry& d : link.Drivers()) {
    if (!d.ReadWrite) continue;
    answers.emplace_back(d.Index, link.Use(d) && link.Request(static_cast<std::uint8_t>(CommandCode::ReadIdentity),
                                                               o_.timeoutMs));
  }
  const DoctorReport report = Diagnose(link.Devices(), Probes(), answers, o_.timeoutMs);
  Print(Json() ? DoctorJson(report) : DoctorText(report));
  return report.ExitCode;
}

int Runner::Watch(const DriverSession& session, DriverRequests& link, std::uint8_t code) {
  const bool status = code == static_cast<std::uint8_t>(CommandCode::ReadStatus);
  QElapsedTimer clock;
  clock.start();
  const SteadyTime start = std::chrono::steady_clock::now();
  std::string csv;
  if (o_.format == OutputFormat::Csv) {
    csv.reserve(kCsvRowReserve);
    AppendCsvHeader(csv);
    if (!Print(csv)) return kExitOutput;
  }
  long long next = 0;
  for (long long n = 0; !o_.count || n < *o_.count; ++n) {
    if (!link.Request(code, o_.timeoutMs)) return NoAnswer(link, status ? "the status request" : "the register request");
    const long long elapsed = o_.watch ? clock.elapsed() : -1;
    const DeviceState& s = session.State();
    bool written = false;
    if (o_.format == OutputFormat::Csv) {
      csv.clear();
      AppendCsvRow(csv, MakeSample(s.Status, s.Limits, std::chrono::steady_clock::now(), std::chrono::system_clock::now()),
                   start);
      written = Print(csv);
    } else if (status) {
      written = Print(Json() ? StatusJson(s, elapsed) : StatusText(s, elapsed) + (o_.watch ? "\n" : ""));
    } else {
      written = Print(Json() ? RegistersJson(s, session.GoodFrames(), elapsed)
                             : RegistersText(s, session.GoodFrames(), elapsed) + (o_.watch ? "\n" : ""));
    }
    if (!written) return kExitOutput;
    if (!o_.watch) break;
    // Fixed rate: a late reply shortens the next wait, but a missed period is not made up in a burst.
    next += o_.intervalMs;
    const long long now = clock.elapsed();
    if (next < now) next = now;
    if (next > now) link.WaitFor([] { return false; }, static_cast<int>(next - now));
  }
  return kExitOk;
}

int Runner::ModbusSet(const DriverSession& session, DriverRequests& link) {
  if (!link.Request(static_cast<std::uint8_t>(CommandCode::ReadModbusSettings), o_.timeoutMs)) {
    return NoAnswer(link, "the settings request");
  }
  const ModbusSettings present = session.State().Modbus;
  ModbusSettings wanted = present;
  if (fromFile_.Baud) wanted.Baudrate = *fromFile_.Baud;
  if (fromFile_.Parity) wanted.Parity = *fromFile_.Parity;
  if (fromFile_.SlaveId) wanted.SlaveId = *fromFile_.SlaveId;
  if (o_.modbus.Baud) wanted.Baudrate = *o_.modbus.Baud;
  if (o_.modbus.Parity) wanted.Parity = *o_.modbus.Parity;
  if (o_.modbus.SlaveId) wanted.SlaveId = *o_.modbus.SlaveId;
  std::string error;
  // A present value the window could not show (slave id 0 or above 127, an unknown baud rate) is
  // never written back: the user must give that setting.
  if (!ValidSettings(wanted.Baudrate, wanted.Parity, wanted.SlaveId, error)) {
    return Fail(kExitUsage, "the driver's present settings cannot be kept (" + error +
                                "); give that setting explicitly; nothing was written");
  }
  const auto payload = BuildWriteModbusSettingsPayload(wanted);
  if (!link.Request(payload.data(), payload.size(), static_cast<std::uint8_t>(CommandCode::WriteModbusSettings),
                    o_.timeoutMs)) {
    return NoAnswer(link, "the settings write");
  }
  if (!link.Request(static_cast<std::uint8_t>(CommandCode::ReadModbusSettings), o_.timeoutMs)) {
    return NoAnswer(link, "the settings read-back");
  }
  const ModbusSettings readBack = session.State().Modbus;
  const bool match = SameSettings(readBack, wanted);
  if (Json()) {
    Print(JsonObject()
              .Raw("previous", ModbusJsonObject(present))
              .Raw("written", ModbusJsonObject(wanted))
              .Raw("read_back", ModbusJsonObject(readBack))
              .Bool("match", match)
              .Text() +
          "\n");
  } else {
    Print("previous:  " + ModbusText(present) + "written:   " + ModbusText(wanted) + "read back: " +
          ModbusText(readBack) + (match ? "the driver keeps the new settings\n" : ""));
  }
  if (!match) return Fail(kExitMismatch, "the settings read back differ from those written");
  return kExitOk;
}

bool IsBusCommand(Command c) { return c == Command::BusRead || c == Command::BusTest || c == Command::BusScan; }

// The line works without USB: a driver that is not there or may not be opened only takes away its
// settings and its good-frame counter.
int Runner::Bus(DriverSession& session, DriverRequests& link) {
  BusContext c;
  c.options = &o_;
  c.out = &out_;
  c.err = &err_;
  c.written = busWritten_;
  if (simulation_ != nullptr) {
    c.simulatedPort = simulation_->Rs485Port();
#ifndef _WIN32
    c.simulatedLine = simulation_->Rs485();
#endif
  }
  std::string message;
  const int chosen = link.Choose(o_.device, message);
  if (chosen == kExitOk) {
    c.session = &session;
    c.link = &link;
  } else if (chosen == kExitNoAccess) {
    err_ << "zrv-cli: note: the driver at " << ShownText(link.Chosen().Node)
         << " may not be opened (see `zrv-cli doctor`): the line is tested without USB\n";
  } else if (chosen != kExitNoDriver || !o_.device.empty()) {
    return Fail(chosen, message);
  }
  return RunBusCommand(c);
}

int Runner::Run(IHidPlatform& platform) {
  DriverSession session(RealTimeSource(), platform, DriverSession::Choice::Chosen);
  DriverRequests link(session);
  // A program that leaves without stopping its reader never waits for the end of a slice, so the
  // reader may wake up less often while idle.
  if (exitWhenDone_) session.SetReadSliceTime(kLongReadSliceMs);
  link.Discover();
  const int code = FinishOutput(out_, err_, RunCommand(session, link));
  if (exitWhenDone_) {
    err_.flush();
    std::fflush(nullptr);
    std::_Exit(code);
  }
  return code;
}

int Runner::RunCommand(DriverSession& session, DriverRequests& link) {
  if (o_.command == Command::List) {
    Print(Json() ? ListJson(link.Devices()) : ListText(link.Devices()));
    return kExitOk;
  }
  if (o_.command == Command::Doctor) return Doctor(link);
  if (IsBusCommand(o_.command)) return Bus(session, link);

  std::string message;
  const int chosen = link.Choose(o_.device, message);
  if (chosen == kExitNoAccess) {
    const Finding f = DiagnoseNoAccess(link.Chosen(), Probes());
    err_ << "zrv-cli: " << ShownText(f.Problem) << "\nfix: " << ShownText(f.Fix) << '\n';
    return kExitNoAccess;
  }
  if (chosen != kExitOk) return Fail(chosen, message);

  switch (o_.command) {
    case Command::Info:
      if (!link.Request(static_cast<std::uint8_t>(CommandCode::ReadIdentity), o_.timeoutMs)) {
        return NoAnswer(link, "the identity request");
      }
      Print(Json() ? InfoJson(session.State(), link.Chosen().Node) : InfoText(session.State(), link.Chosen().Node));
      return kExitOk;
    case Command::Status:
      // The identity first: percentages need the driver's full-scale values.
      if (o_.format != OutputFormat::Json &&
          !link.Request(static_cast<std::uint8_t>(CommandCode::ReadIdentity), o_.timeoutMs)) {
        return NoAnswer(link, "the identity request");
      }
      return Watch(session, link, static_cast<std::uint8_t>(CommandCode::ReadStatus));
    case Command::Registers:
      return Watch(session, link, static_cast<std::uint8_t>(CommandCode::ReadRegisters));
    case Command::ModbusGet:
      if (!link.Request(static_cast<std::uint8_t>(CommandCode::ReadModbusSettings), o_.timeoutMs)) {
        return NoAnswer(link, "the settings request");
      }
      Print(Json() ? ModbusJson(session.State().Modbus) : ModbusText(session.State().Modbus));
      return kExitOk;
    case Command::ModbusSet:
      return ModbusSet(session, link);
    default:
      return kExitUsage;
  }
}

}  // namespace

int RunCli(const std::vector<std::string>& args, const CliContext& context) {
  std::ostream& err = *context.err;
  std::optional<StreamSink> streamSink;
  if (context.sink == nullptr) streamSink.emplace(*context.out);
  OutputSink& out = context.sink != nullptr ? *context.sink : *streamSink;
  CliOptions options;
  std::string error;
  if (!ParseCommandLine(args, options, error)) {
    err << "zrv-cli: " << ShownText(error) << "\nTry `zrv-cli --help`.\n";
    return kExitUsage;
  }
  if (options.command == Command::Help || options.command == Command::Version) {
    out.Write(options.command == Command::Help ? std::string(kUsage) : VersionText());
    return FinishOutput(out, err, kExitOk);
  }
  if (options.simulate && !KnownScenario(options.scenario)) {
    err << "zrv-cli: unknown simulation " << ShownText(options.scenario) << "\nTry `zrv-cli --help`.\n";
    return kExitUsage;
  }

  // With --simulate the simulated driver's RS485 side is a port too, on a pseudo-terminal.
  std::unique_ptr<Simulation> ownSimulation;
  Simulation* simulation = context.simulation;
  if (options.simulate && context.platform == nullptr) {
    ownSimulation = std::make_unique<Simulation>(options.scenario);
    simulation = ownSimulation.get();
  }

  if (options.command == Command::BusPorts) {
    QList<bus::SerialPortInfo> ports = bus::ListSerialPorts();
    if (options.simulate && simulation != nullptr && !simulation->Rs485Port().isEmpty()) {
      bus::SerialPortInfo simulated;
      simulated.path = simulation->Rs485Port();
      simulated.description = QStringLiteral("Simulated driver's RS485 line");
      ports.prepend(simulated);
    }
    out.Write(options.format == OutputFormat::Json ? BusPortsJson(ports) : BusPortsText(ports));
    return FinishOutput(out, err, kExitOk);
  }
  Runner runner(options, context, out);
  if (options.simulate) runner.simulation_ = simulation;
  if (options.command == Command::ModbusSet) {
    if (!options.fromFile.empty() && !ReadSettingsFile(options.fromFile, runner.fromFile_, error)) {
      err << "zrv-cli: " << ShownText(error) << "; nothing was sent\n";
      return kExitUsage;
    }
    if (options.dryRun) {
      // Sends nothing, so it reads nothing either: every setting must be given.
      ModbusChoice c = runner.fromFile_;
      if (options.modbus.Baud) c.Baud = options.modbus.Baud;
      if (options.modbus.Parity) c.Parity = options.modbus.Parity;
      if (options.modbus.SlaveId) c.SlaveId = options.modbus.SlaveId;
      if (!c.Complete()) {
        err << "zrv-cli: --dry-run reads nothing from the driver, so it needs --slave-id, --baud and --parity "
               "(or --from)\n";
        return kExitUsage;
      }
      const ModbusSettings settings{*c.Baud, *c.Parity, *c.SlaveId};
      const auto payload = BuildWriteModbusSettingsPayload(settings);
      OutputReport report;
      FrameReport(payload.data(), static_cast<std::uint32_t>(payload.size()),
                  static_cast<std::uint32_t>(sim::kReportLength), report);
      const std::vector<std::uint8_t> bytes(report.Buffer.begin(),
                                            report.Buffer.begin() + static_cast<std::ptrdiff_t>(report.Length));
      if (options.format == OutputFormat::Json) {
        out.Write(JsonObject()
                      .Raw("settings", ModbusJsonObject(settings))
                      .Number("length", static_cast<long long>(bytes.size()))
                      .String("report", HexBytes(bytes))
                      .Text() +
                  "\n");
      } else {
        out.Write("would write " + ModbusText(settings) + "report (" + std::to_string(bytes.size()) +
                  " bytes): " + HexBytes(bytes) + "\n");
      }
      return FinishOutput(out, err, kExitOk);
    }
  }

  if (context.platform != nullptr) return runner.Run(*context.platform);
  if (ownSimulation) return runner.Run(ownSimulation->Platform());
#ifdef _WIN32
  Win32HidPlatform platform;
#else
  LinuxHidPlatform platform;
#endif
  return runner.Run(platform);
}

}  // namespace zrv::cli
