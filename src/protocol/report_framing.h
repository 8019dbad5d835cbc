// Output reports exactly as they are written to the device.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "device_state.h"

namespace zrv {

inline constexpr std::size_t kReportBufferSize = 256;
inline constexpr std::uint8_t kOutputReportId = 1;
inline constexpr std::size_t kWriteModbusSettingsPayloadSize = 63;

struct OutputReport {
  std::array<std::uint8_t, kReportBufferSize> Buffer{};  // zero beyond the payload
  std::size_t Length = 0;                               // bytes to write: the output report length
};

// Frames `payload` as one output report of `outputReportByteLength` bytes (report ID byte
// included): byte 0 is the report ID 1, then the payload cut to length - 1 bytes, then zeros.
// Returns false when the report must not be sent: a length of 0 (capabilities unknown) or one
// that does not fit the 256-byte buffer.
bool FrameReport(const std::uint8_t* payload, std::uint32_t length,
                 std::uint32_t outputReportByteLength, OutputReport& out);

// The 63-byte payload of command 148: the code, the six settings bytes, then zeros.
std::array<std::uint8_t, kWriteModbusSettingsPayloadSize> BuildWriteModbusSettingsPayload(
    const ModbusSettings& settings);

}  // namespace zrv
