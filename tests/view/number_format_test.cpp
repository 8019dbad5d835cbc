#include "view/number_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

namespace zrv {
namespace {

std::string Fixed(std::int64_t n, std::int64_t d, int decimals, char sep = '.') {
  return std::string(FormatFixed(n, d, decimals, sep).View());
}

// An independent model of the text: long division into decimal digits, rounding on the digit
// string, then layout. |d| must stay below 10^17 so that remainder * 10 does not overflow.
std::string Reference(std::int64_t n, std::int64_t d, int decimals, char sep) {
  const bool negative = (n < 0) != (d < 0);
  const std::uint64_t un = n < 0 ? 0 - static_cast<std::uint64_t>(n) : static_cast<std::uint64_t>(n);
  const std::uint64_t ud = d < 0 ? 0 - static_cast<std::uint64_t>(d) : static_cast<std::uint64_t>(d);
  std::string digits = std::to_string(un / ud);
  std::size_t point = digits.size();
  std::uint64_t rest = un % ud;
  for (int i = 0; i < 6; ++i) {
    rest *= 10;
    digits += static_cast<char>('0' + rest / ud);
    rest %= ud;
  }
  const std::size_t first = digits.find_first_not_of('0');
  std::size_t keepEnd = point - 1 + static_cast<std::size_t>(decimals);
  if (first != std::string::npos) {
    const long lead = static_cast<long>(point) - 1 - static_cast<long>(first);
    if (lead >= 3 - decimals) keepEnd = first + 2;
  }
  std::string kept = digits.substr(0, keepEnd + 1);
  if (digits[keepEnd + 1] >= '5') {
    std::size_t i = kept.size();
    while (i > 0 && kept[i - 1] == '9') kept[--i] = '0';
    if (i == 0) {
      kept.insert(kept.begin(), '1');
      ++point;
    } else {
      ++kept[i - 1];
    }
  }
  kept.resize(point + static_cast<std::size_t>(decimals), '0');
  std::string whole = kept.substr(0, point);
  whole.erase(0, whole.find_first_not_of('0') == std::string::npos ? whole.size() : whole.find_first_not_of('0'));
  const std::string fraction = kept.substr(point);
  const bool zero = whole.empty() && fraction.find_first_not_of('0') == std::string::npos;
  std::string out = negative && !zero ? "-" : "";
  if (whole.size() >= 4) {
    std::string significant = whole + fraction;
    significant.erase(significant.find_last_not_of('0') + 1);
    out += significant[0];
    if (significant.size() > 1) out += sep + significant.substr(1);
    std::string exponent = std::to_string(whole.size() - 1);
    const auto width = static_cast<std::size_t>(std::max(decimals, 1));
    if (exponent.size() < width) exponent = std::string(width - exponent.size(), '0') + exponent;
    return out + "E" + exponent;
  }
  out += whole.empty() ? "0" : whole;
  if (decimals > 0) out += sep + fraction;
  return out;
}

TEST(FormatFixed, ShownReadings) {
  EXPECT_EQ(Fixed(24500, 1000, 0), "25");
  EXPECT_EQ(Fixed(24499, 1000, 0), "24");
  EXPECT_EQ(Fixed(999500, 1000, 0), "1E3");
  EXPECT_EQ(Fixed(999499, 1000, 0), "999");
  EXPECT_EQ(Fixed(12345, 1000, 2), "12.30");
  EXPECT_EQ(Fixed(9995, 1000, 2), "10.00");
  EXPECT_EQ(Fixed(9994, 1000, 2), "9.99");
  EXPECT_EQ(Fixed(-1500, 1000, 2), "-1.50");
  EXPECT_EQ(Fixed(-4, 1000, 2), "0.00");
  EXPECT_EQ(Fixed(-5, 1000, 2), "-0.01");
  EXPECT_EQ(Fixed(1000 * 100, 3300, 1), "30.3");
  EXPECT_EQ(Fixed(3300 * 100, 3300, 1), "100.0");
  EXPECT_EQ(Fixed(4000 * 100, 3300, 1), "121.0");
  EXPECT_EQ(Fixed(16 * 100, 3300, 1), "0.5");
  EXPECT_EQ(Fixed(4567, 1000, 1), "4.6");
  EXPECT_EQ(Fixed(10000, 1000, 1), "10.0");
  EXPECT_EQ(Fixed(0, 1000, 0), "0");
  EXPECT_EQ(Fixed(0, 1000, 1), "0.0");
  EXPECT_EQ(Fixed(12345, 100, 1), "123.0");
}

TEST(FormatFixed, ScientificFromOneThousand) {
  EXPECT_EQ(Fixed(12345, 10, 2), "1.23E03");
  EXPECT_EQ(Fixed(-12345, 10, 2), "-1.23E03");
  EXPECT_EQ(Fixed(4294967295LL, 1000, 0), "4.29E6");
  EXPECT_EQ(Fixed(1000, 1, 0), "1E3");
  EXPECT_EQ(Fixed(1050, 1, 1), "1.05E3");
  EXPECT_EQ(Fixed(1100, 1, 1), "1.1E3");
  EXPECT_EQ(Fixed(-2147483648LL, 1000, 2), "-2.15E06");
  EXPECT_EQ(Fixed(65535 * 100LL, 3300, 1), "1.99E3");
  EXPECT_EQ(Fixed(999999, 1, 0), "1E6");
  EXPECT_EQ(Fixed(std::numeric_limits<std::int64_t>::max(), 1, 2), "9.22E18");
  EXPECT_EQ(Fixed(std::numeric_limits<std::int64_t>::min(), 1, 0), "-9.22E18");
}

TEST(FormatFixed, SeparatorSignsAndDegenerateInput) {
  EXPECT_EQ(Fixed(12345, 1000, 2, ','), "12,30");
  EXPECT_EQ(Fixed(12345, 10, 2, ','), "1,23E03");
  EXPECT_EQ(Fixed(1500, -1000, 2), "-1.50");
  EXPECT_EQ(Fixed(-1500, -1000, 2), "1.50");
  EXPECT_EQ(Fixed(5, 0, 2), "");
  EXPECT_EQ(Fixed(12345, 1000, 7), "12.30");  // decimals beyond 2 are taken as 2
  EXPECT_EQ(Fixed(12345, 1000, -1), "12");
}

TEST(FormatFixed, MatchesTheDigitStringModel) {
  for (int decimals = 0; decimals <= 2; ++decimals) {
    for (std::int64_t n = -120000; n <= 1200000; ++n) {
      ASSERT_EQ(Fixed(n, 1000, decimals), Reference(n, 1000, decimals, '.')) << n << " d" << decimals;
    }
    for (std::int64_t d : {1, 3, 7, 10, 99, 3300, 5000, 1000000}) {
      for (std::int64_t n = -300000; n <= 300000; n += 7) {
        ASSERT_EQ(Fixed(n * 100, d, decimals, ','), Reference(n * 100, d, decimals, ','))
            << n << "*100/" << d << " d" << decimals;
      }
    }
  }
  std::mt19937_64 random(20261209);
  std::uniform_int_distribution<std::int64_t> numerators(std::numeric_limits<std::int64_t>::min(),
                                                         std::numeric_limits<std::int64_t>::max());
  std::uniform_int_distribution<std::int64_t> denominators(1, 99999999999999999LL);
  std::uniform_int_distribution<int> shifts(0, 62);
  for (int i = 0; i < 300000; ++i) {
    // Spread magnitudes over every power of two, not just the largest ones.
    const std::int64_t n = numerators(random) >> shifts(random);
    const std::int64_t d = denominators(random) >> shifts(random) | 1;
    const int decimals = i % 3;
    ASSERT_EQ(Fixed(n, d, decimals), Reference(n, d, decimals, '.')) << n << "/" << d << " d" << decimals;
  }
}

TEST(PercentOf, TruncatesAndClamps) {
  EXPECT_EQ(PercentOf(9997.0F, 10000.0F), 99);
  EXPECT_EQ(PercentOf(-6.0F, 1000.0F), 0);
  EXPECT_EQ(PercentOf(4567.0F, 5000.0F), 91);
  EXPECT_EQ(PercentOf(1000.0F, 3300.0F), 30);
  EXPECT_EQ(PercentOf(3300.0F, 3300.0F), 100);
  EXPECT_EQ(PercentOf(4000.0F, 3300.0F), 100);
  EXPECT_EQ(PercentOf(-500.0F, 1000.0F), -50);
  EXPECT_EQ(PercentOf(-5000.0F, 1000.0F), -100);
  EXPECT_EQ(PercentOf(4294967295.0F, 1.0F), 100);
  EXPECT_EQ(PercentOf(12.0F, 0.0F), 0);
  EXPECT_EQ(PercentOf(12.0F, -10.0F), 0);
  EXPECT_EQ(PercentOf(12.0F, std::nanf("")), 0);
  EXPECT_EQ(PercentOf(std::nanf(""), 10.0F), 0);
}

TEST(PercentOf, WholePercentagesAreNotLostToBinaryFractions) {
  // In double, 29 / 100 * 100 is just below 29; the single-precision result is 29 exactly.
  for (int v = -100; v <= 100; ++v) {
    EXPECT_EQ(PercentOf(static_cast<float>(v), 100.0F), v) << v;
    EXPECT_EQ(PercentOf(static_cast<float>(v * 33), 3300.0F), v) << v;
    EXPECT_EQ(PercentOf(static_cast<float>(v * 10), 1000.0F), v) << v;
  }
}

TEST(VersionText, EveryVersionByte) {
  for (int byte = -128; byte <= 127; ++byte) {
    const int magnitude = std::abs(byte);
    char expected[16];
    std::snprintf(expected, sizeof expected, "%s%d,%02d", byte < 0 ? "-" : "", magnitude / 100, magnitude % 100);
    // However the float was formed, the nearest hundredth is shown.
    const float viaDouble = static_cast<float>(byte / 100.0);
    const float viaFloat = static_cast<float>(byte) * 0.01F;
    EXPECT_EQ(VersionText(viaDouble, ',').View(), expected) << byte;
    EXPECT_EQ(VersionText(viaFloat, ',').View(), expected) << byte;
  }
  EXPECT_EQ(VersionText(1.2F, '.').View(), "1.20");
  EXPECT_EQ(VersionText(-0.004F, '.').View(), "0.00");
  EXPECT_EQ(VersionText(std::nanf(""), '.').View(), "");
}

TEST(DecimalText, PlainDigits) {
  EXPECT_EQ(DecimalText(0).View(), "0");
  EXPECT_EQ(DecimalText(65535).View(), "65535");
  EXPECT_EQ(DecimalText(-200).View(), "-200");
  EXPECT_EQ(DecimalText(std::numeric_limits<std::int64_t>::min()).View(), "-9223372036854775808");
  EXPECT_EQ(DecimalText(std::numeric_limits<std::int64_t>::max()).View(), "9223372036854775807");
}

}  // namespace
}  // namespace zrv
