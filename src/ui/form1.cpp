#include "ui/form1.h"

#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QLocale>
#include <QString>
#include <string>

#include "view/number_format.h"
#include "view/register_table.h"
#include "protocol/reply_decoder.h"
#include "view/reply_view.h"
#include "ui/application.h"
#include "ui/fonts.h"
#include "ui/live_view_widgets.h"
#include "ui/recorder_page.h"
#include "ui_form1.h"
#include "ui/widget_setters.h"

// Resources of a static library must be registered by name, outside any namespace.
static void InitUiResources() { Q_INIT_RESOURCE(zrv_ui); }

namespace zrv {

namespace {

QString Latin1Text(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

char UserDecimalSeparator() {
  return QLocale::system().decimalPoint() == QLatin1String(",") ? ',' : '.';
}

}  // namespace

TForm1::TForm1(TimeSource& time, IMessageBoxes& boxes, IHidPlatform& platform, QWidget* parent,
               const FormCreateStepHook& stepHook)
    : QWidget(parent),
      ui_(std::make_unique<Ui::TForm1>()),
      boxes_(boxes),
      stepHook_(stepHook),
      DisplayData(time, 40, true),
      ReadDataTimer(time, 40, false),
      TimerTimeout(time, 500, false),
      AnswerWatch(time, StatusLine::kNoAnswerAfterMs, true) {
  BuildWindow();
  DisplayData.OnTimer = [this] { DisplayDataTimer(); };
  AnswerWatch.OnTimer = [this] { AnswerWatchTimer(); };
  WireLink(platform);
  WireModbusPage();
  WireRecorderPage(time);
  try {
    FormCreate();
  } catch (...) {
    // The window is still created, showing what FormCreate completed.
    ShowCurrentException(boxes_);
  }
}

TForm1::~TForm1() {
  // Nothing may be sent from here on; the controller stops every reader (a report already handed
  // over may still be decoded meanwhile, into widgets that still exist).
  connected_ = false;
  currentDevice_ = nullptr;
  controller_.reset();
  listed_.clear();
}

void TForm1::BuildWindow() {
  InitUiResources();
  ui_->setupUi(this);
  // Fixed single border: system menu, minimise and close, no maximise, no resizing.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(678, 439);
  move(0, 0);

  QFont windowFont = font();
  windowFont.setFamily(WindowFontFamily());
  setFont(windowFont);
  // Static texts size themselves to their text; a substitute font must not clip them.
  for (QLabel* label : findChildren<QLabel*>()) {
    FitLabelToText(label);
  }
  PrepareLiveStatusView();
  decimalSeparator_ = UserDecimalSeparator();

  // The baud list's entries are the rates the settings reply is matched against, so they come
  // from there and nowhere else (form1.ui leaves the list empty).
  QComboBox* baud = ui_->Cb_ModbusBaud;
  for (const std::uint32_t rate : kOfferedBaudRates) {
    baud->addItem(QString::number(rate));
    if (rate == kStartBaudrate) baud->setCurrentIndex(baud->count() - 1);
  }
}

void TForm1::FormCreate() {
  auto step = [this](int number) {
    if (stepHook_) {
      stepHook_(number);
    }
  };

  step(1);
  ShowNoConnection();

  step(2);
  std::string caption(kFormCaption);
  caption.append("  ").append(kVersionText);
  setWindowTitle(Latin1Text(caption));

  step(3);
  QComboBox* address = ui_->Cb_ModbusAddress;
  for (int position = 0; position < kHighestSlaveId; ++position) {
    const QString text = QString::number(position + 1);
    if (position < address->count()) {
      address->setItemText(position, text);
    } else {
      address->addItem(text);
    }
  }

  step(4);
  address->setCurrentIndex(0);

  step(5);
  QTableWidget* grid = ui_->GridModbus;
  grid->setColumnWidth(0, 50);
  grid->setColumnWidth(1, 80);
  grid->setColumnWidth(2, 70);

  step(6);
  SetCellText(grid, 0, 0, "Addr");
  SetCellText(grid, 0, 1, "Name");
  SetCellText(grid, 0, 2, "Value");

  step(7);
  // The grid drops cells beyond its row count, so it gets its rows before they are written.
  grid->setRowCount(kGridRowCount);
  for (std::size_t index = 0; index < kRegisterTable.size(); ++index) {
    const int row = static_cast<int>(index) + 1;
    SetCellText(grid, row, 0, kRegisterTable[index].Address);
    SetCellText(grid, row, 1, kRegisterTable[index].Name);
  }

  step(8);
  grid->setRowCount(kGridRowCount);
}

void TForm1::ShowStatus(std::string_view text, Rgb background) {
  SetEditText(ui_->ConnectionStatus, text);
  SetEditBackground(ui_->ConnectionStatus, background);
}

void TForm1::ShowConnected() {
  ShowStatus(kConnectedText, IndicatorOnColor);
  SendCommand(CommandCode::ReadIdentity);
}

void TForm1::ShowNoConnection() {
  ShowStatus(kNoConnectionText, IndicatorOffColor);
  ReadDataTimer.SetEnabled(false);
}

void TForm1::ShowDisconnected() {
  ShowStatus(kDisconnectedText, IndicatorOffColor);
  ReadDataTimer.SetEnabled(false);
}

void TForm1::HandleReply(THidDevice* /*HidDev*/, std::uint8_t /*ReportID*/,
                         const std::uint8_t* Data, std::uint16_t Size) {
  AnswerWatch.Restart();
  if (statusLine_.ReplyArrived()) ShowStatusLine();
  const DecodedReply reply = DecodeReply(state_, Data, Size);
  switch (reply.kind) {
    case DecodedReply::Kind::Identity: {
      const IdentityTexts texts = IdentityView(state_, decimalSeparator_);
      // Only while connected: after a later driver that refused access has left "No connection",
      // an earlier one's reply must not write "Connected to" onto it, nor start polling.
      if (connected_) {
        // The status colour stays as the connection routine set it.
        SetEditText(ui_->ConnectionStatus, texts.ConnectionCaption.View());
        StartPolling();
      }
      SetLabelText(ui_->Label_HardwareVer, texts.HardwareVersionText.View());
      break;
    }
    case DecodedReply::Kind::ModbusSettings: {
      const ModbusListPositions lists = ModbusListView(state_.Modbus);
      SelectIndex(ui_->Cb_ModbusBaud, lists.BaudIndex);
      SelectIndex(ui_->Cb_ModbusParity, lists.ParityIndex);
      SelectIndex(ui_->Cb_ModbusAddress, lists.AddressIndex);
      break;
    }
    case DecodedReply::Kind::SettingsSaved:
      statusLine_.Acknowledged();
      ShowStatusLine();
      break;
    case DecodedReply::Kind::Registers: {
      const RegisterTexts texts = RegisterView(state_.Registers, reply.GoodFrames);
      SetLabelText(ui_->Lab_ModbusOkFrames, texts.OkFramesText.View());
      for (std::size_t index = 0; index < texts.ValueTexts.size(); ++index) {
        SetCellText(ui_->GridModbus, static_cast<int>(index) + 1, 2, texts.ValueTexts[index].View());
      }
      break;
    }
    case DecodedReply::Kind::Status:
      recorderPage_->AddStatus(state_.Status, state_.Limits);
      break;
    case DecodedReply::Kind::None:
      break;
  }
}

void TForm1::AnswerWatchTimer() {
  if (connected_) recorderPage_->SamplesStopped(GapReason::NoAnswer);
  if (statusLine_.WatchExpired(connected_)) ShowStatusLine();
}

void TForm1::ShowStatusLine() {
  const std::string_view text = statusLine_.Text();
  const QString whole = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  QLabel* label = ui_->Label_Status;
  // A long reason or path may not fit the strip at the window's fixed width: it is cut in the
  // middle, so both the start of a message and the end of a path stay readable, and the tooltip
  // shows it whole.
  const int room = label->parentWidget()->width() - label->x() - 6;
  const QString shown = label->fontMetrics().elidedText(whole, Qt::ElideMiddle, room);
  if (label->text() != shown) {
    label->setText(shown);
    label->adjustSize();
  }
  const QString tip = shown == whole ? QString() : whole;
  if (label->toolTip() != tip) label->setToolTip(tip);
}

}  // namespace zrv
