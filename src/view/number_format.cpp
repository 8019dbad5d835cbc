#include "view/number_format.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace zrv {
namespace {

// Wide enough for |numerator| * 10^19 * 2, so every step below is exact.
__extension__ typedef unsigned __int128 Wide;

constexpr Wide Pow10(int exponent) {
  Wide result = 1;
  for (int i = 0; i < exponent; ++i) {
    result *= 10U;
  }
  return result;
}

// |v| without overflow for the most negative value.
constexpr std::uint64_t Magnitude(std::int64_t v) {
  return v < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
}

// numerator / denominator rounded half away from zero (on magnitudes, so "up").
constexpr Wide RoundedQuotient(Wide numerator, Wide denominator) {
  return (numerator * 2U + denominator) / (denominator * 2U);
}

// Narrow types where they suffice: 128-bit division is several times slower.
template <std::size_t N, typename Unsigned>
void AppendDigits(FixedText<N>& text, Unsigned value, int minDigits) {
  char digits[40];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + static_cast<int>(value % 10U));
    value /= 10U;
  } while (value != 0U);
  for (int i = count; i < minDigits; ++i) {
    text.Append('0');
  }
  while (count > 0) {
    text.Append(digits[--count]);
  }
}

}  // namespace

FixedText<24> FormatFixed(std::int64_t numerator, std::int64_t denominator, int decimals,
                          char decimalSeparator) {
  FixedText<24> text;
  if (denominator == 0) {
    return text;  // no value to show
  }
  if (decimals < 0) decimals = 0;
  if (decimals > 2) decimals = 2;

  const bool negative = (numerator < 0) != (denominator < 0);
  const Wide n = Magnitude(numerator);
  const Wide d = Magnitude(denominator);

  // The rounded result is mantissa * 10^scale.
  Wide mantissa = 0;
  int scale = -decimals;
  if (n >= Pow10(3 - decimals) * d) {
    // Three significant digits: find the power of the leading digit first.
    int lead = 3 - decimals;
    while (Pow10(lead + 1) * d <= n) {
      ++lead;
    }
    scale = lead - 2;
    mantissa = scale >= 0 ? RoundedQuotient(n, d * Pow10(scale))
                          : RoundedQuotient(n * Pow10(-scale), d);
  } else {
    mantissa = RoundedQuotient(n * Pow10(decimals), d);
  }

  const bool showMinus = negative && mantissa != 0U;
  if (showMinus) {
    text.Append('-');
  }

  // From 1000 on: scientific, significant digits only.
  if (mantissa * Pow10(scale + decimals) >= Pow10(3 + decimals)) {
    while (mantissa % 10U == 0U) {
      mantissa /= 10U;
      ++scale;
    }
    int digitCount = 0;
    for (Wide m = mantissa; m != 0U; m /= 10U) {
      ++digitCount;
    }
    const int exponent = scale + digitCount - 1;
    const Wide leadPower = Pow10(digitCount - 1);
    AppendDigits(text, static_cast<std::uint32_t>(mantissa / leadPower), 1);
    if (digitCount > 1) {
      text.Append(decimalSeparator);
      AppendDigits(text, static_cast<std::uint32_t>(mantissa % leadPower), digitCount - 1);
    }
    text.Append('E');
    AppendDigits(text, static_cast<std::uint32_t>(exponent), decimals > 0 ? decimals : 1);
    return text;
  }

  const Wide units = mantissa * Pow10(scale + decimals);  // in 10^-decimals
  const Wide one = Pow10(decimals);
  AppendDigits(text, static_cast<std::uint32_t>(units / one), 1);
  if (decimals > 0) {
    text.Append(decimalSeparator);
    AppendDigits(text, static_cast<std::uint32_t>(units % one), decimals);
  }
  return text;
}

int PercentOf(float value, float fullScale) {
  if (!(fullScale > 0.0F)) {
    return 0;
  }
  const float p = static_cast<float>(static_cast<double>(value) / static_cast<double>(fullScale) * 100.0);
  if (std::isnan(p)) {
    return 0;
  }
  if (p > 100.0F) return 100;
  if (p < -100.0F) return -100;
  return static_cast<int>(p);  // truncates toward zero
}

FixedText<8> VersionText(float version, char decimalSeparator) {
  FixedText<8> text;
  // Versions are whole hundredths; the float only approximates them, so take the nearest.
  const double scaled = static_cast<double>(version) * 100.0;
  if (!std::isfinite(scaled) || std::fabs(scaled) > 1e15) {
    return text;
  }
  const long long hundredths = std::llround(scaled);
  if (hundredths < 0) {
    text.Append('-');
  }
  const std::uint64_t magnitude = Magnitude(hundredths);
  AppendDigits(text, magnitude / 100U, 1);
  text.Append(decimalSeparator);
  AppendDigits(text, magnitude % 100U, 2);
  return text;
}

FixedText<24> DecimalText(std::int64_t value) {
  FixedText<24> text;
  if (value < 0) {
    text.Append('-');
  }
  AppendDigits(text, Magnitude(value), 1);
  return text;
}

}  // namespace zrv
