#include "report_framing.h"

#include <algorithm>
#include <cstring>

namespace zrv {

bool FrameReport(const std::uint8_t* payload, std::uint32_t length,
                 std::uint32_t outputReportByteLength, OutputReport& out) {
  out.Buffer.fill(0);
  out.Length = 0;
  // Without a known length nothing sensible can be written, and a length beyond the buffer
  // would make the write read past it.
  if (outputReportByteLength == 0 || outputReportByteLength > kReportBufferSize) {
    return false;
  }
  out.Buffer[0] = kOutputReportId;
  const std::size_t room = outputReportByteLength - 1U;
  const std::size_t copied = payload == nullptr ? 0U : std::min<std::size_t>(length, room);
  if (copied > 0) {
    std::memcpy(out.Buffer.data() + 1, payload, copied);
  }
  out.Length = outputReportByteLength;
  return true;
}

std::array<std::uint8_t, kWriteModbusSettingsPayloadSize> BuildWriteModbusSettingsPayload(
    const ModbusSettings& settings) {
  std::array<std::uint8_t, kWriteModbusSettingsPayloadSize> payload{};
  payload[0] = static_cast<std::uint8_t>(CommandCode::WriteModbusSettings);
  std::memcpy(payload.data() + 1, &settings, sizeof settings);
  return payload;
}

}  // namespace zrv
