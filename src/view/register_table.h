// The fifteen registers shown in the register preview grid.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "protocol/device_state.h"
#include "view/fixed_text.h"

namespace zrv {

enum class RegisterType { U16, I32 };

struct RegisterRow {
  std::string_view Address;  // "Addr" cell text
  std::string_view Name;     // "Name" cell text
  std::size_t Offset;        // byte offset in RegisterBlock
  RegisterType Type;
};

inline constexpr std::size_t kRegisterRowCount = 15;
extern const std::array<RegisterRow, kRegisterRowCount> kRegisterTable;

// Decimal text of one row's value as read from the block.
FixedText<12> RegisterValueText(const RegisterBlock& block, const RegisterRow& row);

}  // namespace zrv
