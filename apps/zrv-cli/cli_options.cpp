#include "cli_options.h"

#include <QByteArray>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <cmath>
#include <set>

#include "protocol/reply_decoder.h"
#include "protocol/settings_text.h"
#include "view/reply_view.h"

namespace zrv::cli {

const char* const kUsage =
    "Usage: zrv-cli [OPTIONS] COMMAND\n"
    "\n"
    "Commands:\n"
    "  list                      every HID device: node, VID:PID, product, driver?, read/write access\n"
    "  info                      identity of the driver: versions, name, limits, Modbus settings\n"
    "  status [--watch] [--interval MS] [--count N]\n"
    "                            the live status, once or repeated\n"
    "  registers [--watch] [--interval MS] [--count N]\n"
    "                            the fifteen-register preview and the good-frame counter\n"
    "  modbus get                the driver's Modbus settings\n"
    "  modbus set [--slave-id N] [--baud B] [--parity none|odd|even] [--from FILE] [--dry-run]\n"
    "                            writes the settings (unset ones keep the driver's values), waits for\n"
    "                            the acknowledgement, reads them back and compares\n"
    "  doctor                    what stands between this user and the driver, with the fix\n"
    "  bus ports                 the serial ports (USB-RS485 adapters) for the driver's RS485 line\n"
    "  bus read [--port PATH] [--slave-id N] [--baud B] [--parity P] [--function 3|4]\n"
    "                            the fifteen previewed registers once over RS485 (function 03, or\n"
    "                            04 when the driver refuses 03); unset settings come from the\n"
    "                            driver over USB\n"
    "  bus test [--port PATH] [--slave-id N] [--baud B] [--parity P] [--count N]\n"
    "                            N reads of the preview over RS485 (default 10) with the driver's\n"
    "                            good-frame counter over USB around them: what is wrong with the line\n"
    "  bus scan [--port PATH] [--slave-id N] [--baud B] [--parity P] [--all]\n"
    "                            looks for the driver at every line setting and address (the first\n"
    "                            that answers, or every one with --all); only reads are sent\n"
    "\n"
    "Options:\n"
    "  --json                    JSON output (one object per line with --watch)\n"
    "  --csv                     CSV output (status --watch only)\n"
    "  --device NODE|INDEX       the driver to use when several are attached (/dev/hidrawN or the\n"
    "                            index shown by `list`)\n"
    "  --timeout MS              how long to wait for each answer (default 1000)\n"
    "  --simulate[=SCENARIO]     a simulated driver instead of the hardware; SCENARIO: driver\n"
    "                            (default), none, two, denied, silent, late, mismatch, lookalike,\n"
    "                            or a fault on its RS485 line: rs485-swapped, rs485-no-termination,\n"
    "                            rs485-deaf, rs485-echo, rs485-twin, rs485-slow, rs485-settings\n"
    "  --port PATH               the serial port of the USB-RS485 adapter (bus read, test, scan)\n"
    "  -h, --help                this text\n"
    "  --version                 the version of zrv-cli and of Qt\n"
    "\n"
    "Exit status:\n"
    "  0  success\n"
    "  1  bad usage or invalid settings (nothing was sent)\n"
    "  2  no driver\n"
    "  3  several drivers and none chosen with --device\n"
    "  4  no read/write access to the driver (the fix is printed)\n"
    "  5  no answer within --timeout\n"
    "  6  the settings read back differ from those written\n"
    "  7  the output could not be written (disk full, output closed); it is incomplete\n"
    "  8  bus: no good answer on the RS485 line (the verdict of bus test is not ok)\n"
    "  9  bus: the serial port cannot be opened, or there is none (the fix is printed)\n";

std::string VersionText() {
  return "zrv-cli " + std::string(kVersionText) + " (Qt " + qVersion() + ")\n";
}

namespace {

struct Allowed {
  bool watch = false;
  bool modbusSet = false;
  bool bus = false;  // bus read, test, scan: --port and the line settings
  bool device = true;
  bool csv = false;
};

Allowed AllowedFor(Command command) {
  Allowed a;
  switch (command) {
    case Command::Status:
      a.watch = true;
      a.csv = true;
      break;
    case Command::Registers:
      a.watch = true;
      break;
    case Command::ModbusSet:
      a.modbusSet = true;
      break;
    case Command::BusRead:
    case Command::BusTest:
    case Command::BusScan:
      a.bus = true;
      break;
    case Command::List:
    case Command::Doctor:
    case Command::BusPorts:
    case Command::Help:
    case Command::Version:
      a.device = false;
      break;
    default:
      break;
  }
  return a;
}

}  // namespace

bool ValidSettings(std::uint32_t baud, std::uint8_t parity, std::uint8_t slaveId, std::string& error) {
  if (!IsValidSlaveId(slaveId)) {
    error = "the slave id must be from 1 to 127, not " + std::to_string(slaveId);
    return false;
  }
  if (!IsOfferedBaudRate(baud)) {
    error = "the baud rate must be one of " + OfferedBaudList() + ", not " + std::to_string(baud);
    return false;
  }
  if (parity > kHighestParity) {
    error = "the parity code must be 0 (none), 1 (odd) or 2 (even), not " + std::to_string(parity);
    return false;
  }
  return true;
}

bool ParseSettingsJson(std::string_view text, ModbusChoice& out, std::string& error) {
  QJsonParseError parseError{};
  const QJsonDocument doc =
      QJsonDocument::fromJson(QByteArray(text.data(), static_cast<qsizetype>(text.size())), &parseError);
  if (parseError.error != QJsonParseError::NoError || !doc.isObject()) {
    error = "the settings file is not one JSON object";
    if (parseError.error != QJsonParseError::NoError) {
      error += " (" + parseError.errorString().toStdString() + " at offset " +
               std::to_string(parseError.offset) + ")";
    }
    return false;
  }
  const QJsonObject object = doc.object();
  // Whole numbers only: 9600.5 or 1e400 must not be rounded into something that looks valid.
  auto wholeNumber = [&](const char* key, unsigned long long& value) {
    const QJsonValue v = object.value(QLatin1String(key));
    if (v.isUndefined()) {
      error = std::string("the settings file has no \"") + key + "\"";
      return false;
    }
    const double d = v.toDouble(-1.0);
    if (!v.isDouble() || !std::isfinite(d) || d < 0 || d > 4294967295.0 || std::floor(d) != d) {
      error = std::string("\"") + key + "\" in the settings file must be a whole number";
      return false;
    }
    value = static_cast<unsigned long long>(d);
    return true;
  };
  ModbusChoice choice;
  unsigned long long baud = 0;
  unsigned long long slave = 0;
  if (!wholeNumber("baud", baud) || !wholeNumber("slave_id", slave)) return false;
  std::uint32_t baudValue = 0;
  if (!ParseBaud(std::to_string(baud), baudValue, error)) {
    error = "\"baud\" in the settings file: " + error;
    return false;
  }
  std::uint8_t slaveValue = 0;
  if (!ParseSlaveId(std::to_string(slave), slaveValue, error)) {
    error = "\"slave_id\" in the settings file: " + error;
    return false;
  }
  const QJsonValue parity = object.value(QLatin1String("parity"));
  if (parity.isUndefined()) {
    error = "the settings file has no \"parity\"";
    return false;
  }
  if (!parity.isString()) {
    error = "\"parity\" in the settings file must be \"none\", \"odd\" or \"even\"";
    return false;
  }
  std::uint8_t parityValue = 0;
  if (!ParseParity(parity.toString().toStdString(), parityValue, error)) {
    error = "\"parity\" in the settings file: " + error;
    return false;
  }
  choice.Baud = baudValue;
  choice.Parity = parityValue;
  choice.SlaveId = slaveValue;
  out = choice;
  return true;
}

namespace {

// Every option but -h/--help, by the name it is given with. The switches come first.
enum Option { kJson, kCsv, kWatch, kDryRun, kSimulate, kVersion, kAll, kInterval, kCount, kTimeout, kDevice,
              kSlaveId, kBaud, kParity, kFrom, kPort, kFunction, kOptionCount };
constexpr const char* kOptionNames[kOptionCount] = {"json",     "csv",      "watch",   "dry-run", "simulate",
                                                    "version",  "all",      "interval", "count",  "timeout",
                                                    "device",   "slave-id", "baud",    "parity",  "from",
                                                    "port",     "function"};
constexpr int kFirstWithValue = kInterval;

int OptionNamed(std::string_view name) {
  for (int i = 0; i < kOptionCount; ++i) {
    if (name == kOptionNames[i]) return i;
  }
  return -1;
}

// The parser's refusal in our words, about the argument at fault: an unknown option, a value given
// to a switch, or a value missing at the end.
std::string RefusalText(const std::vector<std::string>& args, const QCommandLineParser& parser) {
  const QStringList unknown = parser.unknownOptionNames();
  for (const std::string& arg : args) {
    if (arg.size() < 2 || arg[0] != '-') continue;
    if (arg[1] != '-') {
      for (const char letter : arg.substr(1)) {
        if (unknown.contains(QString(QLatin1Char(letter)))) return "unknown option " + arg;
      }
      continue;
    }
    const std::string name = arg.substr(2, arg.find('=') - 2);
    if (unknown.contains(QString::fromLatin1(name))) return "unknown option --" + name;
    const int option = name == "help" ? kJson : OptionNamed(name);  // any switch
    if (unknown.isEmpty() && arg.find('=') != std::string::npos && option >= 0 && option < kFirstWithValue) {
      return "--" + name + " takes no value";
    }
  }
  // Otherwise the last argument is an option that takes a value.
  if (!args.empty() && args.back().rfind("--", 0) == 0 && OptionNamed(args.back().substr(2)) >= kFirstWithValue) {
    return args.back() + " needs a value";
  }
  return parser.errorText().toStdString();
}

// The values of the options given, checked.
bool TakeValues(const QCommandLineParser& parser, const std::vector<QCommandLineOption>& options, CliOptions& o,
                std::string& error) {
  auto set = [&](Option option) { return parser.isSet(options[option]); };
  // Back to the bytes as given (see ParseCommandLine).
  auto value = [&](Option option) { return parser.value(options[option]).toLatin1().toStdString(); };
  long long number = 0;
  if (set(kInterval)) {
    if (!ParseBoundedNumber("--interval", value(kInterval), 10, 3600000, number, error)) return false;
    o.intervalMs = static_cast<int>(number);
  }
  if (set(kCount)) {
    if (!ParseBoundedNumber("--count", value(kCount), 1, 1000000000000LL, number, error)) return false;
    o.count = number;
  }
  if (set(kTimeout)) {
    if (!ParseBoundedNumber("--timeout", value(kTimeout), 1, 600000, number, error)) return false;
    o.timeoutMs = static_cast<int>(number);
  }
  if (set(kDevice)) {
    o.device = value(kDevice);
    if (o.device.empty()) {
      error = "--device needs a node such as /dev/hidraw0 or an index of `zrv-cli list`";
      return false;
    }
  }
  if (set(kSlaveId) && !ParseSlaveId(value(kSlaveId), o.modbus.SlaveId.emplace(), error)) return false;
  if (set(kBaud) && !ParseBaud(value(kBaud), o.modbus.Baud.emplace(), error)) return false;
  if (set(kParity) && !ParseParity(value(kParity), o.modbus.Parity.emplace(), error)) return false;
  if (set(kPort)) {
    o.port = value(kPort);
    if (o.port.empty()) {
      error = "--port needs a serial port such as /dev/ttyUSB0 (see `zrv-cli bus ports`)";
      return false;
    }
  }
  if (set(kFunction)) {
    const std::string f = value(kFunction);
    if (f != "3" && f != "03" && f != "4" && f != "04") {
      error = "--function must be 3 (holding registers) or 4 (input registers), not \"" + f + "\"";
      return false;
    }
    o.function = static_cast<std::uint8_t>(f.back() - '0');
  }
  if (set(kFrom)) {
    o.fromFile = value(kFrom);
    if (o.fromFile.empty()) {
      error = "--from needs a file name";
      return false;
    }
  }
  return true;
}

// The command: one word, or two for modbus.
bool TakeCommand(const std::vector<std::string>& words, CliOptions& o, std::string& error) {
  if (words.empty()) {
    error = "no command given";
    return false;
  }
  const std::string& name = words[0];
  std::size_t used = 1;
  if (name == "list") {
    o.command = Command::List;
  } else if (name == "info") {
    o.command = Command::Info;
  } else if (name == "status") {
    o.command = Command::Status;
  } else if (name == "registers") {
    o.command = Command::Registers;
  } else if (name == "doctor") {
    o.command = Command::Doctor;
  } else if (name == "bus") {
    const std::string sub = words.size() < 2 ? std::string() : words[1];
    if (sub == "ports") {
      o.command = Command::BusPorts;
    } else if (sub == "read") {
      o.command = Command::BusRead;
    } else if (sub == "test") {
      o.command = Command::BusTest;
    } else if (sub == "scan") {
      o.command = Command::BusScan;
    } else {
      error = "bus needs ports, read, test or scan";
      return false;
    }
    used = 2;
  } else if (name == "modbus") {
    if (words.size() < 2 || (words[1] != "get" && words[1] != "set")) {
      error = "modbus needs get or set";
      return false;
    }
    o.command = words[1] == "get" ? Command::ModbusGet : Command::ModbusSet;
    used = 2;
  } else {
    error = "unknown command " + name;
    return false;
  }
  if (words.size() > used) {
    error = "unexpected argument " + words[used];
    return false;
  }
  return true;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, CliOptions& out, std::string& error) {
  CliOptions o;
  QCommandLineParser parser;
  // One dash is for single letters (only -h): -json is no --json.
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
  const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
  parser.addOption(help);
  std::vector<QCommandLineOption> options;
  for (int i = 0; i < kOptionCount; ++i) {
    const QString name = QString::fromLatin1(kOptionNames[i]);
    options.push_back(i < kFirstWithValue ? QCommandLineOption(name) : QCommandLineOption(name, {}, name));
    parser.addOption(options.back());
  }
  // Bytes go through Latin-1 unchanged both ways, so a file name in any encoding stays the same.
  // --simulate takes a value only after '=', which the parser has no way to say.
  QStringList list{QStringLiteral("zrv-cli")};
  for (const std::string& arg : args) {
    const bool simulateWithValue = arg.rfind("--simulate=", 0) == 0;
    if (simulateWithValue) o.scenario = arg.substr(std::string_view("--simulate=").size());
    list.push_back(simulateWithValue ? QStringLiteral("--simulate") : QString::fromLatin1(arg));
  }
  if (!parser.parse(list)) {
    error = RefusalText(args, parser);
    return false;
  }
  std::set<QString> seen;
  for (const QString& name : parser.optionNames()) {
    if (name != QLatin1String("h") && name != QLatin1String("help") && !seen.insert(name).second) {
      error = "--" + name.toStdString() + " is given twice";
      return false;
    }
  }
  if (!TakeValues(parser, options, o, error)) return false;
  auto set = [&](Option option) { return parser.isSet(options[option]); };
  o.watch = set(kWatch);
  o.dryRun = set(kDryRun);
  o.simulate = set(kSimulate);
  o.all = set(kAll);
  const bool json = set(kJson);
  const bool csv = set(kCsv);
  const bool intervalGiven = set(kInterval);

  if (parser.isSet(help) || set(kVersion)) {
    o.command = parser.isSet(help) ? Command::Help : Command::Version;
    out = o;
    return true;
  }
  const QStringList positional = parser.positionalArguments();
  std::vector<std::string> words;
  for (const QString& word : positional) words.push_back(word.toLatin1().toStdString());
  if (!TakeCommand(words, o, error)) return false;

  const Allowed allowed = AllowedFor(o.command);
  if (json && csv) {
    error = "--json and --csv exclude each other";
    return false;
  }
  if (csv && !(allowed.csv && o.watch)) {
    error = "--csv is for status --watch only";
    return false;
  }
  const bool busTest = o.command == Command::BusTest;
  if (!allowed.watch && (o.watch || intervalGiven || (o.count && !busTest))) {
    error = "--watch, --interval and --count are for status and registers only (and --count for bus test)";
    return false;
  }
  if (busTest && o.count && *o.count > kMostBusTestReads) {
    error = "--count for bus test must be a whole number from 1 to " + std::to_string(kMostBusTestReads);
    return false;
  }
  if (!allowed.bus && !o.port.empty()) {
    error = "--port is for bus read, test and scan only";
    return false;
  }
  if (o.function && o.command != Command::BusRead) {
    error = "--function is for bus read only";
    return false;
  }
  if (o.all && o.command != Command::BusScan) {
    error = "--all is for bus scan only";
    return false;
  }
  if (allowed.watch && !o.watch && (intervalGiven || o.count)) {
    error = "--interval and --count need --watch";
    return false;
  }
  if (!allowed.modbusSet && (!o.fromFile.empty() || o.dryRun)) {
    error = "--from and --dry-run are for modbus set only";
    return false;
  }
  if (!allowed.modbusSet && !allowed.bus && (o.modbus.Baud || o.modbus.Parity || o.modbus.SlaveId)) {
    error = "--slave-id, --baud and --parity are for modbus set and bus read, test and scan only";
    return false;
  }
  if (!allowed.device && !o.device.empty()) {
    error = "--device is not used by this command";
    return false;
  }
  if (o.command == Command::ModbusSet && !o.modbus.Baud && !o.modbus.Parity && !o.modbus.SlaveId &&
      o.fromFile.empty()) {
    error = "modbus set needs --slave-id, --baud, --parity or --from";
    return false;
  }
  o.format = json ? OutputFormat::Json : csv ? OutputFormat::Csv : OutputFormat::Text;
  out = o;
  return true;
}

}  // namespace zrv::cli
