// The order in which a scan tries line settings and slave addresses: every baud rate the Modbus
// page offers, every parity and every address 1 to 127, each once, the most likely first. First the
// addresses most likely (the one USB reports, then 1) at every line setting, from the setting USB
// reports through the common ones to the rest; then every other address, setting by setting in the
// same order. A wrong address is likelier than a wrong line, so USB's line is swept whole first.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "modbus/request.h"
#include "modbus/rtu_timing.h"
#include "protocol/device_state.h"

namespace zrv::modbus {

struct ScanProbe {
  LineSettings Line;
  std::uint8_t Slave = 1;
  friend bool operator==(const ScanProbe&, const ScanProbe&) = default;
};

// Settings met most often after the ones USB reports, most common first: the RTU default
// 19200 even, then the usual defaults of devices and adapters.
inline constexpr std::array<LineSettings, 6> kCommonLineSettings = {{
    {19200, 2}, {9600, 0}, {9600, 2}, {19200, 0}, {38400, 0}, {115200, 0}}};

// `usb`: the settings the driver reports over USB, when there is a driver on USB; settings the
// scan does not cover (a baud rate not offered, parity above 2, an address above 127) are ignored.
std::vector<ScanProbe> ScanOrder(const std::optional<ModbusSettings>& usb);

// One probe: the shortest read. Any frame from the slave, an exception included, finds it. None for
// an address no slave can have.
std::optional<Request> ProbeRequest(std::uint8_t slave);

}  // namespace zrv::modbus
