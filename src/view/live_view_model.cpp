#include "view/live_view_model.h"

#include <cstdlib>

#include "view/number_format.h"

namespace zrv {
namespace {

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kGreen{0, 128, 0};
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kBlue{0, 0, 255};

// The firmware's lowest supported version, compared as a double on purpose: the float of
// version byte 120 lies just above it and must pass.
constexpr double kMinFirmwareVersion = 1.2;

// Full scales fixed by the hardware: the potentiometer's and the analog input's.
constexpr std::uint32_t kPotentiometerFullScale = 3300;
constexpr std::uint32_t kAinFullScale = 5000;

enum ValueRow : std::size_t { kSupply, kTemperature, kPot, kAin, kCurLim, kCurAct, kPwmLim, kPwmAct };

std::optional<DriverStateView> DriverStateFor(std::uint8_t code) {
  switch (code) {
    case 0: return DriverStateView{"Idle", kBlack};
    case 1: return DriverStateView{"Run", kGreen};
    case 2: return DriverStateView{"Error: ", kRed};
    case 3: return DriverStateView{"Stop on limit ", kBlue};
    default: return std::nullopt;
  }
}

std::optional<std::string_view> FaultTextFor(std::uint8_t code) {
  switch (code) {
    case 0: return std::string_view(" ");
    case 1: return std::string_view("Short circuit");
    case 2: return std::string_view("Over temperature");
    case 3: return std::string_view("Under voltage");
    case 4: return std::string_view("Over voltage");
    case 5: return std::string_view("Internal error");
    default: return std::nullopt;
  }
}

std::optional<FixedText<160>> WorkModeTextFor(std::uint8_t code, std::string_view ain,
                                              std::string_view pot, std::string_view curLim) {
  constexpr std::string_view kByAin = "Speed (PWM) set by 0-5V input (";
  constexpr std::string_view kByPot = "Speed (PWM) set by potentiometer (";
  constexpr std::string_view kLimitMax = "   Current limit max (";
  constexpr std::string_view kLimitByPot = "   Current limit set by potentiometer (";
  constexpr std::string_view kLimitByInput = "   Current limit set by 0-10V input (";

  FixedText<160> text;
  auto twoPieces = [&](std::string_view speed, std::string_view speedValue, std::string_view limit) {
    text.Append(speed).Append(speedValue).Append(')').Append(limit).Append(curLim).Append(')');
  };
  switch (code) {
    case 0: twoPieces(kByAin, ain, kLimitMax); break;
    case 1: twoPieces(kByAin, ain, kLimitByPot); break;
    case 2: twoPieces(kByPot, pot, kLimitMax); break;
    case 3: twoPieces(kByPot, pot, kLimitByInput); break;
    case 4: text.Append("Speed (PWM) set by Modbus"); break;
    case 5: text.Append("Current set by Modbus"); break;
    case 6: text.Append("Speed (PWM) and current limit set by Modbus"); break;
    default: return std::nullopt;
  }
  return text;
}

template <typename T>
float AsFloat(T value) {
  return static_cast<float>(value);
}

}  // namespace

TickView ComputeTick(const DeviceState& state, char decimalSeparator, bool firmwareWarningShown) {
  TickView view;
  const LiveStatus& s = state.Status;
  const DriverLimits& limits = state.Limits;

  const float firmware = state.Identity.FirmwareVer;
  view.FirmwareWarningDue = !firmwareWarningShown && firmware > 0.0F &&
                            static_cast<double>(firmware) < kMinFirmwareVersion;

  for (std::size_t i = 0; i < 6; ++i) {
    view.Indicators[i].On = ((s.Switches >> i) & 1U) != 0U;
  }
  for (std::size_t i = 0; i < 4; ++i) {
    view.Indicators[6 + i].On = ((s.Inputs >> i) & 1U) != 0U;
  }
  view.Indicators[10].On = (s.Outputs & 0x08U) != 0U;
  view.Indicators[11].On = (s.Outputs & 0x10U) != 0U;

  auto& texts = view.ValueTexts;
  auto& gauges = view.GaugePositions;

  texts[kSupply] = FormatFixed(s.PowerSupply, 1000, 0, decimalSeparator);
  texts[kSupply].Append(" V ");
  gauges[kSupply] = PercentOf(AsFloat(s.PowerSupply), AsFloat(limits.PowerSupplyMax));

  texts[kTemperature] = DecimalText(s.Temperature);
  texts[kTemperature].Append(" C");
  gauges[kTemperature] = PercentOf(AsFloat(s.Temperature), AsFloat(limits.TemperatureMax));

  texts[kPot] = FormatFixed(std::int64_t{s.Potentiometer} * 100, kPotentiometerFullScale, 1,
                            decimalSeparator);
  texts[kPot].Append(" % ");
  gauges[kPot] = PercentOf(AsFloat(s.Potentiometer), AsFloat(kPotentiometerFullScale));

  texts[kAin] = FormatFixed(s.Ain, 1000, 1, decimalSeparator);
  texts[kAin].Append(" V ");
  gauges[kAin] = PercentOf(AsFloat(s.Ain), AsFloat(kAinFullScale));

  texts[kCurLim] = FormatFixed(s.CurLim, 1000, 2, decimalSeparator);
  texts[kCurLim].Append(" A ");
  gauges[kCurLim] = PercentOf(AsFloat(s.CurLim), AsFloat(limits.CurMax));

  texts[kCurAct] = FormatFixed(s.CurAct, 1000, 2, decimalSeparator);
  texts[kCurAct].Append(" A ");
  gauges[kCurAct] = PercentOf(AsFloat(s.CurAct), AsFloat(limits.CurMax));

  const int pwmLim = PercentOf(AsFloat(s.PwmLim), AsFloat(limits.PwmMax));
  texts[kPwmLim] = DecimalText(pwmLim);
  texts[kPwmLim].Append(" %");
  gauges[kPwmLim] = pwmLim;

  const int pwmAct = PercentOf(AsFloat(s.PwmAct), AsFloat(limits.PwmMax));
  texts[kPwmAct] = DecimalText(pwmAct);
  texts[kPwmAct].Append(" %");
  gauges[kPwmAct] = std::abs(pwmAct);

  view.DriverState = DriverStateFor(s.DriverState);
  view.FaultText = FaultTextFor(s.FaultCode);
  view.WorkModeText =
      WorkModeTextFor(s.WorkMode, texts[kAin].View(), texts[kPot].View(), texts[kCurLim].View());
  return view;
}

}  // namespace zrv
