// What a serial line is set to: the baud rate and parity (the driver's numbering: 0 none, 1 odd,
// 2 even), always 8 data bits and 1 stop bit. The same settings the Modbus master reasons with.
#pragma once

#include <QString>

#include "modbus/rtu_timing.h"

namespace zrv::bus {

using LineSettings = modbus::LineSettings;
inline constexpr std::uint8_t kParityNone = 0;
inline constexpr std::uint8_t kParityOdd = 1;
inline constexpr std::uint8_t kParityEven = 2;

// "38400 8N1", "9600 8E1": how technicians write a line's settings.
QString LineSettingsText(const LineSettings& settings);

}  // namespace zrv::bus
