#include "record/sample.h"

namespace zrv {
namespace {

// Full scales fixed by the hardware, as on the live view.
constexpr float kPotentiometerFullScale = 3300.0F;

float PercentOfScale(double value, double fullScale) {
  return fullScale > 0.0 ? static_cast<float>(value / fullScale * 100.0) : 0.0F;
}

}  // namespace

std::string_view UnitSymbol(Unit unit) {
  switch (unit) {
    case Unit::Volt: return "V";
    case Unit::Celsius: return "C";
    case Unit::Percent: return "%";
    case Unit::Ampere: return "A";
  }
  return "";
}

Sample MakeSample(const LiveStatus& status, const DriverLimits& limits, SteadyTime time,
                  WallTime wall) {
  Sample sample;
  sample.Time = time;
  sample.Wall = wall;
  sample.Kind = SampleKind::Reading;
  sample.Status = status;
  sample.PwmMax = limits.PwmMax;
  auto set = [&sample](Series series, double value) {
    sample.Values[static_cast<std::size_t>(series)] = static_cast<float>(value);
  };
  set(Series::Supply, static_cast<double>(status.PowerSupply) / 1000.0);
  set(Series::Temperature, status.Temperature);
  set(Series::Potentiometer, PercentOfScale(status.Potentiometer, kPotentiometerFullScale));
  set(Series::AnalogInput, status.Ain / 1000.0);
  set(Series::CurrentLimit, status.CurLim / 1000.0);
  set(Series::CurrentActual, status.CurAct / 1000.0);
  set(Series::PwmLimit, PercentOfScale(status.PwmLim, limits.PwmMax));
  set(Series::PwmActual, PercentOfScale(status.PwmAct, limits.PwmMax));
  return sample;
}

Sample MakeDisconnectedSample(SteadyTime time, WallTime wall) {
  Sample sample;
  sample.Time = time;
  sample.Wall = wall;
  sample.Kind = SampleKind::Disconnected;
  return sample;
}

Sample MakeGapSample(GapReason reason, SteadyTime time, WallTime wall) {
  Sample sample = MakeDisconnectedSample(time, wall);
  sample.Kind = SampleKind::Gap;
  sample.Gap = reason;
  return sample;
}

std::string_view GapText(GapReason reason) {
  switch (reason) {
    case GapReason::ModbusPage: return "no samples: RS485 Modbus page shown";
    case GapReason::PollingPaused: return "no samples: polling paused for a settings request";
    case GapReason::NoAnswer: return "no samples: no answer from the driver";
    case GapReason::Rs485LinkPage: return "no samples: RS485 link page shown";
  }
  return "no samples";
}

std::string_view DriverStateName(std::uint8_t code) {
  switch (code) {
    case 0: return "Idle";
    case 1: return "Run";
    case 2: return "Error";
    case 3: return "Stop on limit";
    default: return "";
  }
}

std::string_view FaultName(std::uint8_t code) {
  switch (code) {
    case 0: return "None";
    case 1: return "Short circuit";
    case 2: return "Over temperature";
    case 3: return "Under voltage";
    case 4: return "Over voltage";
    case 5: return "Internal error";
    default: return "";
  }
}

std::string_view WorkModeName(std::uint8_t code) {
  switch (code) {
    case 0: return "Speed by 0-5V input, current limit max";
    case 1: return "Speed by 0-5V input, current limit by potentiometer";
    case 2: return "Speed by potentiometer, current limit max";
    case 3: return "Speed by potentiometer, current limit by 0-10V input";
    case 4: return "Speed by Modbus";
    case 5: return "Current by Modbus";
    case 6: return "Speed and current limit by Modbus";
    default: return "";
  }
}

}  // namespace zrv
