#include "protocol/report_framing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

namespace zrv {
namespace {

bool AllZeroFrom(const OutputReport& report, std::size_t from) {
  return std::all_of(report.Buffer.begin() + static_cast<std::ptrdiff_t>(from), report.Buffer.end(),
                     [](std::uint8_t b) { return b == 0; });
}

std::vector<std::uint8_t> Head(const OutputReport& report, std::size_t n) {
  return {report.Buffer.begin(), report.Buffer.begin() + static_cast<std::ptrdiff_t>(n)};
}

TEST(ReportFraming, WriteModbusSettingsPayloadAndReport) {
  const auto payload = BuildWriteModbusSettingsPayload(ModbusSettings{115200, 1, 3});
  ASSERT_EQ(payload.size(), 63U);
  EXPECT_EQ(std::vector<std::uint8_t>(payload.begin(), payload.begin() + 7),
            (std::vector<std::uint8_t>{0x94, 0x00, 0xC2, 0x01, 0x00, 0x01, 0x03}));
  EXPECT_TRUE(std::all_of(payload.begin() + 7, payload.end(), [](std::uint8_t b) { return b == 0; }));

  const auto p2 = BuildWriteModbusSettingsPayload(ModbusSettings{19200, 1, 5});
  OutputReport report;
  ASSERT_TRUE(FrameReport(p2.data(), static_cast<std::uint32_t>(p2.size()), 64, report));
  EXPECT_EQ(report.Length, 64U);
  EXPECT_EQ(Head(report, 8), (std::vector<std::uint8_t>{1, 148, 0x00, 0x4B, 0x00, 0x00, 1, 5}));
  EXPECT_TRUE(AllZeroFrom(report, 8));

  // The same report object reused for a bare command carries nothing of the settings.
  const std::uint8_t code = 11;
  ASSERT_TRUE(FrameReport(&code, 1, 64, report));
  EXPECT_EQ(report.Length, 64U);
  EXPECT_EQ(Head(report, 2), (std::vector<std::uint8_t>{1, 11}));
  EXPECT_TRUE(AllZeroFrom(report, 2));
}

TEST(ReportFraming, PayloadIsCutToTheReportLength) {
  std::vector<std::uint8_t> payload(400);
  std::iota(payload.begin(), payload.end(), std::uint8_t{100});
  OutputReport report;
  for (std::uint32_t length : {1U, 9U, 64U, 256U}) {
    ASSERT_TRUE(FrameReport(payload.data(), 63, length, report)) << length;
    EXPECT_EQ(report.Length, length);
    EXPECT_EQ(report.Buffer[0], 1);
    const std::size_t copied = std::min<std::size_t>(63, length - 1);
    EXPECT_TRUE(std::equal(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(copied),
                           report.Buffer.begin() + 1)) << length;
    EXPECT_TRUE(AllZeroFrom(report, 1 + copied)) << length;
  }
  ASSERT_TRUE(FrameReport(payload.data(), 400, 256, report));
  EXPECT_TRUE(std::equal(payload.begin(), payload.begin() + 255, report.Buffer.begin() + 1));
  ASSERT_TRUE(FrameReport(nullptr, 5, 8, report));
  EXPECT_TRUE(AllZeroFrom(report, 1));
}

TEST(ReportFraming, LengthsThatCannotBeWrittenAreRefused) {
  const std::uint8_t code = 10;
  for (std::uint32_t length : {0U, 257U, 300U, 0xFFFFFFFFU}) {
    OutputReport report;
    report.Length = 99;
    EXPECT_FALSE(FrameReport(&code, 1, length, report)) << length;
    EXPECT_EQ(report.Length, 0U) << length;
  }
}

}  // namespace
}  // namespace zrv
