// Everything one display tick writes, computed from DeviceState alone.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "protocol/device_state.h"
#include "view/fixed_text.h"

namespace zrv {

struct Rgb {
  std::uint8_t R, G, B;
  friend constexpr bool operator==(Rgb, Rgb) = default;
};

inline constexpr Rgb IndicatorOnColor{175, 216, 135};
inline constexpr Rgb IndicatorOffColor{253, 124, 102};

// Indicator order: SW1..SW6, IN1..IN4, OUT1, OUT2.
inline constexpr std::size_t kIndicatorCount = 12;
// Value row order: PowerSupply, Temperature, Potentiometer, Ain, CurLim, CurAct, PwmLim, PwmAct.
inline constexpr std::size_t kValueRowCount = 8;

struct IndicatorView {
  bool On = false;
  std::string_view Text() const { return On ? "ON" : "OFF"; }
  Rgb Color() const { return On ? IndicatorOnColor : IndicatorOffColor; }
};

struct DriverStateView {
  std::string_view Text;
  Rgb FontColor;
};

struct TickView {
  bool FirmwareWarningDue = false;  // FirmwareVer in (0, 1.2) and not yet warned
  std::array<IndicatorView, kIndicatorCount> Indicators;
  std::array<FixedText<24>, kValueRowCount> ValueTexts;
  std::array<int, kValueRowCount> GaugePositions{};
  std::optional<DriverStateView> DriverState;  // absent: label unchanged
  std::optional<std::string_view> FaultText;   // absent: label unchanged
  std::optional<FixedText<160>> WorkModeText;  // absent: label unchanged
};

inline constexpr std::string_view kFirmwareWarningText =
    "Firmware not supported. Please update device firmware (min. 1.20)";

TickView ComputeTick(const DeviceState& state, char decimalSeparator, bool firmwareWarningShown);

}  // namespace zrv
