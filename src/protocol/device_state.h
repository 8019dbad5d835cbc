// The records of DeviceState in their wire layouts. Decoding is a plain byte copy, so every
// record is packed and its size is checked here.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace zrv {

static_assert(std::endian::native == std::endian::little,
              "the wire is little-endian and records are decoded by byte copies");

enum class CommandCode : std::uint8_t {
  ReadIdentity = 10,
  ReadStatus = 11,
  ReadRegisters = 12,
  ReadModbusSettings = 20,
  WriteModbusSettings = 148,
};

#pragma pack(push, 1)

struct DriverLimits {
  std::uint32_t PowerSupplyMax;  // mV that fills the supply gauge
  std::uint16_t TemperatureMax;  // degrees Celsius that fill the temperature gauge
  std::uint16_t PwmMax;          // PWM units that count as 100 %
  std::uint16_t CurMax;          // mA that fill both current gauges
};
static_assert(sizeof(DriverLimits) == 10);

struct ModbusSettings {
  std::uint32_t Baudrate;  // bit/s
  std::uint8_t Parity;     // 0 none, 1 odd, 2 even
  std::uint8_t SlaveId;    // Modbus slave address
};
static_assert(sizeof(ModbusSettings) == 6);

struct RegisterBlock {
  std::array<std::uint8_t, 56> Bytes;
};
static_assert(sizeof(RegisterBlock) == 56);

#pragma pack(pop)

// Every field of the status record already sits at an offset of its own alignment, so it needs no
// packing and its fields can be used like any others.
struct LiveStatus {
  std::uint8_t WorkMode;
  std::uint8_t FaultCode;
  std::uint8_t DriverState;
  std::uint8_t Inputs;    // bits 0..3: IN1..IN4
  std::uint8_t Outputs;   // bit 3: OUT1, bit 4: OUT2
  std::uint8_t Switches;  // bits 0..5: SW1..SW6
  std::uint16_t Potentiometer;  // 3300 is full scale
  std::uint16_t Ain;            // mV
  std::uint16_t Temperature;    // degrees Celsius
  std::int32_t CurAct;          // mA
  std::int32_t CurLim;          // mA
  std::uint32_t PowerSupply;    // mV
  std::int16_t PwmAct;          // driver PWM units
  std::int16_t PwmLim;          // driver PWM units
};
static_assert(sizeof(LiveStatus) == 28);
static_assert(offsetof(LiveStatus, Potentiometer) == 6 && offsetof(LiveStatus, CurAct) == 12 &&
              offsetof(LiveStatus, PowerSupply) == 20 && offsetof(LiveStatus, PwmLim) == 26);

// The device name is at most 8 single-byte characters; a fixed array keeps decoding free of heap use.
struct DeviceIdentity {
  std::array<char, 9> DeviceName;  // NUL-terminated
  float FirmwareVer;
  float HardwareVer;
};

// The one program-wide record of the latest decoded replies: zero at start, never cleared.
// The packed records are placed at 4-byte boundaries so that their multi-byte fields are aligned
// in memory and may be bound to references (std::min, test assertions) without undefined behaviour.
struct DeviceState {
  DeviceIdentity Identity;
  alignas(4) DriverLimits Limits;
  alignas(4) ModbusSettings Modbus;
  LiveStatus Status;
  RegisterBlock Registers;
};

}  // namespace zrv
