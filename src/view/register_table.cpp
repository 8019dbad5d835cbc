#include "view/register_table.h"

#include <cstring>

#include "view/number_format.h"

namespace zrv {

const std::array<RegisterRow, kRegisterRowCount> kRegisterTable = {{
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

FixedText<12> RegisterValueText(const RegisterBlock& block, const RegisterRow& row) {
  const std::size_t width = row.Type == RegisterType::I32 ? 4U : 2U;
  // A row that does not lie inside the block has no value to show.
  if (row.Offset > block.Bytes.size() || block.Bytes.size() - row.Offset < width) {
    return {};
  }
  const std::uint8_t* at = block.Bytes.data() + row.Offset;
  std::int64_t value = 0;
  if (row.Type == RegisterType::I32) {
    std::int32_t v = 0;
    std::memcpy(&v, at, sizeof v);
    value = v;
  } else {
    std::uint16_t v = 0;
    std::memcpy(&v, at, sizeof v);
    value = v;
  }
  return FixedText<12>(DecimalText(value).View());
}

}  // namespace zrv
