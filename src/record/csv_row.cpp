#include "record/csv_row.h"

#include <charconv>
#include <cstdint>
#include <ctime>

#include "record/local_time.h"

namespace zrv {
namespace {

__extension__ typedef __int128 Wide;
__extension__ typedef unsigned __int128 UWide;

constexpr std::string_view kHeader =
    "time,elapsed [s],event,"
    "supply voltage [V],temperature [C],potentiometer [%],analog input [V],"
    "current limit [A],current actual [A],PWM limit [%],PWM actual [%],"
    "PWM limit [raw],PWM actual [raw],"
    "driver state,driver state text,fault,fault text,work mode,work mode text,"
    "SW1,SW2,SW3,SW4,SW5,SW6,IN1,IN2,IN3,IN4,OUT1,OUT2\r\n";

void AppendInt(std::string& out, std::int64_t value, int minDigits = 1) {
  char digits[24];
  const auto magnitude = value < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(value)
                                   : static_cast<std::uint64_t>(value);
  const auto result = std::to_chars(digits, digits + sizeof digits, magnitude);
  if (value < 0) {
    out.push_back('-');
  }
  for (auto n = result.ptr - digits; n < minDigits; ++n) {
    out.push_back('0');
  }
  out.append(digits, result.ptr);
}

// numerator / denominator (denominator > 0) with `decimals` digits after a '.', rounded half away
// from zero; exact for every reading the driver can send.
void AppendQuotient(std::string& out, std::int64_t numerator, std::int64_t denominator,
                    int decimals) {
  std::int64_t scale = 1;
  for (int i = 0; i < decimals; ++i) {
    scale *= 10;
  }
  const bool negative = numerator < 0;
  const auto n = static_cast<UWide>(negative ? -static_cast<Wide>(numerator)
                                             : static_cast<Wide>(numerator));
  const auto d = static_cast<UWide>(denominator);
  const auto scaled = (n * static_cast<UWide>(scale) * 2U + d) / (d * 2U);
  const auto whole = static_cast<std::uint64_t>(scaled / static_cast<UWide>(scale));
  const auto fraction = static_cast<std::uint64_t>(scaled % static_cast<UWide>(scale));
  if (negative && scaled != 0U) {
    out.push_back('-');
  }
  AppendInt(out, static_cast<std::int64_t>(whole));
  if (decimals > 0) {
    out.push_back('.');
    AppendInt(out, static_cast<std::int64_t>(fraction), decimals);
  }
}

void AppendLocalTime(std::string& out, WallTime wall) {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(wall.time_since_epoch()).count();
  std::int64_t seconds = ms / 1000;
  std::int64_t milli = ms % 1000;
  if (milli < 0) {
    milli += 1000;
    seconds -= 1;
  }
  const auto t = static_cast<std::time_t>(seconds);
  std::tm local{};
  long offsetSeconds = 0;
  LocalTimeOf(t, local, offsetSeconds);
  char text[48];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  out.append(text, n);
  out.push_back('.');
  AppendInt(out, milli, 3);
  const long offsetMinutes = offsetSeconds / 60;
  out.push_back(offsetMinutes < 0 ? '-' : '+');
  const long magnitude = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
  AppendInt(out, magnitude / 60, 2);
  out.push_back(':');
  AppendInt(out, magnitude % 60, 2);
}

void AppendBit(std::string& out, unsigned bits, unsigned mask) {
  out.push_back(',');
  out.push_back((bits & mask) != 0U ? '1' : '0');
}

}  // namespace

std::string_view CsvHeaderRow() { return kHeader; }

void AppendCsvHeader(std::string& out) { out.append(kHeader); }

void AppendCsvField(std::string& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out.append(text);
    return;
  }
  out.push_back('"');
  for (const char c : text) {
    if (c == '"') {
      out.push_back('"');
    }
    out.push_back(c);
  }
  out.push_back('"');
}

void AppendCsvRow(std::string& out, const Sample& sample, SteadyTime start) {
  using namespace std::chrono;
  AppendLocalTime(out, sample.Wall);
  out.push_back(',');
  AppendQuotient(out, duration_cast<nanoseconds>(sample.Time - start).count(), 1'000'000'000, 3);
  out.push_back(',');
  if (!sample.IsReading()) {
    out.append(sample.Kind == SampleKind::Gap ? GapText(sample.Gap) : "disconnected");
    out.append(kCsvColumnCount - 3, ',');
    out.append("\r\n");
    return;
  }

  const LiveStatus& s = sample.Status;
  out.push_back(',');
  AppendQuotient(out, s.PowerSupply, 1000, 3);
  out.push_back(',');
  AppendInt(out, s.Temperature);
  out.push_back(',');
  AppendQuotient(out, std::int64_t{s.Potentiometer} * 100, 3300, 2);
  out.push_back(',');
  AppendQuotient(out, s.Ain, 1000, 3);
  out.push_back(',');
  AppendQuotient(out, s.CurLim, 1000, 3);
  out.push_back(',');
  AppendQuotient(out, s.CurAct, 1000, 3);
  out.push_back(',');
  if (sample.PwmMax > 0) {
    AppendQuotient(out, std::int64_t{s.PwmLim} * 100, sample.PwmMax, 2);
  }
  out.push_back(',');
  if (sample.PwmMax > 0) {
    AppendQuotient(out, std::int64_t{s.PwmAct} * 100, sample.PwmMax, 2);
  }
  out.push_back(',');
  AppendInt(out, s.PwmLim);
  out.push_back(',');
  AppendInt(out, s.PwmAct);

  out.push_back(',');
  AppendInt(out, s.DriverState);
  out.push_back(',');
  AppendCsvField(out, DriverStateName(s.DriverState));
  out.push_back(',');
  AppendInt(out, s.FaultCode);
  out.push_back(',');
  AppendCsvField(out, FaultName(s.FaultCode));
  out.push_back(',');
  AppendInt(out, s.WorkMode);
  out.push_back(',');
  AppendCsvField(out, WorkModeName(s.WorkMode));

  for (unsigned bit = 0; bit < 6; ++bit) {
    AppendBit(out, s.Switches, 1U << bit);
  }
  for (unsigned bit = 0; bit < 4; ++bit) {
    AppendBit(out, s.Inputs, 1U << bit);
  }
  AppendBit(out, s.Outputs, 0x08U);
  AppendBit(out, s.Outputs, 0x10U);
  out.append("\r\n");
}

}  // namespace zrv
