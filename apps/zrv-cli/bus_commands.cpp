#include "bus_commands.h"

#include <QElapsedTimer>
#include <QEventLoop>

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "bus/port_problem.h"
#include "bus/serial_port_list.h"
#include "bus_output.h"
#include "cli_output.h"
#include "protocol/device_state.h"
#include "rs485/link_check.h"
#include "rs485/scan_runner.h"
#include "rs485/serial_port_transport.h"
#ifndef _WIN32
#include "rs485/sim_line_pty.h"
#endif

namespace zrv::cli {

namespace {

// The port the commands use, with two things on the way: a pseudo-terminal cannot tell the
// simulated line at which settings it was opened, so it is told; and whoever wants to see every
// byte written sees it.
class WatchedTransport final : public ByteTransport {
 public:
  WatchedTransport(SerialPortTransport& port, SimLinePty* simulated,
                   std::function<void(std::span<const std::uint8_t>)> written)
      : port_(port), simulated_(simulated), written_(std::move(written)) {
    port_.OnReceived = [this](std::span<const std::uint8_t> b) {
      if (OnReceived) OnReceived(b);
    };
    port_.OnError = [this](modbus::PortErrorKind k) {
      if (OnError) OnError(k);
    };
  }
  modbus::PortErrorKind Open(const modbus::LineSettings& settings) override {
#ifndef _WIN32
    if (simulated_ != nullptr) simulated_->SetAdapterSettings(settings);
#endif
    return port_.Open(settings);
  }
  void Close() override { port_.Close(); }
  bool Write(std::span<const std::uint8_t> bytes) override {
    if (written_) written_(bytes);
    return port_.Write(bytes);
  }
  void TakePending() override { port_.TakePending(); }

 private:
  SerialPortTransport& port_;
  [[maybe_unused]] SimLinePty* simulated_;  // not on Windows
  std::function<void(std::span<const std::uint8_t>)> written_;
};

class BusCommand {
 public:
  explicit BusCommand(const BusContext& c) : c_(c), o_(*c.options) { clock_.start(); }

  int Run() {
    std::string port;
    if (const int code = ChoosePort(port); code != kExitOk) return code;
    where_.Port = port;
    where_.DriverOnUsb = c_.session != nullptr;
    if (c_.session != nullptr && c_.link->Request(static_cast<std::uint8_t>(CommandCode::ReadModbusSettings),
                                                   o_.timeoutMs)) {
      usb_ = c_.session->State().Modbus;
    }
    SerialPortTransport serial(QString::fromStdString(port));
    WatchedTransport transport(serial, port == c_.simulatedPort.toStdString() ? c_.simulatedLine : nullptr,
                               c_.written);
    if (o_.command == Command::BusScan) return Scan(serial, transport);
    return Check(serial, transport);
  }

 private:
  int Fail(int code, const std::string& message) {
    *c_.err << "zrv-cli: " << ShownText(message) << '\n';
    return code;
  }
  bool Json() const { return o_.format == OutputFormat::Json; }
  std::uint64_t NowUs() const { return static_cast<std::uint64_t>(clock_.nsecsElapsed() / 1000); }

  int ChoosePort(std::string& port) {
    if (!o_.port.empty()) {
      port = o_.port;
      return kExitOk;
    }
    if (!c_.simulatedPort.isEmpty()) {
      port = c_.simulatedPort.toStdString();
      return kExitOk;
    }
    const QList<bus::SerialPortInfo> ports = bus::ListSerialPorts();
    if (ports.isEmpty()) {
      return Fail(kExitPortUnusable, "no serial port found: plug the USB-RS485 adapter in, or give --port PATH");
    }
    if (ports.size() > 1) {
      std::string message = "several serial ports; choose one with --port:";
      for (const bus::SerialPortInfo& p : ports) {
        message += "\n  --port " + p.path.toStdString();
        if (!p.description.isEmpty()) message += "   (" + p.description.toStdString() + ")";
      }
      return Fail(kExitUsage, message);
    }
    port = ports.front().path.toStdString();
    return kExitOk;
  }

  void NotePortProblem(const SerialPortTransport& serial) {
    const bus::PortError& e = serial.LastError();
    if (!e) return;
    where_.PortProblem = bus::PortProblemText(e, QString::fromStdString(where_.Port)).toStdString();
    where_.PortProblemKey = bus::PortProblemKey(e.problem).toStdString();
  }

  // bus read and bus test: the link check, one round or --count.
  int Check(SerialPortTransport& serial, ByteTransport& transport) {
    const bool read = o_.command == Command::BusRead;
    LinkCheckPlan plan;
    const ModbusChoice& given = o_.modbus;
    if (given.Complete()) {
      plan.Line = modbus::LineSettings{*given.Baud, *given.Parity};
      plan.Slave = *given.SlaveId;
    } else if (usb_) {
      plan.Line = modbus::LineSettings{given.Baud.value_or(usb_->Baudrate), given.Parity.value_or(usb_->Parity)};
      plan.Slave = given.SlaveId.value_or(usb_->SlaveId);
      where_.SettingsFromUsb = true;
    } else {
      const std::string what = read ? "bus read" : "bus test";
      return Fail(c_.session != nullptr ? kExitNoAnswer : kExitUsage,
                  what + " needs --baud, --parity and --slave-id: " +
                      (c_.session != nullptr ? "the driver did not tell its settings over USB within " +
                                                   std::to_string(o_.timeoutMs) + " ms"
                                             : std::string("no driver on USB to tell them")));
    }
    if (usb_) plan.DriverSlave = usb_->SlaveId;
    plan.Rounds = read ? 1 : static_cast<int>(o_.count.value_or(10));
    if (o_.function == 4) plan.Table = modbus::RegisterTable::Input;

    LinkCheck check(c_.session, RealTimeSource(), [this] { return NowUs(); });
    std::optional<LinkCheckReport> report;
    QEventLoop loop;
    QObject::connect(&check, &LinkCheck::Finished, &loop, [&](const LinkCheckReport& r) {
      report = r;
      loop.quit();
    });
    check.Start(transport, plan);
    if (!report) loop.exec();
    NotePortProblem(serial);
    where_.FellBack = plan.Table == modbus::RegisterTable::Holding && report->Table == modbus::RegisterTable::Input;
    const modbus::LinkTestResult& v = report->Result;
    if (read) {
      if (v.Verdict == modbus::LinkVerdict::PortError) {
        return Fail(kExitPortUnusable, where_.PortProblem.empty() ? where_.Port + " cannot be used" : where_.PortProblem);
      }
      if (report->Rs485.Filled == 0) {
        return Fail(kExitLineNoAnswer, "no answer from slave " + std::to_string(report->Slave) + " at " +
                                           LineText(report->Line) + " on " + where_.Port +
                                           "; `zrv-cli bus test` tells why");
      }
      c_.out->Write(Json() ? BusReadJson(*report, where_) : BusReadText(*report, where_));
      return kExitOk;
    }
    c_.out->Write(Json() ? BusTestJson(*report, where_) : BusTestText(*report, where_));
    if (v.Verdict == modbus::LinkVerdict::Ok) return kExitOk;
    return v.Verdict == modbus::LinkVerdict::PortError ? kExitPortUnusable : kExitLineNoAnswer;
  }

  int Scan(SerialPortTransport& serial, ByteTransport& transport) {
    ScanPlan plan;
    plan.Usb = usb_;
    plan.Baudrate = o_.modbus.Baud;
    plan.Parity = o_.modbus.Parity;
    plan.Slave = o_.modbus.SlaveId;
    plan.All = o_.all;
    ScanRunner runner(transport, RealTimeSource(), [this] { return NowUs(); });
    QEventLoop loop;
    bool done = false;
    bool stopping = false;  // found, and one is enough
    std::optional<modbus::LineSettings> shown;
    const std::vector<modbus::ScanProbe> probes = ScanRunner::Probes(plan);
    runner.OnFinished = [&](const ScanReport&) {
      done = true;
      loop.quit();
    };
    if (!Json()) {
      // Progress, a line for each setting tried, on stderr so the results stay clean.
      runner.OnProgress = [&](std::size_t finished, std::size_t total) {
        if (stopping || finished >= probes.size()) return;
        const modbus::LineSettings& next = probes[finished].Line;
        if (shown == next) return;
        shown = next;
        *c_.err << "scanning " << LineText(next) << " (" << finished << " of " << total << " probes done)\n";
      };
      runner.OnFound = [&](const ScanFind& f) {
        stopping = !plan.All;
        *c_.err << "slave " << static_cast<int>(f.Slave) << " answers at " << LineText(f.Line) << "\n";
      };
      if (!probes.empty()) {
        shown = probes.front().Line;
        *c_.err << "scanning " << LineText(*shown) << " (0 of " << probes.size() << " probes done)\n";
      }
    }
    runner.Start(plan);
    if (!done) loop.exec();
    const ScanReport& report = runner.Report();
    NotePortProblem(serial);
    if (report.Port != modbus::PortErrorKind::None && where_.PortProblem.empty()) {
      where_.PortProblem = where_.Port + " cannot be used";
      where_.PortProblemKey = std::string(modbus::PortErrorKey(report.Port));
    }
    c_.out->Write(Json() ? BusScanJson(report, where_) : BusScanText(report, where_));
    if (report.Port != modbus::PortErrorKind::None && report.Found.empty()) return kExitPortUnusable;
    return report.Found.empty() ? kExitLineNoAnswer : kExitOk;
  }

  const BusContext& c_;
  const CliOptions& o_;
  QElapsedTimer clock_;
  std::optional<ModbusSettings> usb_;
  BusWhere where_;
};

}  // namespace

int RunBusCommand(const BusContext& context) { return BusCommand(context).Run(); }

}  // namespace zrv::cli
