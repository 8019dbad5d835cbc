#include "reply_decoder.h"

#include <algorithm>
#include <cstring>

#include "number_format.h"

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

IdentityEffects DecodeIdentity(DeviceState& state, const std::uint8_t* data, char separator) {
  DeviceIdentity& identity = state.Identity;
  identity.FirmwareVer = VersionFromByte(data[1]);

  // The name field is data[2..10]; without a NUL in it the name stops before data[10].
  identity.DeviceName.fill('\0');
  const std::uint8_t* name = data + 2;
  const std::size_t maxName = identity.DeviceName.size() - 1;
  std::size_t nameLength = 0;
  while (nameLength < maxName && name[nameLength] != 0U) {
    identity.DeviceName[nameLength] = static_cast<char>(name[nameLength]);
    ++nameLength;
  }
  identity.HardwareVer = VersionFromByte(data[11]);

  IdentityEffects effects;
  effects.ConnectionCaption.Append("Connected to ")
      .Append(kDriverProductString)
      .Append(" ver.: ")
      .Append(VersionText(identity.FirmwareVer, separator).View())
      .Append("   ")
      .Append(std::string_view(identity.DeviceName.data(), nameLength));
  effects.HardwareVersionText = VersionText(identity.HardwareVer, separator);

  std::memcpy(&state.Limits, data + 12, sizeof state.Limits);
  std::memcpy(&state.Modbus, data + 22, sizeof state.Modbus);
  return effects;
}

ModbusListEffects DecodeModbusSettings(DeviceState& state, const std::uint8_t* data) {
  std::memcpy(&state.Modbus, data + 1, sizeof state.Modbus);
  // Copied out of the packed record: binding a reference to a packed field is misaligned.
  const ModbusSettings settings = state.Modbus;
  const std::uint32_t baudrate = settings.Baudrate;

  ModbusListEffects lists;
  const auto baud = std::find(kOfferedBaudRates.begin(), kOfferedBaudRates.end(), baudrate);
  if (baud != kOfferedBaudRates.end()) {
    lists.BaudIndex = static_cast<int>(baud - kOfferedBaudRates.begin());
  }
  lists.ParityIndex = std::min<int>(settings.Parity, 2);
  // Slave 0 selects "1"; an address above the list has no entry to show.
  const int address = settings.SlaveId;
  if (address <= kHighestSlaveId) {
    lists.AddressIndex = std::max(address - 1, 0);
  }
  return lists;
}

RegisterEffects DecodeRegisters(DeviceState& state, const std::uint8_t* data) {
  state.Status.WorkMode = data[1];
  state.Status.FaultCode = data[2];
  state.Status.DriverState = data[3];

  RegisterEffects effects;
  const auto okFrames = static_cast<std::uint16_t>(data[4] | (data[5] << 8));
  effects.OkFramesText = FixedText<8>(DecimalText(okFrames).View());

  // data[5] is both the high byte of the frame count and the first byte of the block.
  std::memcpy(state.Registers.Bytes.data(), data + 5, state.Registers.Bytes.size());
  for (std::size_t row = 0; row < kRegisterRowCount; ++row) {
    effects.ValueTexts[row] = RegisterValueText(state.Registers, kRegisterTable[row]);
  }
  return effects;
}

}  // namespace

ReplyEffects DecodeReply(DeviceState& state, const std::uint8_t* data, std::size_t size,
                         char decimalSeparator) {
  ReplyEffects effects;
  if (data == nullptr || size == 0) {
    return effects;
  }
  switch (data[0]) {
    case static_cast<std::uint8_t>(CommandCode::ReadIdentity):
      if (size >= kIdentitySize) {
        effects.Identity = DecodeIdentity(state, data, decimalSeparator);
        effects.kind = ReplyEffects::Kind::Identity;
      }
      break;
    case static_cast<std::uint8_t>(CommandCode::ReadStatus):
      if (size >= kStatusSize) {
        std::memcpy(&state.Status, data + 1, sizeof state.Status);
        effects.kind = ReplyEffects::Kind::Status;
      }
      break;
    case static_cast<std::uint8_t>(CommandCode::ReadRegisters):
      if (size >= kRegistersSize) {
        effects.Registers = DecodeRegisters(state, data);
        effects.kind = ReplyEffects::Kind::Registers;
      }
      break;
    case static_cast<std::uint8_t>(CommandCode::ReadModbusSettings):
      if (size >= kModbusSettingsSize) {
        effects.Lists = DecodeModbusSettings(state, data);
        effects.kind = ReplyEffects::Kind::ModbusSettings;
      }
      break;
    case static_cast<std::uint8_t>(CommandCode::WriteModbusSettings):
      if (size >= kSettingsSavedSize) {
        effects.kind = ReplyEffects::Kind::SettingsSaved;
      }
      break;
    default:
      break;
  }
  return effects;
}

}  // namespace zrv
