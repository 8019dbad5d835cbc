// The live status view: every 40 ms, while connected, DeviceState is shown on the driver strip
// and the "IO Status" page. The texts come from the pure tick model; this file only moves them
// into widgets, through setters that leave unchanged widgets alone.
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <array>

#include "protocol/live_view_model.h"
#include "ui/form1.h"
#include "ui_form1.h"
#include "ui/widget_setters.h"

namespace zrv {

namespace {

std::array<QLabel*, kValueRowCount> ValueLabels(Ui::TForm1& ui) {
  return {ui.LabVal_PowerSupply, ui.LabVal_Temperature, ui.LabVal_Potentiometer, ui.LabVal_Ain,
          ui.LabVal_CurLim,      ui.LabVal_CurAct,      ui.LabVal_PwmLim,        ui.LabVal_PwmAct};
}

std::array<QProgressBar*, kValueRowCount> Gauges(Ui::TForm1& ui) {
  return {ui.Pb_PowerSupply,  ui.Pb_Temperature, ui.Pb_Potentiometer, ui.Pb_AnalogInput,
          ui.Pb_CurrentLimit, ui.Pb_CurrentAct,  ui.Pb_PwmLimit,      ui.Pb_PwmAct};
}

void ApplyTick(Ui::TForm1& ui, const TickView& view) {
  const std::array<QLineEdit*, kIndicatorCount> indicators = {
      ui.SW1, ui.SW2, ui.SW3, ui.SW4, ui.SW5, ui.SW6, ui.IN1, ui.IN2, ui.IN3, ui.IN4, ui.OUT1, ui.OUT2};
  const std::array<QLabel*, kValueRowCount> values = ValueLabels(ui);
  const std::array<QProgressBar*, kValueRowCount> gauges = Gauges(ui);

  for (std::size_t i = 0; i < kIndicatorCount; ++i) {
    SetIndicator(indicators[i], "ON", view.Indicators[i].On, "OFF");
  }
  for (std::size_t i = 0; i < kValueRowCount; ++i) {
    SetReservedLabelText(values[i], view.ValueTexts[i].View());
    SetGauge(gauges[i], view.GaugePositions[i]);
  }
  // A code outside its table leaves the label as it was, text and colour.
  if (view.DriverState) {
    SetLabelText(ui.Label_DriverStatus, view.DriverState->Text);
    SetLabelFontColor(ui.Label_DriverStatus, view.DriverState->FontColor);
  }
  if (view.FaultText) {
    SetLabelText(ui.Label_DriverError, *view.FaultText);
  }
  if (view.WorkModeText) {
    SetReservedLabelText(ui.Lab_WorkMode, view.WorkModeText->View());
  }
}

}  // namespace

void TForm1::PrepareLiveStatusView() {
  // The texts that change with every reading: each value text owns the room up to its gauge, the
  // work-mode text the rest of its frame's line.
  const std::array<QLabel*, kValueRowCount> values = ValueLabels(*ui_);
  const std::array<QProgressBar*, kValueRowCount> gauges = Gauges(*ui_);
  // The labels take their fill colour from a rendering of the window; the very first rendering
  // of a window not yet shown can miss the tint of nested frames, so one goes before.
  static_cast<void>(grab());
  for (std::size_t i = 0; i < kValueRowCount; ++i) {
    // The gauges stay see-through: their rounded corners blend with what is behind them, which a
    // fill of one colour does not reproduce to the last bit.
    ReserveLabelWidth(values[i], gauges[i]->x() - values[i]->x());
  }
  QLabel* workMode = ui_->Lab_WorkMode;
  ReserveLabelWidth(workMode, workMode->parentWidget()->contentsRect().right() + 1 - workMode->x());
}

void TForm1::DisplayDataTimer() {
  if (!connected_) {
    return;
  }
  try {
    if (ComputeTick(state_, decimalSeparator_, firmwareWarningShown_).FirmwareWarningDue) {
      // Set before the box opens: ticks that run while it is open skip the gate.
      firmwareWarningShown_ = true;
      boxes_.Warning("Warning", kFirmwareWarningText);
      DisplayData.SetEnabled(false);
    }
    // Read after the box has closed, so the completing tick shows the state of that moment.
    ApplyTick(*ui_, ComputeTick(state_, decimalSeparator_, firmwareWarningShown_));
  } catch (...) {
    // A failed tick ends silently; the next one starts afresh.
  }
}

}  // namespace zrv
