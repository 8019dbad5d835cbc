// Number texts shown to the operator. Values are given as exact fractions of integer readings,
// so rounding applies to the true decimal value and never to a binary approximation.
#pragma once

#include <cstdint>

#include "view/fixed_text.h"

namespace zrv {

// numerator / denominator (denominator > 0) as fixed-point text with `decimals` (0, 1 or 2)
// decimals and at most three significant digits; scientific form from 1000 on.
FixedText<24> FormatFixed(std::int64_t numerator, std::int64_t denominator, int decimals,
                          char decimalSeparator);

// value / fullScale * 100 truncated toward zero and clamped to -100..100; 0 when fullScale <= 0.
int PercentOf(float value, float fullScale);

// A version in hundredths, e.g. 1.20, with the decimal separator given.
FixedText<8> VersionText(float version, char decimalSeparator);

// Plain decimal text of an integer: leading minus for negatives, no grouping.
FixedText<24> DecimalText(std::int64_t value);

}  // namespace zrv
