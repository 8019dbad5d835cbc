#include "ui/form1.h"

#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QListWidget>
#include <QTabWidget>
#include <QLocale>
#include <QString>
#include <string>

#include "view/number_format.h"
#include "view/register_table.h"
#include "view/reply_view.h"
#include "ui/application.h"
#include "ui/fonts.h"
#include "ui/live_view_widgets.h"
#include "ui/recorder_page.h"
#include "ui/rs485_page.h"
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

TForm1::TForm1(DriverSession& session, TimeSource& time, IMessageBoxes& boxes, QWidget* parent)
    : QWidget(parent),
      session_(session),
      ui_(std::make_unique<Ui::TForm1>()),
      boxes_(boxes),
      DisplayData(time, 40, true) {
  BuildWindow();
  DisplayData.OnTimer = [this] { DisplayDataTimer(); };
  Subscribe();
  WireModbusPage();
  WireRecorderPage(time);
  WireRs485Page(time);
  try {
    FormCreate();
  } catch (...) {
    // The window is still created, showing what FormCreate completed.
    ShowCurrentException(boxes_);
  }
}

// The session outlives the window: its signals to this window end with it.
TForm1::~TForm1() = default;

void TForm1::Subscribe() {
  DriverSession* session = &session_;
  connect(session, &DriverSession::DevicesCleared, this, [this] {
    ui_->ListBox1->clear();
    statusLine_.ConnectionRebuilt();
  });
  connect(session, &DriverSession::DeviceListed, this, [this](int index) {
    const ListedDevice& device = session_.Devices()[static_cast<std::size_t>(index)];
    const std::string text = DeviceItemText(device.Product, device.VendorID, device.ProductID);
    ui_->ListBox1->addItem(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
  });
  connect(session, &DriverSession::ConnectionChanged, this, &TForm1::ShowConnection);
  connect(session, &DriverSession::ScanEnded, this, [this](const QString& refusedNode) {
    statusLine_.SetNoAccess(refusedNode.toStdString());
    ShowStatusLine();
  });
  connect(session, &DriverSession::ReplyArrived, this, [this] {
    if (statusLine_.ReplyArrived()) ShowStatusLine();
  });
  connect(session, &DriverSession::IdentityDecoded, this, &TForm1::ShowIdentity);
  connect(session, &DriverSession::StatusDecoded, this,
          [this] { recorderPage_->AddStatus(session_.State().Status, session_.State().Limits); });
  connect(session, &DriverSession::RegistersDecoded, this, [this] {
    // The register preview is polled instead of the status: no samples while it is.
    if (session_.PolledCommand() == CommandCode::ReadRegisters) {
      recorderPage_->SamplesStopped(ui_->PageControl1->currentWidget() == rs485Page_ ? GapReason::Rs485LinkPage
                                                                                      : GapReason::ModbusPage);
    }
    ShowRegisters();
  });
  connect(session, &DriverSession::ModbusSettingsDecoded, this, &TForm1::ShowModbusSettings);
  connect(session, &DriverSession::SettingsSaved, this, [this] {
    statusLine_.Acknowledged();
    ShowStatusLine();
  });
  connect(session, &DriverSession::ReportWritten, this, &TForm1::ShowSaveWritten);
  // The live view's and the recorder's 40 ms timers count again from the moment polling starts,
  // so that the three tick in one wake-up of the event loop instead of three.
  connect(session, &DriverSession::PollingStarted, this, [this] {
    DisplayData.Restart();
    recorderPage_->Timer.Restart();
  });
  connect(session, &DriverSession::AnswerWatchExpired, this, [this] {
    if (session_.Connected()) recorderPage_->SamplesStopped(GapReason::NoAnswer);
    if (statusLine_.WatchExpired(session_.Connected())) ShowStatusLine();
  });
  connect(ui_->PageControl1, &QTabWidget::currentChanged, this, &TForm1::FollowPage);
}

void TForm1::FollowPage(int page) {
  // "Recorder" charts the status, as "IO Status" shows it; "RS485 link" shows the register
  // preview through USB next to what the line reads.
  constexpr int kModbusPage = 1;
  constexpr int kRs485Page = 3;
  const bool registers = page == kModbusPage || page == kRs485Page;
  session_.SetPolledCommand(registers ? CommandCode::ReadRegisters : CommandCode::ReadStatus);
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
  session_.ShowNoConnection();

  std::string caption(kFormCaption);
  caption.append("  ").append(kVersionText);
  setWindowTitle(Latin1Text(caption));

  QComboBox* address = ui_->Cb_ModbusAddress;
  for (int position = 0; position < kHighestSlaveId; ++position) {
    const QString text = QString::number(position + 1);
    if (position < address->count()) {
      address->setItemText(position, text);
    } else {
      address->addItem(text);
    }
  }

  address->setCurrentIndex(0);

  QTableWidget* grid = ui_->GridModbus;
  grid->setColumnWidth(0, 50);
  grid->setColumnWidth(1, 80);
  grid->setColumnWidth(2, 70);

  SetCellText(grid, 0, 0, "Addr");
  SetCellText(grid, 0, 1, "Name");
  SetCellText(grid, 0, 2, "Value");

  // The grid drops cells beyond its row count, so it gets its rows before they are written.
  grid->setRowCount(kGridRowCount);
  for (std::size_t index = 0; index < kRegisterTable.size(); ++index) {
    const int row = static_cast<int>(index) + 1;
    SetCellText(grid, row, 0, kRegisterTable[index].Address);
    SetCellText(grid, row, 1, kRegisterTable[index].Name);
  }

  grid->setRowCount(kGridRowCount);
}

void TForm1::ShowStatus(std::string_view text, Rgb background) {
  SetEditText(ui_->ConnectionStatus, text);
  SetEditBackground(ui_->ConnectionStatus, background);
}

void TForm1::ShowConnection(ConnectionShown shown) {
  switch (shown) {
    case ConnectionShown::Connected:
      ShowStatus(kConnectedText, IndicatorOnColor);
      break;
    case ConnectionShown::Disconnected:
      ShowStatus(kDisconnectedText, IndicatorOffColor);
      break;
    case ConnectionShown::NoConnection:
      ShowStatus(kNoConnectionText, IndicatorOffColor);
      break;
  }
}

void TForm1::ShowIdentity(bool ofThisConnection) {
  const IdentityTexts texts = IdentityView(session_.State(), decimalSeparator_);
  // After a later driver that refused access has left "No connection", an earlier one's reply
  // must not write "Connected to" onto it. The status colour stays as the connection routine set
  // it.
  if (ofThisConnection) SetEditText(ui_->ConnectionStatus, texts.ConnectionCaption.View());
  SetLabelText(ui_->Label_HardwareVer, texts.HardwareVersionText.View());
}

void TForm1::ShowModbusSettings() {
  const ModbusListPositions lists = ModbusListView(session_.State().Modbus);
  SelectIndex(ui_->Cb_ModbusBaud, lists.BaudIndex);
  SelectIndex(ui_->Cb_ModbusParity, lists.ParityIndex);
  SelectIndex(ui_->Cb_ModbusAddress, lists.AddressIndex);
}

void TForm1::ShowRegisters() {
  const RegisterTexts texts = RegisterView(session_.State().Registers, session_.GoodFrames());
  SetLabelText(ui_->Lab_ModbusOkFrames, texts.OkFramesText.View());
  for (std::size_t index = 0; index < texts.ValueTexts.size(); ++index) {
    SetCellText(ui_->GridModbus, static_cast<int>(index) + 1, 2, texts.ValueTexts[index].View());
  }
}

void TForm1::ShowSaveWritten(std::uint32_t tag, bool written) {
  statusLine_.SaveWritten(tag, written);
  ShowStatusLine();
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
