#include "sim/rs485_slave.h"

#include <cstring>
#include <optional>

#include "modbus/crc16.h"
#include "modbus/request.h"
#include "modbus/response.h"
#include "protocol/register_map.h"
#include "sim/simulated_driver.h"

namespace zrv::sim {

namespace {

constexpr std::uint8_t kBroadcast = 0;

void AppendCrc(std::vector<std::uint8_t>& frame) {
  const std::uint16_t crc = modbus::Crc16(frame);
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFFU));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
}

std::vector<std::uint8_t> Exception(std::uint8_t slave, std::uint8_t function, std::uint8_t code) {
  std::vector<std::uint8_t> out = {slave, static_cast<std::uint8_t>(function | modbus::kExceptionFlag), code};
  AppendCrc(out);
  return out;
}

std::uint16_t Field(std::span<const std::uint8_t> frame, std::size_t at) {
  return static_cast<std::uint16_t>((frame[at] << 8) | frame[at + 1]);
}

// Registers first..first+count-1 from the block, when they all lie in one run it holds.
bool InOneRun(std::uint32_t first, std::uint32_t count) {
  for (const RegisterRun& run : kBlockRegisterRuns) {
    if (first >= run.First && first + count <= static_cast<std::uint32_t>(run.First) + run.Count) return true;
  }
  return false;
}

}  // namespace

modbus::LineSettings Rs485Slave::Settings(const DriverModel& model) {
  return {model.Modbus.Baudrate, model.Modbus.Parity};
}

std::vector<std::uint8_t> Rs485Slave::OnFrame(DriverModel& model, std::span<const std::uint8_t> frame,
                                              bool damaged) {
  ++framesSeen_;
  if (damaged || frame.size() < 4 || !modbus::CrcMatches(frame)) return {};
  ++goodFrames_;
  ++model.GoodFrames;  // the counter reply 12 carries; it wraps as the firmware's does
  const std::uint8_t slave = frame[0];
  if (slave == kBroadcast || slave != model.Modbus.SlaveId) return {};

  const std::uint8_t function = frame[1];
  std::vector<std::uint8_t> out;
  if (((function == modbus::kReadHoldingRegisters && holding_) || function == modbus::kReadInputRegisters) &&
      frame.size() == modbus::kRequestLength) {
    const std::uint16_t first = Field(frame, 2);
    const std::uint16_t count = Field(frame, 4);
    if (count == 0 || count > modbus::kMostRegistersPerRead) {
      out = Exception(slave, function, modbus::kIllegalDataValue);
    } else if (!InOneRun(first, count)) {
      out = Exception(slave, function, modbus::kIllegalDataAddress);
    } else {
      out = {slave, function, static_cast<std::uint8_t>(2 * count)};
      for (std::uint32_t n = first; n < static_cast<std::uint32_t>(first) + count; ++n) {
        std::uint16_t word = 0;
        std::memcpy(&word, model.Registers.Bytes.data() + *BlockOffsetOfRegister(n), sizeof word);
        out.push_back(static_cast<std::uint8_t>(word >> 8));  // big-endian on the line
        out.push_back(static_cast<std::uint8_t>(word & 0xFFU));
      }
      AppendCrc(out);
    }
  } else if (function == modbus::kDiagnostics && frame.size() == modbus::kRequestLength && Field(frame, 2) == 0) {
    out.assign(frame.begin(), frame.end());  // return query data: the request itself
  } else {
    out = Exception(slave, function, modbus::kIllegalFunction);
  }
  ++answers_;
  return out;
}

}  // namespace zrv::sim
