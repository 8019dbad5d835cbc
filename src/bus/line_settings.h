// What a serial line is set to: the baud rate and parity the driver's Modbus settings name, always
// 8 data bits and 1 stop bit.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace zrv::bus {

enum class Parity : std::uint8_t { None = 0, Odd = 1, Even = 2 };  // the driver's own numbering

struct LineSettings {
  std::uint32_t Baudrate = 9600;
  Parity parity = Parity::None;
  friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// "none", "odd", "even": the words the command line takes and prints.
QString ParityName(Parity parity);
std::optional<Parity> ParityFromName(const QString& name);
std::optional<Parity> ParityFromCode(std::uint8_t code);
// "38400 8N1", "9600 8E1": how technicians write a line's settings.
QString LineSettingsText(const LineSettings& settings);

}  // namespace zrv::bus
