// One reading of the driver as the recorder keeps it: the moment a status reply arrived and what
// it carried, in the units the live view shows. Plain data, cheap to copy into a ring.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "protocol/device_state.h"

namespace zrv {

using SteadyTime = std::chrono::steady_clock::time_point;
using WallTime = std::chrono::system_clock::time_point;

enum class SampleKind : std::uint8_t {
  Reading,       // a status reply
  Disconnected,  // the driver went away; nothing is known until the next reading
  Gap,           // connected, but status samples stopped (see GapReason) until the next reading
};

// Why status samples stopped while the driver stayed connected.
enum class GapReason : std::uint8_t {
  ModbusPage,     // the "RS485 Modbus" page polls registers, not the status
  PollingPaused,  // polling paused while a settings request is answered
  NoAnswer,       // the driver stopped answering
  Rs485LinkPage,  // the "RS485 link" page polls registers, not the status
};

// The CSV "event" text, e.g. "no samples: RS485 Modbus page shown".
std::string_view GapText(GapReason reason);

// The measured values, in the order of the live view's value rows.
enum class Series : std::uint8_t {
  Supply,         // V
  Temperature,    // degrees Celsius
  Potentiometer,  // % of full scale
  AnalogInput,    // V
  CurrentLimit,   // A
  CurrentActual,  // A
  PwmLimit,       // % of PwmMax
  PwmActual,      // % of PwmMax
};
inline constexpr std::size_t kSeriesCount = 8;

enum class Unit : std::uint8_t { Volt, Celsius, Percent, Ampere };

struct SeriesInfo {
  std::string_view Name;  // operator-facing, e.g. "Supply voltage"
  Unit SeriesUnit;
};

inline constexpr std::array<SeriesInfo, kSeriesCount> kSeriesInfo{{
    {"Supply voltage", Unit::Volt},
    {"Temperature", Unit::Celsius},
    {"Potentiometer", Unit::Percent},
    {"Analog input", Unit::Volt},
    {"Current limit", Unit::Ampere},
    {"Current actual", Unit::Ampere},
    {"PWM limit", Unit::Percent},
    {"PWM actual", Unit::Percent},
}};

// "V", "C", "%", "A".
std::string_view UnitSymbol(Unit unit);

struct Sample {
  SteadyTime Time{};      // when the reply arrived (steady clock)
  WallTime Wall{};        // the system clock at the same moment, for local time in files
  SampleKind Kind = SampleKind::Reading;
  GapReason Gap = GapReason::NoAnswer;  // for Kind Gap
  LiveStatus Status{};    // the reply's record as received, raw units (exact values for files)
  std::uint16_t PwmMax = 0;  // the PWM full scale the percentages were taken against
  // The measured values in display units, indexed by Series; for drawing. PWM percentages are
  // not clamped; with PwmMax 0 they are 0, as on the live view.
  std::array<float, kSeriesCount> Values{};

  float Value(Series series) const { return Values[static_cast<std::size_t>(series)]; }
  bool IsReading() const { return Kind == SampleKind::Reading; }
};

// A reading from a status reply and the limits in force when it arrived.
Sample MakeSample(const LiveStatus& status, const DriverLimits& limits, SteadyTime time,
                  WallTime wall);

// The marker of a lost connection, so that lines and files show the gap.
Sample MakeDisconnectedSample(SteadyTime time, WallTime wall);
// The marker of samples stopping on a live connection.
Sample MakeGapSample(GapReason reason, SteadyTime time, WallTime wall);

// Texts of the three codes, short and free of trailing spaces; an unknown code gives "".
std::string_view DriverStateName(std::uint8_t code);
std::string_view FaultName(std::uint8_t code);
std::string_view WorkModeName(std::uint8_t code);

}  // namespace zrv
