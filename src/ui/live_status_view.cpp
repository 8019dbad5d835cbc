// The live status view: every 40 ms, while connected, DeviceState is shown on the driver strip
// and the "IO Status" page. The texts come from the pure tick model; this file only moves them
// into widgets, and only what differs from what the view last gave each widget: a steady reading
// costs no widget call at all.
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <array>

#include "protocol/live_view_model.h"
#include "ui/form1.h"
#include "ui/live_view_widgets.h"
#include "ui_form1.h"
#include "ui/widget_setters.h"

namespace zrv {

void TForm1::LiveViewWidgets::Apply(const TickView& view) {
  // Each record is updated right after its widget, so a tick cut short by a failure leaves every
  // record true to its widget.
  for (std::size_t i = 0; i < kIndicatorCount; ++i) {
    const bool on = view.Indicators[i].On;
    if (ShownIndicators[i] != on) {
      SetIndicator(Indicators[i], "ON", on, "OFF");
      ShownIndicators[i] = on;
    }
  }
  for (std::size_t i = 0; i < kValueRowCount; ++i) {
    if (ShownValues[i] != view.ValueTexts[i]) {
      Values[i].SetText(view.ValueTexts[i].View());
      ShownValues[i] = view.ValueTexts[i];
    }
    if (ShownGauges[i] != view.GaugePositions[i]) {
      SetGauge(Gauges[i], view.GaugePositions[i]);
      ShownGauges[i] = view.GaugePositions[i];
    }
  }
  // A code outside its table leaves the label as it was, text and colour.
  if (view.DriverState) {
    const DriverStateView& state = *view.DriverState;
    if (!ShownDriverState || ShownDriverState->Text != state.Text ||
        ShownDriverState->FontColor != state.FontColor) {
      SetLabelText(DriverStatus, state.Text);
      SetLabelFontColor(DriverStatus, state.FontColor);
      ShownDriverState = state;
    }
  }
  if (view.FaultText && ShownFault != view.FaultText) {
    SetLabelText(DriverError, *view.FaultText);
    ShownFault = view.FaultText;
  }
  if (view.WorkModeText && ShownWorkMode != view.WorkModeText) {
    WorkMode.SetText(view.WorkModeText->View());
    ShownWorkMode = view.WorkModeText;
  }
}

void TForm1::PrepareLiveStatusView() {
  Ui::TForm1& ui = *ui_;
  liveView_ = std::make_unique<LiveViewWidgets>();
  LiveViewWidgets& view = *liveView_;
  view.Indicators = {ui.SW1, ui.SW2, ui.SW3, ui.SW4, ui.SW5, ui.SW6,
                     ui.IN1, ui.IN2, ui.IN3, ui.IN4, ui.OUT1, ui.OUT2};
  view.Gauges = {ui.Pb_PowerSupply,  ui.Pb_Temperature, ui.Pb_Potentiometer, ui.Pb_AnalogInput,
                 ui.Pb_CurrentLimit, ui.Pb_CurrentAct,  ui.Pb_PwmLimit,      ui.Pb_PwmAct};
  const std::array<QLabel*, kValueRowCount> values = {
      ui.LabVal_PowerSupply, ui.LabVal_Temperature, ui.LabVal_Potentiometer, ui.LabVal_Ain,
      ui.LabVal_CurLim,      ui.LabVal_CurAct,      ui.LabVal_PwmLim,        ui.LabVal_PwmAct};
  view.DriverStatus = ui.Label_DriverStatus;
  view.DriverError = ui.Label_DriverError;

  // The labels take their fill colour from a rendering of the window; the very first rendering
  // of a window not yet shown can miss the tint of nested frames, so one goes before.
  static_cast<void>(grab());
  // The texts that change with every reading: each value text owns the room up to its gauge, the
  // work-mode text the rest of its frame's line.
  for (std::size_t i = 0; i < kValueRowCount; ++i) {
    view.Values[i].Reserve(values[i], view.Gauges[i]->x() - values[i]->x());
  }
  QLabel* workMode = ui.Lab_WorkMode;
  view.WorkMode.Reserve(workMode, workMode->parentWidget()->contentsRect().right() + 1 - workMode->x());
  // The gauges' rounded corners blend with the frame behind them: with a picture of that frame as
  // their own background, a new position repaints the gauge alone, not the frames behind it.
  for (QProgressBar* gauge : view.Gauges) {
    PaintOwnBackgroundPicture(gauge);
    KeepGaugeLooks(gauge);
  }
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
    liveView_->Apply(ComputeTick(state_, decimalSeparator_, firmwareWarningShown_));
  } catch (...) {
    // A failed tick ends silently; the next one starts afresh.
  }
}

}  // namespace zrv
