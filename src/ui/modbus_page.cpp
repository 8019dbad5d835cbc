// The "RS485 Modbus" page: reading the driver's slave settings into the lists, and saving the
// lists back after the operator has confirmed.
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "protocol/report_framing.h"
#include "ui/form1.h"
#include "ui/widget_setters.h"
#include "ui_form1.h"

namespace zrv {

namespace {

constexpr int kLowestSlaveId = 1;
constexpr int kHighestSlaveId = 127;

}  // namespace

void TForm1::WireModbusPage() {
  connect(ui_->Btn_ReadSettings, &QPushButton::clicked, this, [this] { Btn_ReadSettingsClick(); });
  connect(ui_->Btn_SaveParams, &QPushButton::clicked, this, [this] { Btn_SaveParamsClick(); });
}

void TForm1::Btn_ReadSettingsClick() {
  PausePolling();
  SendCommand(CommandCode::ReadModbusSettings);
}

void TForm1::Btn_SaveParamsClick() {
  if (!boxes_.Question(kSaveQuestionCaption, kSaveQuestionText)) {
    return;
  }
  // The lists normally always have a selection (replies outside their entries leave them as
  // they were); without one the stored value stands.
  ModbusSettings& settings = state_.Modbus;
  bool isNumber = false;
  const uint baud = ui_->Cb_ModbusBaud->currentText().toUInt(&isNumber);
  if (isNumber) {
    settings.Baudrate = baud;
  }
  const int parity = ui_->Cb_ModbusParity->currentIndex();
  if (parity >= 0) {
    settings.Parity = static_cast<std::uint8_t>(parity);
  }
  const int address = ui_->Cb_ModbusAddress->currentIndex();
  if (address >= 0 && address + 1 <= kHighestSlaveId) {
    settings.SlaveId = static_cast<std::uint8_t>(address + 1);
  }

  SetLabelText(ui_->Label_Status, " ");
  PausePolling();

  // Slave address 0 is the broadcast address and nothing above 127 is valid: a driver must never
  // be told to take one of them.
  if (settings.SlaveId < kLowestSlaveId || settings.SlaveId > kHighestSlaveId) {
    return;
  }
  const auto payload = BuildWriteModbusSettingsPayload(settings);
  SendReport(payload.data(), static_cast<std::uint32_t>(payload.size()));
}

}  // namespace zrv
