// The driver's Modbus registers as the register preview reply carries them, and the fifteen of them
// that the tool shows. One table for every reader of those registers: the preview grid, zrv-cli and
// the RS485 line's reads, so a register read over USB and over RS485 is decoded the same way.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "protocol/device_state.h"

namespace zrv {

enum class RegisterType { U16, I32 };

struct RegisterRow {
  std::string_view Address;  // "Addr" cell text: the Modbus register number
  std::string_view Name;     // "Name" cell text
  std::size_t Offset;        // byte offset in RegisterBlock
  RegisterType Type;         // I32 spans this register and the next one
};

inline constexpr std::size_t kRegisterRowCount = 15;
inline constexpr std::array<RegisterRow, kRegisterRowCount> kRegisterTable = {{
    {"0", "ControlWord", 6, RegisterType::U16},
    {"1", "ControlMode", 8, RegisterType::U16},
    {"2", "TargetPwm", 10, RegisterType::U16},
    {"3", "TargetCurrent", 12, RegisterType::U16},
    {"10", "Softstart", 26, RegisterType::U16},
    {"100", "StatusWord", 28, RegisterType::U16},
    {"101", "Direction", 30, RegisterType::U16},
    {"102", "ActualPwm", 32, RegisterType::U16},
    {"103", "ActualCurrent", 34, RegisterType::U16},
    {"107", "FaultCode", 42, RegisterType::U16},
    {"108", "Temperature", 44, RegisterType::U16},
    {"109", "SupplyVoltage", 46, RegisterType::U16},
    {"110", "AnalogInValue", 48, RegisterType::U16},
    {"111", "PotValue", 50, RegisterType::U16},
    {"112", "EnoderCnt", 52, RegisterType::I32},  // the device's own spelling
}};

// The two runs of registers the block holds, one little-endian word each: 0..10 from byte 6 and
// 100..113 from byte 28. Bytes 0 to 5 hold no register.
struct RegisterRun {
  std::uint16_t First;
  std::uint16_t Count;
  std::size_t Offset;
};
inline constexpr std::array<RegisterRun, 2> kBlockRegisterRuns = {{{0, 11, 6}, {100, 14, 28}}};

// Where register `number` sits in RegisterBlock; none for a register the block does not hold.
constexpr std::optional<std::size_t> BlockOffsetOfRegister(std::uint32_t number) {
  for (const RegisterRun& run : kBlockRegisterRuns) {
    if (number >= run.First && number < run.First + run.Count) return run.Offset + 2U * (number - run.First);
  }
  return std::nullopt;
}

// The register number of a row, from its "Addr" text.
constexpr std::uint16_t RegisterNumber(const RegisterRow& row) {
  std::uint32_t number = 0;
  for (const char c : row.Address) number = number * 10 + static_cast<std::uint32_t>(c - '0');
  return static_cast<std::uint16_t>(number);
}

// How many registers a row's value spans.
constexpr std::size_t RegisterSpan(const RegisterRow& row) { return row.Type == RegisterType::I32 ? 2 : 1; }

namespace detail {
constexpr bool TableMatchesBlock() {
  for (const RegisterRow& row : kRegisterTable) {
    const std::uint16_t number = RegisterNumber(row);
    if (BlockOffsetOfRegister(number) != row.Offset) return false;
    // Both words of a 32-bit value lie in the block, next to each other.
    if (RegisterSpan(row) == 2 && BlockOffsetOfRegister(number + 1U) != row.Offset + 2) return false;
  }
  return true;
}
}  // namespace detail
static_assert(detail::TableMatchesBlock(), "every row's offset is its register's place in the block");

// A row's value as the preview shows it: u16 words unsigned; the I32 row is the four bytes from its
// offset read little-endian, so its own register is the low word and the next register the high.
// None when the row does not lie inside the block.
inline std::optional<std::int64_t> RegisterValue(const RegisterBlock& block, const RegisterRow& row) {
  const std::size_t width = 2 * RegisterSpan(row);
  if (row.Offset > block.Bytes.size() || block.Bytes.size() - row.Offset < width) return std::nullopt;
  const std::uint8_t* at = block.Bytes.data() + row.Offset;
  if (row.Type == RegisterType::I32) {
    std::int32_t v = 0;
    std::memcpy(&v, at, sizeof v);
    return v;
  }
  std::uint16_t v = 0;
  std::memcpy(&v, at, sizeof v);
  return v;
}

}  // namespace zrv
