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

TEST(ReportFraming, BareCommandFillsTheWholeReportWithZeros) {
  const std::uint8_t code = static_cast<std::uint8_t>(CommandCode::ReadStatus);
  OutputReport report;
  ASSERT_TRUE(FrameReport(&code, 1, 64, report));
  EXPECT_EQ(report.Length, 64U);
  EXPECT_EQ(report.Buffer[0], 1);
  EXPECT_EQ(report.Buffer[1], 11);
  EXPECT_TRUE(AllZeroFrom(report, 2));
}

TEST(ReportFraming, WriteModbusSettingsReportBytes) {
  const auto payload = BuildWriteModbusSettingsPayload(ModbusSettings{19200, 1, 5});
  OutputReport report;
  ASSERT_TRUE(FrameReport(payload.data(), static_cast<std::uint32_t>(payload.size()), 64, report));
  const std::vector<std::uint8_t> head = {1, 148, 0x00, 0x4B, 0x00, 0x00, 1, 5};
  EXPECT_EQ(std::vector<std::uint8_t>(report.Buffer.begin(), report.Buffer.begin() + 8), head);
  EXPECT_TRUE(AllZeroFrom(report, 8));
  EXPECT_EQ(report.Length, 64U);
}

TEST(ReportFraming, WriteModbusSettingsPayloadLayout) {
  const auto payload = BuildWriteModbusSettingsPayload(ModbusSettings{115200, 1, 3});
  ASSERT_EQ(payload.size(), 63U);
  const std::vector<std::uint8_t> head = {0x94, 0x00, 0xC2, 0x01, 0x00, 0x01, 0x03};
  EXPECT_EQ(std::vector<std::uint8_t>(payload.begin(), payload.begin() + 7), head);
  EXPECT_TRUE(std::all_of(payload.begin() + 7, payload.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST(ReportFraming, PayloadIsCutToTheReportLength) {
  std::array<std::uint8_t, 63> payload{};
  std::iota(payload.begin(), payload.end(), std::uint8_t{100});
  OutputReport report;
  ASSERT_TRUE(FrameReport(payload.data(), 63, 9, report));
  EXPECT_EQ(report.Length, 9U);
  EXPECT_EQ(report.Buffer[0], 1);
  for (std::size_t i = 1; i < 9; ++i) {
    EXPECT_EQ(report.Buffer[i], payload[i - 1]) << i;
  }
  EXPECT_TRUE(AllZeroFrom(report, 9));

  ASSERT_TRUE(FrameReport(payload.data(), 63, 1, report));
  EXPECT_EQ(report.Length, 1U);
  EXPECT_EQ(report.Buffer[0], 1);
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

TEST(ReportFraming, FullBufferAndOversizedPayload) {
  std::vector<std::uint8_t> payload(400, 0xAB);
  OutputReport report;
  ASSERT_TRUE(FrameReport(payload.data(), static_cast<std::uint32_t>(payload.size()), 256, report));
  EXPECT_EQ(report.Length, 256U);
  EXPECT_EQ(report.Buffer[0], 1);
  EXPECT_TRUE(std::all_of(report.Buffer.begin() + 1, report.Buffer.end(),
                          [](std::uint8_t b) { return b == 0xAB; }));
}

TEST(ReportFraming, ReusedReportCarriesNothingOfTheEarlierOne) {
  const auto settings = BuildWriteModbusSettingsPayload(ModbusSettings{57600, 2, 99});
  OutputReport report;
  ASSERT_TRUE(FrameReport(settings.data(), 63, 64, report));
  const std::uint8_t code = 12;
  ASSERT_TRUE(FrameReport(&code, 1, 64, report));
  EXPECT_EQ(report.Buffer[1], 12);
  EXPECT_TRUE(AllZeroFrom(report, 2));
}

TEST(ReportFraming, MissingPayloadSendsOnlyTheReportId) {
  OutputReport report;
  ASSERT_TRUE(FrameReport(nullptr, 5, 8, report));
  EXPECT_EQ(report.Length, 8U);
  EXPECT_EQ(report.Buffer[0], 1);
  EXPECT_TRUE(AllZeroFrom(report, 1));
}

}  // namespace
}  // namespace zrv
