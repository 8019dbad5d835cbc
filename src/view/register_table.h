// The fifteen registers shown in the register preview grid (the table itself is the protocol's
// register map) and the texts of their values.
#pragma once

#include "protocol/device_state.h"
#include "protocol/register_map.h"
#include "view/fixed_text.h"

namespace zrv {

// Decimal text of one row's value as read from the block; empty for a row outside the block.
FixedText<12> RegisterValueText(const RegisterBlock& block, const RegisterRow& row);

}  // namespace zrv
