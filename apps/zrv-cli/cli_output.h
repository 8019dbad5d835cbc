// What zrv-cli prints: readable text, or JSON with stable keys (numbers as numbers), one object per
// line. Pure functions of what was read.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "bus/serial_port_list.h"
#include "doctor.h"
#include "driver_requests.h"
#include "protocol/device_state.h"
#include "protocol/register_map.h"

namespace zrv::cli {

// Builds one JSON object in the order its members are added.
class JsonObject {
 public:
  JsonObject& Number(std::string_view key, long long value);
  JsonObject& Hundredths(std::string_view key, int hundredths);  // 125 -> 1.25
  JsonObject& Bool(std::string_view key, bool value);
  JsonObject& String(std::string_view key, std::string_view value);
  JsonObject& Raw(std::string_view key, std::string_view json);  // an object or array already built
  std::string Text() const { return text_ + "}"; }

 private:
  void Key(std::string_view key);
  std::string text_ = "{";
  bool first_ = true;
};

std::string JsonString(std::string_view text);

// Text from the command line or a file as it may be shown on a terminal: control characters
// (C0, DEL, and C1 in UTF-8) as \xNN, so no escape sequence reaches the terminal.
std::string ShownText(std::string_view text);

// 125 -> "1.25", -3 -> "-0.03": exact, whatever the locale.
std::string DecimalHundredths(int hundredths);

// Firmware and hardware versions in hundredths, as the driver sends them.
int VersionHundredths(float version);

std::string ListText(const std::vector<DeviceEntry>& devices);
std::string ListJson(const std::vector<DeviceEntry>& devices);

std::string InfoText(const DeviceState& state, const std::string& node);
std::string InfoJson(const DeviceState& state, const std::string& node);

std::string ModbusText(const ModbusSettings& settings);
std::string ModbusJson(const ModbusSettings& settings);  // one line
std::string ModbusJsonObject(const ModbusSettings& settings);  // the object alone

// `elapsedMs` < 0 leaves the time out (a one-shot reading).
std::string StatusText(const DeviceState& state, long long elapsedMs);
std::string StatusJson(const DeviceState& state, long long elapsedMs);

// The register table's rows as a JSON array of {"addr", "name", "value"}; a row `read` turns down
// (one a bus read did not get) has the value null. Without `read` every row has its value.
std::string RegisterRowsJson(const RegisterBlock& block, const std::function<bool(const RegisterRow&)>& read = {});

std::string RegistersText(const DeviceState& state, std::uint16_t goodFrames, long long elapsedMs);
std::string RegistersJson(const DeviceState& state, std::uint16_t goodFrames, long long elapsedMs);

std::string HexBytes(const std::vector<std::uint8_t>& bytes);

// The serial ports, with what tells one adapter from another; the stable by-id name under each.
std::string BusPortsText(const QList<bus::SerialPortInfo>& ports);
std::string BusPortsJson(const QList<bus::SerialPortInfo>& ports);

std::string DoctorText(const DoctorReport& report);
std::string DoctorJson(const DoctorReport& report);

}  // namespace zrv::cli
