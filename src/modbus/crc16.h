// CRC-16 of Modbus RTU frames (polynomial 0xA001 reflected, initial 0xFFFF). On the wire the low
// byte goes first.
#pragma once

#include <cstdint>
#include <span>

namespace zrv::modbus {

std::uint16_t Crc16(std::span<const std::uint8_t> bytes);

// True when the last two bytes of `frame` are the CRC of the bytes before them.
bool CrcMatches(std::span<const std::uint8_t> frame);

}  // namespace zrv::modbus
