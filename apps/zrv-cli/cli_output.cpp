#include "cli_output.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "cli_options.h"
#include "view/live_view_model.h"
#include "view/number_format.h"
#include "view/register_table.h"

namespace zrv::cli {

namespace {

std::string Name(const DeviceIdentity& identity) {
  const auto end = std::find(identity.DeviceName.begin(), identity.DeviceName.end(), '\0');
  return std::string(identity.DeviceName.begin(), end);
}

std::string ParityText(std::uint8_t parity) {
  const std::string_view name = ParityName(parity);
  return name.empty() ? "code " + std::to_string(parity) : std::string(name);
}

// `digits` lowest hexadecimal digits of `value`, with leading zeros.
std::string Hex(unsigned value, int digits) {
  std::string text(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4U) text[static_cast<std::size_t>(i)] = "0123456789abcdef"[value & 0xFU];
  return text;
}

std::string Hex4(std::uint16_t value) { return Hex(value, 4); }

// Characters, not bytes: product strings are UTF-8.
std::size_t TextWidth(std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0U) != 0x80U; }));
}

// `text` and blanks up to `width` characters; a longer text stays whole.
std::string Padded(std::string_view text, std::size_t width) {
  std::string out(text);
  const std::size_t have = TextWidth(text);
  if (have < width) out.append(width - have, ' ');
  return out;
}

// The window's value texts keep a blank after the unit for their layout; a line needs none.
std::string_view TrimEnd(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

bool Bit(std::uint8_t bits, int bit) { return ((static_cast<unsigned>(bits) >> static_cast<unsigned>(bit)) & 1U) != 0; }

}  // namespace

std::string DecimalHundredths(int hundredths) {
  const long long magnitude = hundredths < 0 ? -static_cast<long long>(hundredths) : hundredths;
  const long long cents = magnitude % 100;
  // Appended piece by piece: prepending to a temporary string trips a false -Wrestrict in GCC 12's
  // optimised builds.
  std::string text;
  if (hundredths < 0) text.push_back('-');
  text.append(std::to_string(magnitude / 100)).append(cents < 10 ? ".0" : ".").append(std::to_string(cents));
  return text;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      out += "\\u";
      out += Hex(c, 4);
    } else {
      out += ch;
    }
  }
  out += '"';
  return out;
}

std::string ShownText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7f) {
      out += "\\x";
      out += Hex(c, 2);
    } else if (c == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
      out += "\\u";
      out += Hex(static_cast<unsigned char>(text[i + 1]), 4);
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

void JsonObject::Key(std::string_view key) {
  if (!first_) text_ += ',';
  first_ = false;
  text_ += JsonString(key);
  text_ += ':';
}

JsonObject& JsonObject::Number(std::string_view key, long long value) {
  Key(key);
  text_ += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::Hundredths(std::string_view key, int hundredths) {
  Key(key);
  text_ += DecimalHundredths(hundredths);
  return *this;
}

JsonObject& JsonObject::Bool(std::string_view key, bool value) {
  Key(key);
  text_ += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::String(std::string_view key, std::string_view value) {
  Key(key);
  text_ += JsonString(value);
  return *this;
}

JsonObject& JsonObject::Raw(std::string_view key, std::string_view json) {
  Key(key);
  text_ += json;
  return *this;
}

int VersionHundredths(float version) { return static_cast<int>(std::lround(version * 100.0)); }

std::string ListText(const std::vector<DeviceEntry>& devices) {
  if (devices.empty()) return "no HID devices\n";
  constexpr std::size_t kNodeWidth = 16;  // /dev/hidrawN
  const auto product = [](const DeviceEntry& d) {
    return d.Product.empty() ? std::string("(no product string)") : ProductText(d);
  };
  const auto columns = [](const DeviceEntry& d) {
    return Hex4(d.VendorID) + ":" + Hex4(d.ProductID) + "  " + Padded(d.IsDriver ? "yes" : "no", 6) + "  " +
           Padded(d.ReadWrite ? "rw" : "none", 6) + "  ";
  };
  const bool shortNodes = std::all_of(devices.begin(), devices.end(),
                                      [](const DeviceEntry& d) { return TextWidth(d.Node) <= kNodeWidth; });
  std::ostringstream out;
  if (shortNodes) {
    out << "INDEX  NODE             VID:PID    DRIVER  ACCESS  PRODUCT\n";
    for (const DeviceEntry& d : devices)
      out << Padded(std::to_string(d.Index), 6) << ' ' << Padded(d.Node, kNodeWidth) << ' ' << columns(d)
          << product(d) << '\n';
    return out.str();
  }
  // Windows' interface paths run to 80 characters and more: the short columns first, the path last,
  // each row whole however wide it gets.
  std::size_t productWidth = TextWidth("PRODUCT");
  for (const DeviceEntry& d : devices) productWidth = std::max(productWidth, TextWidth(product(d)));
  out << "INDEX  VID:PID    DRIVER  ACCESS  " << Padded("PRODUCT", productWidth) << "  NODE\n";
  for (const DeviceEntry& d : devices)
    out << Padded(std::to_string(d.Index), 6) << ' ' << columns(d) << Padded(product(d), productWidth) << "  "
        << d.Node << '\n';
  return out.str();
}

std::string ListJson(const std::vector<DeviceEntry>& devices) {
  std::string array = "[";
  for (const DeviceEntry& d : devices) {
    if (array.size() > 1) array += ',';
    array += JsonObject()
                 .Number("index", d.Index)
                 .String("node", d.Node)
                 .Number("vid", d.VendorID)
                 .Number("pid", d.ProductID)
                 .String("id", Hex4(d.VendorID) + ":" + Hex4(d.ProductID))
                 .String("product", ProductText(d))
                 .Bool("driver", d.IsDriver)
                 .Bool("read_write", d.ReadWrite)
                 .Text();
  }
  array += ']';
  return JsonObject().Raw("devices", array).Text() + "\n";
}

std::string ModbusText(const ModbusSettings& m) {
  return "slave id " + std::to_string(m.SlaveId) + ", " + std::to_string(m.Baudrate) + " baud, parity " +
         ParityText(m.Parity) + "\n";
}

std::string ModbusJsonObject(const ModbusSettings& m) {
  JsonObject o;
  o.Number("baud", m.Baudrate);
  if (ParityName(m.Parity).empty()) {
    o.Number("parity", m.Parity);  // a code the tool does not know: kept as the driver sent it
  } else {
    o.String("parity", ParityName(m.Parity));
  }
  return o.Number("slave_id", m.SlaveId).Text();
}

std::string ModbusJson(const ModbusSettings& m) { return ModbusJsonObject(m) + "\n"; }

std::string InfoText(const DeviceState& s, const std::string& node) {
  std::ostringstream out;
  out << "node:              " << node << '\n'
      << "name:              " << Name(s.Identity) << '\n'
      << "firmware version:  " << DecimalHundredths(VersionHundredths(s.Identity.FirmwareVer)) << '\n'
      << "hardware version:  " << DecimalHundredths(VersionHundredths(s.Identity.HardwareVer)) << '\n'
      << "supply max:        " << s.Limits.PowerSupplyMax << " mV\n"
      << "temperature max:   " << s.Limits.TemperatureMax << " C\n"
      << "PWM max:           " << s.Limits.PwmMax << '\n'
      << "current max:       " << s.Limits.CurMax << " mA\n"
      << "modbus:            " << ModbusText(s.Modbus);
  return out.str();
}

std::string InfoJson(const DeviceState& s, const std::string& node) {
  const std::string limits = JsonObject()
                                 .Number("supply_max_mv", s.Limits.PowerSupplyMax)
                                 .Number("temperature_max_c", s.Limits.TemperatureMax)
                                 .Number("pwm_max", s.Limits.PwmMax)
                                 .Number("current_max_ma", s.Limits.CurMax)
                                 .Text();
  return JsonObject()
             .String("node", node)
             .String("name", Name(s.Identity))
             .Hundredths("firmware_version", VersionHundredths(s.Identity.FirmwareVer))
             .Hundredths("hardware_version", VersionHundredths(s.Identity.HardwareVer))
             .Raw("limits", limits)
             .Raw("modbus", ModbusJsonObject(s.Modbus))
             .Text() +
         "\n";
}

std::string StatusText(const DeviceState& s, long long elapsedMs) {
  const TickView view = ComputeTick(s, '.', true);
  const LiveStatus& st = s.Status;
  std::ostringstream out;
  if (elapsedMs >= 0) out << "time:          " << elapsedMs << " ms\n";
  out << "state:         "
      << (view.DriverState ? std::string(view.DriverState->Text) : "code " + std::to_string(st.DriverState));
  if (view.FaultText && st.FaultCode != 0) out << std::string(*view.FaultText);
  out << '\n';
  out << "fault:         "
      << (view.FaultText ? (st.FaultCode == 0 ? std::string("none") : std::string(*view.FaultText))
                         : "code " + std::to_string(st.FaultCode))
      << '\n';
  out << "work mode:     "
      << (view.WorkModeText ? std::string(TrimEnd(view.WorkModeText->View())) : "code " + std::to_string(st.WorkMode))
      << '\n';
  static constexpr const char* kValueNames[kValueRowCount] = {
      "supply:        ", "temperature:   ", "potentiometer: ", "analog in:     ",
      "current limit: ", "current:       ", "PWM limit:     ", "PWM:           "};
  for (std::size_t i = 0; i < kValueRowCount; ++i) out << kValueNames[i] << TrimEnd(view.ValueTexts[i].View()) << '\n';
  // Indicator order of the view: SW1..SW6, IN1..IN4, OUT1, OUT2.
  out << "inputs:        ";
  for (std::size_t i = 0; i < 4; ++i) out << "IN" << i + 1 << ' ' << view.Indicators[6 + i].Text() << (i < 3 ? "  " : "\n");
  out << "outputs:       OUT1 " << view.Indicators[10].Text() << "  OUT2 " << view.Indicators[11].Text() << '\n';
  out << "switches:      ";
  for (std::size_t i = 0; i < 6; ++i) out << "S" << i + 1 << ' ' << view.Indicators[i].Text() << (i < 5 ? "  " : "\n");
  return out.str();
}

std::string StatusJson(const DeviceState& s, long long elapsedMs) {
  const LiveStatus& st = s.Status;
  JsonObject o;
  if (elapsedMs >= 0) o.Number("elapsed_ms", elapsedMs);
  o.Number("driver_state", st.DriverState)
      .Number("fault_code", st.FaultCode)
      .Number("work_mode", st.WorkMode)
      .Number("supply_mv", st.PowerSupply)
      .Number("temperature_c", st.Temperature)
      .Number("potentiometer", st.Potentiometer)
      .Number("ain_mv", st.Ain)
      .Number("current_limit_ma", st.CurLim)
      .Number("current_ma", st.CurAct)
      .Number("pwm_limit", st.PwmLim)
      .Number("pwm", st.PwmAct);
  for (int i = 0; i < 4; ++i) o.Bool("in" + std::to_string(i + 1), Bit(st.Inputs, i));
  o.Bool("out1", Bit(st.Outputs, 3)).Bool("out2", Bit(st.Outputs, 4));
  for (int i = 0; i < 6; ++i) o.Bool("sw" + std::to_string(i + 1), Bit(st.Switches, i));
  return o.Text() + "\n";
}

std::string RegistersText(const DeviceState& s, std::uint16_t goodFrames, long long elapsedMs) {
  std::ostringstream out;
  if (elapsedMs >= 0) out << "time: " << elapsedMs << " ms\n";
  out << "good frames: " << goodFrames << '\n';
  out << "ADDR  NAME            VALUE\n";
  for (const RegisterRow& row : kRegisterTable)
    out << Padded(row.Address, 5) << ' ' << Padded(row.Name, 15) << ' ' << RegisterValueText(s.Registers, row).View()
        << '\n';
  return out.str();
}

std::string RegisterRowsJson(const RegisterBlock& block, const std::function<bool(const RegisterRow&)>& read) {
  std::string rows = "[";
  for (const RegisterRow& row : kRegisterTable) {
    if (rows.size() > 1) rows += ',';
    // The value text is plain decimal digits with an optional minus: a JSON number as it is.
    rows += JsonObject()
                .Raw("addr", row.Address)
                .String("name", row.Name)
                .Raw("value", !read || read(row) ? RegisterValueText(block, row).View() : "null")
                .Text();
  }
  return rows + ']';
}

std::string RegistersJson(const DeviceState& s, std::uint16_t goodFrames, long long elapsedMs) {
  const std::string rows = RegisterRowsJson(s.Registers);
  JsonObject o;
  if (elapsedMs >= 0) o.Number("elapsed_ms", elapsedMs);
  return o.Number("good_frames", goodFrames)
             .Number("driver_state", s.Status.DriverState)
             .Number("fault_code", s.Status.FaultCode)
             .Number("work_mode", s.Status.WorkMode)
             .Raw("registers", rows)
             .Text() +
         "\n";
}

std::string HexBytes(const std::vector<std::uint8_t>& bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) out += ' ';
    out += Hex(bytes[i], 2);
  }
  return out;
}

std::string BusPortsText(const QList<bus::SerialPortInfo>& ports) {
  if (ports.isEmpty()) return "no serial ports\n";
  struct Row {
    std::string path, ids, description, manufacturer, serial, stable;
  };
  std::vector<Row> rows;
  std::size_t pathWidth = TextWidth("PORT");
  std::size_t descriptionWidth = TextWidth("DESCRIPTION");
  std::size_t manufacturerWidth = TextWidth("MANUFACTURER");
  for (const bus::SerialPortInfo& p : ports) {
    Row r{ShownText(p.path.toStdString()),       bus::UsbIdsText(p).toStdString(),
          ShownText(p.description.toStdString()), ShownText(p.manufacturer.toStdString()),
          ShownText(p.serialNumber.toStdString()), ShownText(p.stableName.toStdString())};
    if (r.ids.empty()) r.ids = "-";
    pathWidth = std::max(pathWidth, TextWidth(r.path));
    descriptionWidth = std::max(descriptionWidth, TextWidth(r.description));
    manufacturerWidth = std::max(manufacturerWidth, TextWidth(r.manufacturer));
    rows.push_back(std::move(r));
  }
  std::ostringstream out;
  out << Padded("PORT", pathWidth) << "  VID:PID    " << Padded("DESCRIPTION", descriptionWidth) << "  "
      << Padded("MANUFACTURER", manufacturerWidth) << "  SERIAL\n";
  for (const Row& r : rows) {
    std::string line = Padded(r.path, pathWidth) + "  " + Padded(r.ids, 9) + "  " +
                       Padded(r.description, descriptionWidth) + "  " + Padded(r.manufacturer, manufacturerWidth) +
                       "  " + r.serial;
    line.erase(line.find_last_not_of(' ') + 1);
    out << line << '\n';
    if (!r.stable.empty()) out << Padded("", pathWidth) << "  " << r.stable << '\n';
  }
  return out.str();
}

std::string BusPortsJson(const QList<bus::SerialPortInfo>& ports) {
  std::string array = "[";
  for (const bus::SerialPortInfo& p : ports) {
    if (array.size() > 1) array += ',';
    JsonObject o;
    o.String("path", p.path.toStdString()).String("stable_name", p.stableName.toStdString());
    o.String("description", p.description.toStdString()).String("manufacturer", p.manufacturer.toStdString());
    if (p.hasUsbIds) {
      o.Number("vid", p.vendorId).Number("pid", p.productId).String("id", bus::UsbIdsText(p).toStdString());
    }
    array += o.String("serial_number", p.serialNumber.toStdString()).Text();
  }
  return JsonObject().Raw("ports", array + "]").Text() + "\n";
}

std::string DoctorText(const DoctorReport& report) {
  std::ostringstream out;
  for (const Finding& f : report.Findings) {
    out << (f.Ok ? "ok:      " : "problem: ") << f.Problem << '\n';
    if (!f.Fix.empty()) out << "fix:     " << f.Fix << '\n';
  }
  return out.str();
}

std::string DoctorJson(const DoctorReport& report) {
  std::string findings = "[";
  for (const Finding& f : report.Findings) {
    if (findings.size() > 1) findings += ',';
    findings += JsonObject().String("node", f.Node).Bool("ok", f.Ok).String("message", f.Problem).String("fix", f.Fix).Text();
  }
  findings += ']';
  return JsonObject().Bool("ok", report.ExitCode == 0).Number("exit_code", report.ExitCode).Raw("findings", findings).Text() +
         "\n";
}

}  // namespace zrv::cli
