// The live status view's widgets and what the view last gave each of them (private to the window).
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <array>
#include <optional>
#include <string_view>

#include "view/live_view_model.h"
#include "ui/form1.h"
#include "ui/widget_setters.h"

namespace zrv {

struct TForm1::LiveViewWidgets {
  std::array<QLineEdit*, kIndicatorCount> Indicators{};
  std::array<QLabel*, kValueRowCount> Values{};
  std::array<int, kValueRowCount> ValueRooms{};  // each value text's width, up to its gauge
  std::array<QProgressBar*, kValueRowCount> Gauges{};
  QLabel* DriverStatus = nullptr;
  QLabel* DriverError = nullptr;
  QLabel* WorkMode = nullptr;
  int WorkModeRoom = 0;  // up to the end of its frame's line

  // What the view last gave each widget; empty before its first tick.
  std::array<std::optional<bool>, kIndicatorCount> ShownIndicators;
  std::array<std::optional<FixedText<24>>, kValueRowCount> ShownValues;
  std::array<std::optional<int>, kValueRowCount> ShownGauges;
  std::optional<DriverStateView> ShownDriverState;
  std::optional<std::string_view> ShownFault;
  std::optional<FixedText<160>> ShownWorkMode;

  void Apply(const TickView& view);
  // The fault text reads on from the state text: at its laid-out place, or right after a state
  // text that reaches past it.
  void PlaceFault();
  int FaultLeft = 0;  // the laid-out place
};

}  // namespace zrv
