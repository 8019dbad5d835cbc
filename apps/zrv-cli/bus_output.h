// What the bus commands print: the registers read over RS485, the link test's verdict in words a
// technician can act on, and the slaves a scan found; readable text or JSON with stable keys.
// Pure functions of what was seen.
#pragma once

#include <optional>
#include <string>

#include "modbus/rtu_timing.h"
#include "rs485/link_check.h"
#include "rs485/scan_runner.h"

namespace zrv::cli {

// Where the command talked: the port, and whether the settings came from the driver over USB.
struct BusWhere {
  std::string Port;
  bool SettingsFromUsb = false;
  bool DriverOnUsb = false;    // a driver was attached over USB (whether it answered or not)
  std::string PortProblem;     // PortProblemText of a port that failed, with the fix
  std::string PortProblemKey;  // its stable word
  bool FellBack = false;       // bus read: holding registers refused, input registers read
};

// "19200 baud, even parity"
std::string LineText(const modbus::LineSettings& line);

std::string BusReadText(const LinkCheckReport& report, const BusWhere& where);
std::string BusReadJson(const LinkCheckReport& report, const BusWhere& where);

// The verdict alone: a "result:" or "problem:" line, a "fix:" line, notes.
std::string VerdictText(const LinkCheckReport& report, const BusWhere& where);
std::string BusTestText(const LinkCheckReport& report, const BusWhere& where);
std::string BusTestJson(const LinkCheckReport& report, const BusWhere& where);

std::string BusScanText(const ScanReport& report, const BusWhere& where);
std::string BusScanJson(const ScanReport& report, const BusWhere& where);

}  // namespace zrv::cli
