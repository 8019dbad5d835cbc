// The command line of zrv-cli, and the checks that keep bad settings away from the driver.
// Everything here is decided before any device is touched.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// ParseSlaveId, ParseBaud, ParseParity and ParityName: shared with the virtual driver.
#include "protocol/settings_text.h"

namespace zrv::cli {

// Documented in --help and in the manual page; scripts rely on them.
enum ExitCode : int {
  kExitOk = 0,
  kExitUsage = 1,
  kExitNoDriver = 2,
  kExitSeveralDrivers = 3,
  kExitNoAccess = 4,
  kExitNoAnswer = 5,
  kExitMismatch = 6,
  kExitOutput = 7,  // the results could not be written (disk full, output closed); they are incomplete
  kExitLineNoAnswer = 8,  // bus: no (good) answer on the RS485 line
  kExitPortUnusable = 9,  // bus: the serial port cannot be opened (or there is none)
};

enum class Command { Help, Version, List, Info, Status, ModbusGet, ModbusSet, Registers, Doctor, BusPorts, BusRead,
                     BusTest, BusScan };
// bus test --count: reads of the preview, two requests each.
inline constexpr long long kMostBusTestReads = 10000;

enum class OutputFormat { Text, Json, Csv };

// Modbus line settings as asked for; an absent field keeps the driver's present value.
struct ModbusChoice {
  std::optional<std::uint32_t> Baud;
  std::optional<std::uint8_t> Parity;  // 0 none, 1 odd, 2 even
  std::optional<std::uint8_t> SlaveId;
  bool Complete() const { return Baud && Parity && SlaveId; }
};

struct CliOptions {
  Command command = Command::Help;
  OutputFormat format = OutputFormat::Text;
  bool watch = false;
  int intervalMs = 1000;
  std::optional<long long> count;  // --watch: stop after this many readings
  int timeoutMs = 1000;
  std::string device;               // /dev/hidrawN or an index of `list`; empty: the only driver
  bool simulate = false;
  std::string scenario = "driver";  // --simulate=NAME
  ModbusChoice modbus;
  std::string fromFile;
  bool dryRun = false;
  // bus read, test and scan: the serial port (empty: the only one), the function of bus read
  // (none: 03, falling back to 04), every answering slave for bus scan.
  std::string port;
  std::optional<std::uint8_t> function;
  bool all = false;
};

// Parses the arguments after the program name. False with `error` set for anything malformed,
// including values outside what the window offers.
bool ParseCommandLine(const std::vector<std::string>& args, CliOptions& out, std::string& error);

// A settings file as `modbus get --json` writes it: one JSON object with "baud", "parity" (a
// name) and "slave_id", all present and valid. Other keys are ignored.
bool ParseSettingsJson(std::string_view text, ModbusChoice& out, std::string& error);

// Whether complete settings may be written: slave id 1..127, an offered baud rate, parity 0..2.
bool ValidSettings(std::uint32_t baud, std::uint8_t parity, std::uint8_t slaveId, std::string& error);

extern const char* const kUsage;
// What --version prints: the tool's version and that of the Qt it runs on.
std::string VersionText();

}  // namespace zrv::cli
