#include "driver_options.h"

#include <charconv>
#include <type_traits>

#include "protocol/settings_text.h"
#include "sim/rs485_line.h"

namespace zrv::uhid {

const char* const kUsage =
    "usage: zrv-uhid-driver [options]\n"
    "  --name NAME          product string of the driver (default ZRVXXX)\n"
    "  --second-device      also create a pointer device that is not a driver\n"
    "  --second-name NAME   its name (default \"Virtual Pointer\")\n"
    "  --no-driver          create no driver (only the second device)\n"
    "  --no-report-ids      the driver's reports carry no report ID\n"
    "  --unplug-after MS    destroy the driver MS after it was created\n"
    "  --replug-after MS    create it again MS after the unplug\n"
    "  --lively             readings move\n"
    "  --seed N             seed of the lively mode\n"
    "  --flood N            after the first open send N input reports at once\n"
    "  --reply-delay MS     answer every command MS late\n"
    "  --short-replies LEN  cut replies to LEN bytes, report ID included\n"
    "  --short-code CODE    cut only the replies to CODE\n"
    "  --record FILE        append every output report to FILE as a hex line\n"
    "  --rs485 PORT         serve the driver's RS485 side on serial port PORT\n"
    "  --rs485-pty LINK     serve it on a new pseudo-terminal, the tool's end linked at LINK\n"
    "  --no-hid             no HID device: the RS485 side alone (needs no /dev/uhid, no root)\n"
    "  --slave-id N         the driver's Modbus slave id at start, 1 to 127\n"
    "  --baud B             its baud rate at start: 9600, 19200, 38400, 57600 or 115200\n"
    "  --parity P           its parity at start: none, odd or even\n"
    "  --rs485-fault NAME   a fault on the RS485 line: rs485-swapped, rs485-no-termination,\n"
    "                       rs485-deaf, rs485-echo, rs485-twin, rs485-slow, rs485-settings\n"
    "SIGUSR1 unplugs or replugs the driver; SIGINT and SIGTERM destroy the devices and exit.\n";

namespace {

template <typename T>
bool ParseNumber(const std::string& text, T& out) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, out);
  return ec == std::errc() && ptr == end && !text.empty();
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, DriverOptions& out, std::string& error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& v) {
      if (i + 1 >= args.size()) {
        error = a + " needs a value";
        return false;
      }
      v = args[++i];
      return true;
    };
    auto number = [&](auto& n) {
      std::string v;
      if (!value(v)) return false;
      if (!ParseNumber(v, n)) {
        error = a + ": not a number: " + v;
        return false;
      }
      return true;
    };
    auto duration = [&](std::int64_t& ms) {
      if (!number(ms)) return false;
      if (ms < 0) {
        error = a + " must not be negative";
        return false;
      }
      return true;
    };
    // A Modbus setting, parsed and refused as zrv-cli does; kept only when it passes.
    auto setting = [&](auto parse, auto& field) {
      std::string v;
      typename std::remove_reference_t<decltype(field)>::value_type parsed{};
      if (!value(v) || !parse(v, parsed, error)) return false;
      field = parsed;
      return true;
    };

    bool ok = true;
    if (a == "--name") {
      ok = value(out.Name);
      if (ok && (out.Name.empty() || out.Name.size() > 127)) {
        error = "--name must be 1 to 127 characters";
        ok = false;
      }
    } else if (a == "--second-device") {
      out.SecondDevice = true;
    } else if (a == "--second-name") {
      ok = value(out.SecondName);
      if (ok && (out.SecondName.empty() || out.SecondName.size() > 127)) {
        error = "--second-name must be 1 to 127 characters";
        ok = false;
      }
      out.SecondDevice = true;
    } else if (a == "--no-driver") {
      out.Driver = false;
    } else if (a == "--no-report-ids") {
      out.NumberedReports = false;
    } else if (a == "--unplug-after") {
      ok = duration(out.UnplugAfterMs);
    } else if (a == "--replug-after") {
      ok = duration(out.ReplugAfterMs);
    } else if (a == "--lively") {
      out.Lively = true;
    } else if (a == "--seed") {
      ok = number(out.Seed);
    } else if (a == "--flood") {
      ok = number(out.Flood);
    } else if (a == "--reply-delay") {
      ok = number(out.ReplyDelayMs);
    } else if (a == "--short-replies") {
      ok = number(out.ShortReplyLength);
    } else if (a == "--short-code") {
      ok = number(out.ShortReplyCode);
    } else if (a == "--record") {
      ok = value(out.RecordPath);
    } else if (a == "--rs485") {
      ok = value(out.Rs485Port);
      if (ok && out.Rs485Port.empty()) {
        error = "--rs485 needs a port";
        ok = false;
      }
    } else if (a == "--rs485-pty") {
      ok = value(out.Rs485PtyLink);
      if (ok && out.Rs485PtyLink.empty()) {
        error = "--rs485-pty needs a path for the link";
        ok = false;
      }
    } else if (a == "--no-hid") {
      out.NoHid = true;
    } else if (a == "--slave-id") {
      ok = setting(ParseSlaveId, out.SlaveId);
    } else if (a == "--baud") {
      ok = setting(ParseBaud, out.Baudrate);
    } else if (a == "--parity") {
      ok = setting(ParseParity, out.Parity);
    } else if (a == "--rs485-fault") {
      ok = value(out.Rs485Fault);
      const auto fault = ok ? sim::Rs485FaultFromName(out.Rs485Fault) : std::nullopt;
      if (ok && (!fault || *fault == sim::Rs485Fault::None)) {
        error = "unknown RS485 fault: \"" + out.Rs485Fault +
                "\" (rs485-swapped, rs485-no-termination, rs485-deaf, rs485-echo, rs485-twin, rs485-slow, "
                "rs485-settings)";
        ok = false;
      }
    } else if (a == "--help" || a == "-h") {
      out.Help = true;
    } else {
      error = "unknown option: " + a;
      ok = false;
    }
    if (!ok) return false;
  }
  if (!out.Rs485Port.empty() && !out.Rs485PtyLink.empty()) {
    error = "--rs485 and --rs485-pty are two places for one RS485 side: give one";
    return false;
  }
  if (out.NoHid && !out.Rs485()) {
    error = "--no-hid needs --rs485 or --rs485-pty";
    return false;
  }
  if (!out.Rs485Fault.empty() && !out.Rs485()) {
    error = "--rs485-fault needs --rs485 or --rs485-pty";
    return false;
  }
  if (out.NoHid) return true;  // the HID options below have nothing to act on
  if (!out.Driver && !out.SecondDevice) {
    error = "--no-driver without --second-device leaves nothing to create";
    return false;
  }
  if (out.ReplugAfterMs >= 0 && out.UnplugAfterMs < 0) {
    error = "--replug-after needs --unplug-after";
    return false;
  }
  return true;
}

}  // namespace zrv::uhid
