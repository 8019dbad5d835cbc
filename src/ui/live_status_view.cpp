// The live status view: every 40 ms, while connected, DeviceState is shown on the driver strip
// and the "IO Status" page. The texts come from the pure tick model; this file only moves them
// into widgets, and only what differs from what the view last gave each widget: a steady reading
// costs no widget call at all. The texts and gauges that change with the readings keep a fixed
// room and paint a picture of what lies behind them, so that 25 changes a second repaint neither
// the frames behind them nor their geometry.
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <algorithm>
#include <array>

#include "view/live_view_model.h"
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
      SetLabelTextInRoom(Values[i], view.ValueTexts[i].View(), ValueRooms[i]);
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
      PlaceFault();
    }
  }
  if (view.FaultText && ShownFault != view.FaultText) {
    SetLabelText(DriverError, *view.FaultText);
    ShownFault = view.FaultText;
  }
  if (view.WorkModeText && ShownWorkMode != view.WorkModeText) {
    SetLabelTextInRoom(WorkMode, view.WorkModeText->View(), WorkModeRoom);
    ShownWorkMode = view.WorkModeText;
  }
}

void TForm1::LiveViewWidgets::PlaceFault() {
  const int left = std::max(FaultLeft, DriverStatus->geometry().right() + 1);
  if (DriverError->x() != left) {
    DriverError->move(left, DriverError->y());
  }
}

void TForm1::PrepareLiveStatusView() {
  Ui::TForm1& ui = *ui_;
  liveView_ = std::make_unique<LiveViewWidgets>();
  LiveViewWidgets& view = *liveView_;
  view.Indicators = {ui.SW1, ui.SW2, ui.SW3, ui.SW4, ui.SW5, ui.SW6,
                     ui.IN1, ui.IN2, ui.IN3, ui.IN4, ui.OUT1, ui.OUT2};
  view.Values = {ui.LabVal_PowerSupply, ui.LabVal_Temperature, ui.LabVal_Potentiometer, ui.LabVal_Ain,
                 ui.LabVal_CurLim,      ui.LabVal_CurAct,      ui.LabVal_PwmLim,        ui.LabVal_PwmAct};
  view.Gauges = {ui.Pb_PowerSupply,  ui.Pb_Temperature, ui.Pb_Potentiometer, ui.Pb_AnalogInput,
                 ui.Pb_CurrentLimit, ui.Pb_CurrentAct,  ui.Pb_PwmLimit,      ui.Pb_PwmAct};
  view.DriverStatus = ui.Label_DriverStatus;
  view.DriverError = ui.Label_DriverError;
  view.WorkMode = ui.Lab_WorkMode;
  view.FaultLeft = ui.Label_DriverError->x();
  view.PlaceFault();

  const auto keepRoom = [](QLabel* label, int room) {
    label->setTextFormat(Qt::PlainText);  // readings are never rich text
    const QSize hint = label->sizeHint();
    if (hint.width() <= room) {
      label->resize(room, std::max(label->height(), hint.height()));
      PaintBackdrop(label);
    }
  };
  for (std::size_t i = 0; i < kValueRowCount; ++i) {
    view.ValueRooms[i] = view.Gauges[i]->x() - view.Values[i]->x();
    keepRoom(view.Values[i], view.ValueRooms[i]);
  }
  view.WorkModeRoom = view.WorkMode->parentWidget()->contentsRect().right() + 1 - view.WorkMode->x();
  keepRoom(view.WorkMode, view.WorkModeRoom);
  for (QProgressBar* gauge : view.Gauges) {
    PaintBackdrop(gauge);
  }
}

void TForm1::DisplayDataTimer() {
  if (!session_.Connected()) {
    return;
  }
  const DeviceState& state = session_.State();
  try {
    if (ComputeTick(state, decimalSeparator_, firmwareWarningShown_).FirmwareWarningDue) {
      // Set before the box opens: ticks that run while it is open skip the gate.
      firmwareWarningShown_ = true;
      boxes_.Warning("Warning", kFirmwareWarningText);
      DisplayData.SetEnabled(false);
    }
    // Read after the box has closed, so the completing tick shows the state of that moment.
    liveView_->Apply(ComputeTick(state, decimalSeparator_, firmwareWarningShown_));
  } catch (...) {
    // A failed tick ends silently; the next one starts afresh.
  }
}

}  // namespace zrv
