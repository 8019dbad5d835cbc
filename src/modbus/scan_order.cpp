#include "modbus/scan_order.h"

#include <algorithm>

#include "protocol/reply_decoder.h"

namespace zrv::modbus {

namespace {

template <typename T>
void AddOnce(std::vector<T>& list, const T& item) {
  if (std::find(list.begin(), list.end(), item) == list.end()) list.push_back(item);
}

bool Covered(const LineSettings& line) {
  return IsOfferedBaudRate(line.Baudrate) && line.Parity <= kHighestParity;
}

}  // namespace

std::vector<ScanProbe> ScanOrder(const std::optional<ModbusSettings>& usb) {
  std::vector<LineSettings> lines;
  if (usb && Covered({usb->Baudrate, usb->Parity})) lines.push_back({usb->Baudrate, usb->Parity});
  for (const LineSettings& line : kCommonLineSettings) AddOnce(lines, line);
  for (const std::uint32_t baud : kOfferedBaudRates) {
    for (int parity = 0; parity <= kHighestParity; ++parity) {
      AddOnce(lines, LineSettings{baud, static_cast<std::uint8_t>(parity)});
    }
  }

  std::vector<std::uint8_t> likely;
  if (usb && IsValidSlaveId(usb->SlaveId)) likely.push_back(usb->SlaveId);
  AddOnce(likely, std::uint8_t{1});

  std::vector<ScanProbe> order;
  order.reserve(lines.size() * kHighestSlaveId);
  for (const LineSettings& line : lines) {
    for (const std::uint8_t slave : likely) order.push_back({line, slave});
  }
  for (const LineSettings& line : lines) {
    for (int id = kLowestSlaveId; id <= kHighestSlaveId; ++id) {
      const auto slave = static_cast<std::uint8_t>(id);
      if (std::find(likely.begin(), likely.end(), slave) == likely.end()) order.push_back({line, slave});
    }
  }
  return order;
}

std::optional<Request> ProbeRequest(std::uint8_t slave) { return Request::ReadHolding(slave, 0, 1); }

}  // namespace zrv::modbus
