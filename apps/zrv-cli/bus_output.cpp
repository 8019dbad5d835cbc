#include "bus_output.h"

#include <sstream>

#include "cli_options.h"
#include "cli_output.h"
#include "protocol/register_map.h"
#include "view/register_table.h"

namespace zrv::cli {

namespace {

std::string Milliseconds(std::uint64_t us) { return DecimalHundredths(static_cast<int>((us + 5) / 10)) + " ms"; }

std::string SlaveText(std::uint8_t slave) { return "slave " + std::to_string(slave); }

// "slave 1 at 19200 baud, even parity on /dev/ttyUSB0 (settings from the driver over USB)"
std::string WhereText(const LinkCheckReport& r, const BusWhere& w) {
  return SlaveText(r.Slave) + " at " + LineText(r.Line) + " on " + ShownText(w.Port) +
         (w.SettingsFromUsb ? " (settings from the driver over USB)" : "") + "\n";
}

JsonObject& Common(JsonObject& o, const modbus::LineSettings& line, std::uint8_t slave, const BusWhere& w) {
  return o.String("port", w.Port)
      .Raw("settings", ModbusJsonObject(ModbusSettings{line.Baudrate, line.Parity, slave}))
      .Bool("settings_from_usb", w.SettingsFromUsb);
}

JsonObject& PortProblem(JsonObject& o, const BusWhere& w) {
  if (w.PortProblemKey.empty()) return o.Raw("port_problem", "null").Raw("port_problem_text", "null");
  return o.String("port_problem", w.PortProblemKey).String("port_problem_text", w.PortProblem);
}

template <typename T>
JsonObject& Optional(JsonObject& o, std::string_view key, const std::optional<T>& v) {
  return v ? o.Number(key, static_cast<long long>(*v)) : o.Raw(key, "null");
}

std::string FunctionText(const LinkCheckReport& r) {
  return r.Table == modbus::RegisterTable::Holding ? "holding registers (function 03)"
                                                    : "input registers (function 04)";
}

}  // namespace

std::string LineText(const modbus::LineSettings& line) {
  return std::to_string(line.Baudrate) + " baud, " + (line.Parity == 0 ? std::string("no") : std::string(ParityName(line.Parity))) + " parity";
}

std::string BusReadText(const LinkCheckReport& r, const BusWhere& w) {
  std::ostringstream out;
  out << WhereText(r, w);
  out << "read: " << FunctionText(r);
  if (w.FellBack) out << ", as the driver refused function 03 (illegal function)";
  out << "\nADDR  NAME            VALUE\n";
  for (const RegisterRow& row : kRegisterTable) {
    const std::string value = r.Rs485.Has(row) ? std::string(RegisterValueText(r.Rs485.Block, row).View()) : "-";
    std::string name(row.Name);
    name.resize(std::max<std::size_t>(name.size(), 15), ' ');
    std::string addr(row.Address);
    addr.resize(std::max<std::size_t>(addr.size(), 5), ' ');
    out << addr << ' ' << name << ' ' << value << '\n';
  }
  return out.str();
}

std::string BusReadJson(const LinkCheckReport& r, const BusWhere& w) {
  const std::string rows = RegisterRowsJson(r.Rs485.Block, [&r](const RegisterRow& row) { return r.Rs485.Has(row); });
  JsonObject o;
  Common(o, r.Line, r.Slave, w);
  return o.String("table", r.Table == modbus::RegisterTable::Holding ? "holding" : "input")
             .Number("function", r.Table == modbus::RegisterTable::Holding ? 3 : 4)
             .Bool("fell_back", w.FellBack)
             .Raw("registers", rows)
             .Text() +
         "\n";
}

std::string VerdictText(const LinkCheckReport& r, const BusWhere& w) {
  const modbus::LinkTestResult& v = r.Result;
  const std::string answered = std::to_string(v.Answered) + " of " + std::to_string(v.Sent) + " requests";
  const std::string rise = v.CounterRise ? std::to_string(*v.CounterRise) : std::string("?");
  std::ostringstream out;
  switch (v.Verdict) {
    case modbus::LinkVerdict::Ok:
      out << "result: the line works: the driver answered " << answered;
      if (v.MedianRoundTripUs && v.MaxRoundTripUs) {
        out << "; round trip " << Milliseconds(*v.MedianRoundTripUs) << " median, " << Milliseconds(*v.MaxRoundTripUs)
            << " at most";
      }
      out << (r.Usb ? "; the values agree with what the driver shows over USB\n"
                    : "; the values were not compared with USB\n");
      break;
    case modbus::LinkVerdict::DriverHearsNoAnswer:
      if (r.AskedAnotherSlave()) {
        out << "problem: the driver hears the requests (its good-frame counter rose by " << rise
            << ") but does not answer them: it is " << SlaveText(*r.DriverSlave) << " over USB, the test asked "
            << SlaveText(r.Slave) << "\nfix: test at its address (--slave-id " << +*r.DriverSlave
            << "), or give the driver this one with `zrv-cli modbus set`\n";
        break;
      }
      out << "problem: the driver hears the requests (its good-frame counter rose by " << rise
          << ") but no answer comes back to the adapter\n"
             "fix: check the adapter's receive path and its direction control (automatic send/receive "
             "switching), whether A and B are swapped at the adapter's terminals, and that no other master "
             "is talking on the line\n";
      break;
    case modbus::LinkVerdict::NothingReachesDriver:
      out << "problem: nothing reaches the driver: no answer came and its good-frame counter did not rise\n"
             "fix: swap A and B, terminate both ends of the line (120 ohm), check that "
          << ShownText(w.Port) << " is the adapter wired to the driver, and that the adapter is not set to other "
          << "settings than " << LineText(r.Line) << "\n";
      break;
    case modbus::LinkVerdict::Noisy:
      out << "problem: the line is noisy: the driver answered " << answered << ", " << v.Corrupted
          << (v.Corrupted == 1 ? " answer came" : " answers came") << " back damaged\n"
             "fix: terminate both ends of the line (120 ohm), use twisted pair, connect the signal ground, "
             "and keep the cable away from motor and power wires\n";
      break;
    case modbus::LinkVerdict::Echo:
      out << "problem: the adapter reads back what it sends (local echo); the driver answered " << answered
          << "\nfix: switch the adapter's echo off (a jumper or its RS485 mode setting); other programs "
             "may take the echo for a bad answer\n";
      break;
    case modbus::LinkVerdict::AnotherDevice:
      out << "problem: another device answers at " << SlaveText(r.Slave)
          << ": its values differ from what the driver shows over USB\n"
             "fix: give the driver or the other device another address, or disconnect the other device\n";
      break;
    case modbus::LinkVerdict::PortError:
      out << "problem: " << ShownText(w.PortProblem.empty() ? w.Port + " cannot be used" : w.PortProblem) << "\n";
      break;
    case modbus::LinkVerdict::NoAnswer:
      out << "problem: no answer from " << SlaveText(r.Slave) << " at " << LineText(r.Line) << "\n"
             "fix: check A and B, the termination, the port and the settings; with the driver attached over "
             "USB the test can tell whether the requests reach it\n";
      break;
  }
  if (v.Echo && v.Verdict != modbus::LinkVerdict::Echo) out << "note: the adapter also reads back what it sends\n";
  if (!r.CounterRead && v.Verdict != modbus::LinkVerdict::PortError) {
    out << (w.DriverOnUsb ? "note: the driver did not tell its good-frame counter over USB\n"
                          : "note: the good-frame counter could not be read: no driver on USB\n");
  }
  return out.str();
}

std::string BusTestText(const LinkCheckReport& r, const BusWhere& w) {
  const modbus::LinkTestResult& v = r.Result;
  std::ostringstream out;
  out << "test: " << WhereText(r, w);
  if (v.Verdict != modbus::LinkVerdict::PortError) {
    out << "answered: " << v.Answered << " of " << v.Sent << " requests, " << v.Corrupted << " damaged\n";
    if (r.CounterRead) out << "good-frame counter: " << *r.CounterBefore << " -> " << *r.CounterAfter << "\n";
  }
  out << VerdictText(r, w);
  return out.str();
}

std::string BusTestJson(const LinkCheckReport& r, const BusWhere& w) {
  const modbus::LinkTestResult& v = r.Result;
  JsonObject o;
  o.String("verdict", modbus::VerdictKey(v.Verdict))
      .Number("answered", v.Answered)
      .Number("sent", v.Sent)
      .Number("corrupted", v.Corrupted);
  Optional(o, "counter_before", r.CounterBefore);
  Optional(o, "counter_after", r.CounterAfter);
  Optional(o, "counter_rise", v.CounterRise);
  if (v.MedianRoundTripUs) {
    o.Hundredths("median_ms", static_cast<int>((*v.MedianRoundTripUs + 5) / 10));
  } else {
    o.Raw("median_ms", "null");
  }
  if (v.MaxRoundTripUs) {
    o.Hundredths("max_ms", static_cast<int>((*v.MaxRoundTripUs + 5) / 10));
  } else {
    o.Raw("max_ms", "null");
  }
  o.Bool("echo", v.Echo);
  Common(o, r.Line, r.Slave, w);
  o.Number("slave", r.Slave);
  Optional(o, "driver_slave", r.DriverSlave);
  PortProblem(o, w);
  return o.Text() + "\n";
}

std::string BusScanText(const ScanReport& r, const BusWhere& w) {
  std::ostringstream out;
  if (!w.PortProblem.empty()) {
    out << "problem: " << ShownText(w.PortProblem) << "\n";
  }
  for (const ScanFind& f : r.Found) {
    out << "found: " << SlaveText(f.Slave) << " at " << LineText(f.Line) << " on " << ShownText(w.Port);
    if (f.Exception) {
      out << " (it refused the read with exception " << static_cast<int>(*f.Exception) << ")";
    }
    out << "\n";
  }
  if (r.Found.empty() && w.PortProblem.empty()) {
    out << "nothing answered on " << ShownText(w.Port) << " (" << r.Done << " probes)"
        << (r.Cancelled ? ", the scan was stopped" : "") << "\n";
  }
  return out.str();
}

std::string BusScanJson(const ScanReport& r, const BusWhere& w) {
  std::string found = "[";
  for (const ScanFind& f : r.Found) {
    if (found.size() > 1) found += ',';
    JsonObject one;
    one.Raw("settings", ModbusJsonObject(ModbusSettings{f.Line.Baudrate, f.Line.Parity, f.Slave}))
        .Number("slave", f.Slave)
        .Number("function", f.Function);
    Optional(one, "exception", f.Exception);
    found += one.Text();
  }
  found += ']';
  JsonObject o;
  o.String("port", w.Port).Raw("found", found).Number("probes", static_cast<long long>(r.Done));
  o.Number("planned", static_cast<long long>(r.Total)).Bool("cancelled", r.Cancelled);
  PortProblem(o, w);
  return o.Text() + "\n";
}

}  // namespace zrv::cli
