#include "view/register_table.h"

#include "view/number_format.h"

namespace zrv {

FixedText<12> RegisterValueText(const RegisterBlock& block, const RegisterRow& row) {
  const std::optional<std::int64_t> value = RegisterValue(block, row);
  if (!value) return {};
  return FixedText<12>(DecimalText(*value).View());
}

}  // namespace zrv
