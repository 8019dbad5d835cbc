#include "record/csv_row.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <locale>

#include "support/portable_env.h"
#include "csv_reader.h"

namespace zrv {
namespace {

using namespace std::chrono_literals;

// Column indices of the rows, by header name.
std::size_t Column(std::string_view name) {
  bool ok = false;
  const auto header = test::ParseCsv(CsvHeaderRow(), ok).at(0);
  for (std::size_t i = 0; i < header.size(); ++i) {
    if (header[i] == name) return i;
  }
  ADD_FAILURE() << "no column " << name;
  return 0;
}

class CsvRowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    savedTz_ = tz != nullptr ? tz : "";
    hadTz_ = tz != nullptr;
    test::SetEnv("TZ", "UTC");
    test::ReadZoneAgain();
  }
  void TearDown() override {
    if (hadTz_) {
      test::SetEnv("TZ", savedTz_.c_str());
    } else {
      test::UnsetEnv("TZ");
    }
    test::ReadZoneAgain();
  }

  // 2026-03-04T05:06:07.089 UTC, and a steady start 1.5 s before the sample.
  static constexpr auto kWall = WallTime(std::chrono::seconds(1772600767) + 89ms);
  SteadyTime start_ = SteadyTime(100s);

  std::vector<std::string> Row(const Sample& sample) {
    std::string text;
    AppendCsvHeader(text);
    AppendCsvRow(text, sample, start_);
    bool ok = false;
    const auto table = test::ParseCsv(text, ok);
    EXPECT_TRUE(ok) << text;
    EXPECT_EQ(table.size(), 2U);
    for (const auto& row : table) {
      EXPECT_EQ(row.size(), kCsvColumnCount) << text;
    }
    return table.size() == 2 ? table[1] : std::vector<std::string>(kCsvColumnCount);
  }

 private:
  std::string savedTz_;
  bool hadTz_ = false;
};

TEST_F(CsvRowTest, ExtremeReadingsAreWrittenExactly) {
  LiveStatus status{};
  status.PowerSupply = std::numeric_limits<std::uint32_t>::max();
  status.Temperature = 65535;
  status.Potentiometer = 65535;
  status.Ain = 65535;
  status.CurLim = std::numeric_limits<std::int32_t>::min();
  status.CurAct = std::numeric_limits<std::int32_t>::max();
  status.PwmLim = std::numeric_limits<std::int16_t>::min();
  status.PwmAct = std::numeric_limits<std::int16_t>::max();
  status.DriverState = 255;
  status.FaultCode = 9;
  status.WorkMode = 7;
  status.Switches = 0xFF;
  status.Inputs = 0xFF;
  status.Outputs = 0xFF;
  const auto row = Row(MakeSample(status, DriverLimits{0, 0, 1, 0}, start_ + 1500ms, kWall));

  EXPECT_EQ(row[0], "2026-03-04T05:06:07.089+00:00");
  EXPECT_EQ(row[1], "1.500");
  EXPECT_EQ(row[2], "");
  EXPECT_EQ(row[Column("supply voltage [V]")], "4294967.295");
  EXPECT_EQ(row[Column("temperature [C]")], "65535");
  EXPECT_EQ(row[Column("potentiometer [%]")], "1985.91");
  EXPECT_EQ(row[Column("analog input [V]")], "65.535");
  EXPECT_EQ(row[Column("current limit [A]")], "-2147483.648");
  EXPECT_EQ(row[Column("current actual [A]")], "2147483.647");
  EXPECT_EQ(row[Column("PWM limit [%]")], "-3276800.00");
  EXPECT_EQ(row[Column("PWM actual [%]")], "3276700.00");
  EXPECT_EQ(row[Column("PWM limit [raw]")], "-32768");
  EXPECT_EQ(row[Column("PWM actual [raw]")], "32767");
  // Unknown codes keep their number and have no text.
  EXPECT_EQ(row[Column("driver state")], "255");
  EXPECT_EQ(row[Column("driver state text")], "");
  EXPECT_EQ(row[Column("fault")], "9");
  EXPECT_EQ(row[Column("work mode text")], "");
  for (const char* bit : {"SW1", "SW6", "IN1", "IN4", "OUT1", "OUT2"}) {
    EXPECT_EQ(row[Column(bit)], "1") << bit;
  }
}

TEST_F(CsvRowTest, OrdinaryReadingRoundsHalfAwayFromZeroAndQuotesTexts) {
  LiveStatus status{};
  status.PowerSupply = 24500;
  status.Potentiometer = 1000;  // 30.3030...
  status.CurAct = -1;           // -0.001 A
  status.CurLim = 0;
  status.PwmAct = -1;           // -1/3 %
  status.PwmLim = 2;            // 2/3 %
  status.DriverState = 2;
  status.FaultCode = 1;
  status.WorkMode = 1;          // its text holds a comma
  status.Outputs = 0x08;        // OUT1 only; bits 0..2 carry nothing
  status.Switches = 0x21;
  status.Inputs = 0xF0;
  const auto row = Row(MakeSample(status, DriverLimits{30000, 90, 300, 10000}, start_ - 250ms, kWall));

  EXPECT_EQ(row[1], "-0.250");
  EXPECT_EQ(row[Column("supply voltage [V]")], "24.500");
  EXPECT_EQ(row[Column("potentiometer [%]")], "30.30");
  EXPECT_EQ(row[Column("current actual [A]")], "-0.001");
  EXPECT_EQ(row[Column("current limit [A]")], "0.000");
  EXPECT_EQ(row[Column("PWM actual [%]")], "-0.33");
  EXPECT_EQ(row[Column("PWM limit [%]")], "0.67");
  EXPECT_EQ(row[Column("driver state text")], "Error");
  EXPECT_EQ(row[Column("fault text")], "Short circuit");
  EXPECT_EQ(row[Column("work mode text")], "Speed by 0-5V input, current limit by potentiometer");
  EXPECT_EQ(row[Column("OUT1")], "1");
  EXPECT_EQ(row[Column("OUT2")], "0");
  EXPECT_EQ(row[Column("SW1")], "1");
  EXPECT_EQ(row[Column("SW2")], "0");
  EXPECT_EQ(row[Column("SW6")], "1");
  EXPECT_EQ(row[Column("IN1")], "0");
}

TEST_F(CsvRowTest, UnknownPwmFullScaleLeavesPercentEmptyButKeepsRaw) {
  LiveStatus status{};
  status.PwmAct = 500;
  const auto row = Row(MakeSample(status, DriverLimits{}, start_, kWall));
  EXPECT_EQ(row[Column("PWM actual [%]")], "");
  EXPECT_EQ(row[Column("PWM actual [raw]")], "500");
}

TEST_F(CsvRowTest, DisconnectionRowSaysSoAndLeavesReadingsEmpty) {
  const auto row = Row(MakeDisconnectedSample(start_ + 2s, kWall));
  EXPECT_EQ(row[1], "2.000");
  EXPECT_EQ(row[2], "disconnected");
  for (std::size_t i = 3; i < row.size(); ++i) {
    EXPECT_EQ(row[i], "") << i;
  }
}

TEST_F(CsvRowTest, LocalTimeCarriesTheZoneOffsetAndMilliseconds) {
  test::SetEnv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
  test::ReadZoneAgain();
  const auto row = Row(MakeSample(LiveStatus{}, DriverLimits{}, start_, kWall + 911ms));
  EXPECT_EQ(row[0], "2026-03-04T06:06:08.000+01:00");
}

TEST_F(CsvRowTest, CommaLocaleChangesNothing) {
  LiveStatus status{};
  status.PowerSupply = 12345;
  status.CurAct = -4567;
  const Sample sample = MakeSample(status, DriverLimits{1, 1, 7, 1}, start_ + 3ms, kWall);
  std::string pointText;
  AppendCsvRow(pointText, sample, start_);

  struct CommaPoint : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
  };
  const std::string savedC = std::setlocale(LC_ALL, nullptr);
  const std::locale savedCpp;
  // The C locale too where the machine has one with a comma.
  static_cast<void>(std::setlocale(LC_ALL, "pl_PL.UTF-8"));
  std::locale::global(std::locale(std::locale::classic(), new CommaPoint));
  std::string commaText;
  AppendCsvRow(commaText, sample, start_);
  std::setlocale(LC_ALL, savedC.c_str());
  std::locale::global(savedCpp);

  EXPECT_EQ(commaText, pointText);
  EXPECT_NE(pointText.find(",12.345,"), std::string::npos) << pointText;
  EXPECT_NE(pointText.find(",-4.567,"), std::string::npos) << pointText;
}

TEST(CsvField, QuotesOnlyWhatNeedsIt) {
  std::string out;
  AppendCsvField(out, "plain");
  out.push_back(',');
  AppendCsvField(out, "a,b");
  out.push_back(',');
  AppendCsvField(out, "say \"hi\"");
  out.push_back(',');
  AppendCsvField(out, "two\r\nlines");
  EXPECT_EQ(out, "plain,\"a,b\",\"say \"\"hi\"\"\",\"two\r\nlines\"");
  out.append("\r\n");
  bool ok = false;
  const auto table = test::ParseCsv(out, ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(table.at(0), (std::vector<std::string>{"plain", "a,b", "say \"hi\"", "two\r\nlines"}));
}

}  // namespace
}  // namespace zrv
