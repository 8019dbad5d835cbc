// The "RS485 Modbus" page: reading the driver's slave settings into the lists, and saving the
// lists back after the operator has confirmed.
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <optional>

#include "protocol/reply_decoder.h"
#include "ui/form1.h"
#include "ui/recorder_page.h"
#include "ui_form1.h"

namespace zrv {

namespace {

// The operator's choice, or nothing when a list shows no entry (a value the driver reported that
// the list cannot show): a setting nobody chose is never sent.
std::optional<ModbusSettings> ChosenSettings(const QComboBox* baudList, const QComboBox* parityList,
                                             const QComboBox* addressList) {
  bool isNumber = false;
  const uint baud = baudList->currentText().toUInt(&isNumber);
  const int parity = parityList->currentIndex();
  const int address = addressList->currentIndex() + 1;
  if (!isNumber || parity < 0 || address < 1 || address > kHighestSlaveId) {
    return std::nullopt;
  }
  return ModbusSettings{baud, static_cast<std::uint8_t>(parity), static_cast<std::uint8_t>(address)};
}

}  // namespace

void TForm1::WireModbusPage() {
  connect(ui_->Btn_ReadSettings, &QPushButton::clicked, this, [this] { Btn_ReadSettingsClick(); });
  connect(ui_->Btn_SaveParams, &QPushButton::clicked, this, [this] { Btn_SaveParamsClick(); });
}

void TForm1::Btn_ReadSettingsClick() {
  if (session_.Connected()) recorderPage_->SamplesStopped(GapReason::PollingPaused);
  session_.ReadModbusSettings();
}

void TForm1::Btn_SaveParamsClick() {
  if (!boxes_.Question(kSaveQuestionCaption, kSaveQuestionText)) {
    return;
  }
  const std::optional<ModbusSettings> chosen =
      ChosenSettings(ui_->Cb_ModbusBaud, ui_->Cb_ModbusParity, ui_->Cb_ModbusAddress);
  if (!chosen) {
    statusLine_.SaveNotSent();
    ShowStatusLine();
    return;
  }
  if (session_.Connected()) recorderPage_->SamplesStopped(GapReason::PollingPaused);
  // The save's number goes out with it, so that only this save's outcome shows.
  if (!session_.SaveModbusSettings(*chosen, statusLine_.SaveSent())) {
    statusLine_.SaveNotSent();
  }
  ShowStatusLine();
}

}  // namespace zrv
