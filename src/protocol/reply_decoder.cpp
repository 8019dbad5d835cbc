#include "reply_decoder.h"

#include <cstring>

namespace zrv {
namespace {

// Bytes each reply must carry (code byte included) before it is decoded at all.
constexpr std::size_t kIdentitySize = 28;
constexpr std::size_t kStatusSize = 1 + sizeof(LiveStatus);
constexpr std::size_t kRegistersSize = 5 + sizeof(RegisterBlock);
constexpr std::size_t kModbusSettingsSize = 1 + sizeof(ModbusSettings);
constexpr std::size_t kSettingsSavedSize = 1;

// Versions travel as signed hundredths. Formed in double and then rounded once, so byte 120
// gives the float nearest 1.2, which is not below the double 1.2.
float VersionFromByte(std::uint8_t byte) {
  return static_cast<float>(static_cast<double>(static_cast<std::int8_t>(byte)) / 100.0);
}

void DecodeIdentity(DeviceState& state, const std::uint8_t* data) {
  DeviceIdentity& identity = state.Identity;
  identity.FirmwareVer = VersionFromByte(data[1]);

  // The name field is data[2..10]; without a NUL in it the name stops before data[10].
  identity.DeviceName.fill('\0');
  const std::uint8_t* name = data + 2;
  const std::size_t maxName = identity.DeviceName.size() - 1;
  for (std::size_t i = 0; i < maxName && name[i] != 0U; ++i) {
    identity.DeviceName[i] = static_cast<char>(name[i]);
  }
  identity.HardwareVer = VersionFromByte(data[11]);
  std::memcpy(&state.Limits, data + 12, sizeof state.Limits);
  std::memcpy(&state.Modbus, data + 22, sizeof state.Modbus);
}

std::uint16_t DecodeRegisters(DeviceState& state, const std::uint8_t* data) {
  state.Status.WorkMode = data[1];
  state.Status.FaultCode = data[2];
  state.Status.DriverState = data[3];
  // data[5] is both the high byte of the frame count and the first byte of the block.
  std::memcpy(state.Registers.Bytes.data(), data + 5, state.Registers.Bytes.size());
  return static_cast<std::uint16_t>(data[4] | (data[5] << 8));
}

}  // namespace

DecodedReply DecodeReply(DeviceState& state, const std::uint8_t* data, std::size_t size) {
  DecodedReply effects;
  if (data == nullptr || size == 0) {
    return effects;
  }
  switch (data[0]) {
    case static_cast<std::uint8_t>(CommandCode::ReadIdentity):
      if (size >= kIdentitySize) {
        DecodeIdentity(state, data);
        effects.kind = DecodedReply::Kind::Identity;
      }
      break;
    case static_cast<std::uint8_t>(CommandCode::ReadStatus):
      if (size >= kStatusSize) {
        std::memcpy(&state.Status, data + 1, sizeof state.Status);
        effects.kind = DecodedReply::Kind::Status;
      }
      break;
    case static_cast<std::uint8_t>(CommandCode::ReadRegisters):
      if (size >= kRegistersSize) {
        effects.GoodFrames = DecodeRegisters(state, data);
        effects.kind = DecodedReply::Kind::Registers;
      }
      break;
    case static_cast<std::uint8_t>(CommandCode::ReadModbusSettings):
      if (size >= kModbusSettingsSize) {
        std::memcpy(&state.Modbus, data + 1, sizeof state.Modbus);
        effects.kind = DecodedReply::Kind::ModbusSettings;
      }
      break;
    case static_cast<std::uint8_t>(CommandCode::WriteModbusSettings):
      if (size >= kSettingsSavedSize) {
        effects.kind = DecodedReply::Kind::SettingsSaved;
      }
      break;
    default:
      break;
  }
  return effects;
}

}  // namespace zrv
