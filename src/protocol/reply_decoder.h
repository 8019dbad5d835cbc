// Decoding of input reports into DeviceState.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "device_state.h"

namespace zrv {

inline constexpr std::string_view kDriverProductString = "ZRVXXX";

// The baud rates the tool offers and the slave addresses it accepts (1 to kHighestSlaveId). A
// setting outside them is never written to a driver.
inline constexpr std::array<std::uint32_t, 5> kOfferedBaudRates = {9600, 19200, 38400, 57600, 115200};
inline constexpr int kLowestSlaveId = 1;
inline constexpr int kHighestSlaveId = 127;
inline constexpr int kHighestParity = 2;  // 0 none, 1 odd, 2 even

constexpr bool IsOfferedBaudRate(std::uint32_t rate) {
  for (const std::uint32_t offered : kOfferedBaudRates) {
    if (offered == rate) return true;
  }
  return false;
}
constexpr bool IsValidSlaveId(int id) { return id >= kLowestSlaveId && id <= kHighestSlaveId; }

// What one input report was, once decoded into DeviceState.
struct DecodedReply {
  enum class Kind { None, Identity, Status, Registers, ModbusSettings, SettingsSaved };
  Kind kind = Kind::None;
  // kind == Registers: the driver's count of good Modbus frames (DeviceState keeps only its high
  // byte, as the first byte of the register block).
  std::uint16_t GoodFrames = 0;
};

// Decodes one input report's data (data[0] is the command code, `size` the bytes delivered after
// the report ID) into `state`. A reply too short for its code, and any unknown code, changes
// nothing and gives Kind::None.
DecodedReply DecodeReply(DeviceState& state, const std::uint8_t* data, std::size_t size);

}  // namespace zrv
