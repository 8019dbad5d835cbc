#include "ui/rs485_page.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

#include <chrono>

#include "bus/line_settings.h"
#include "bus/port_problem.h"
#include "protocol/reply_decoder.h"
#include "rs485/serial_port_transport.h"
#include "session/driver_session.h"
#include "view/register_table.h"
#include "view/reply_view.h"

namespace zrv {

namespace {

std::uint64_t SteadyUs() {
  static const auto start = std::chrono::steady_clock::now();
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count());
}

QString Text(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QString Ms(std::uint64_t us) { return QString::number(static_cast<double>(us) / 1000.0, 'f', 1) + QStringLiteral(" ms"); }

constexpr int kRounds = 10;

}  // namespace

QString LinkReportText(const LinkCheckReport& report, const QString& port, const bus::PortError& portError) {
  if (!report.Problem.isEmpty()) return report.Problem;
  const modbus::LinkTestResult& r = report.Result;
  const QString answered = QStringLiteral("%1 of %2 requests answered").arg(r.Answered).arg(r.Sent);
  const QString rise = r.CounterRise ? QString::number(*r.CounterRise) : QString();
  // A verdict's words: the answers counted at %1 and, where it names one, another figure at %2.
  const auto said = [&answered](const QString& words, const auto&... other) { return words.arg(answered, other...); };
  QString text;
  if (report.Cancelled) {
    text = QStringLiteral("Cancelled: %1 so far.").arg(answered);
  } else {
    switch (r.Verdict) {
      case modbus::LinkVerdict::Ok:
        text = QStringLiteral("Link OK: %1, the values agree with what USB showed meanwhile.").arg(answered);
        if (!report.Usb) text = QStringLiteral("Link OK: %1 (no driver on USB to compare values with).").arg(answered);
        break;
      case modbus::LinkVerdict::DriverHearsNoAnswer:
        if (report.AskedAnotherSlave()) {
          text = said(QStringLiteral(
                          "The driver hears the requests (its good-frame counter rose by %2), but it is slave %3 "
                          "over USB and the test asked slave %4: %1. Test at slave %3."),
                      rise, QString::number(*report.DriverSlave), QString::number(report.Slave));
          break;
        }
        text = said(QStringLiteral(
                        "The driver hears the requests (its good-frame counter rose by %2), but its answers do "
                        "not come back: %1. Check the adapter's receive side and its direction control."),
                    rise);
        break;
      case modbus::LinkVerdict::NothingReachesDriver:
        text = said(QStringLiteral(
            "Nothing reaches the driver: %1 and its good-frame counter did not rise. Check the wiring "
            "(A and B swapped?), the baud rate and parity, and that the adapter sends."));
        break;
      case modbus::LinkVerdict::Noisy:
        text = said(QStringLiteral(
                        "The line is unreliable: %1, %2 damaged. Check the termination (120 ohm at both ends), "
                        "the cable's screen and ground, and its length."),
                    QString::number(r.Corrupted));
        break;
      case modbus::LinkVerdict::Echo:
        text = said(QStringLiteral(
            "%1, but the adapter reads back what it sends (local echo). Switch its echo off or use "
            "an adapter with automatic direction control."));
        break;
      case modbus::LinkVerdict::AnotherDevice:
        text = said(QStringLiteral(
                        "Another device answers at slave %2: %1, but the values disagree with the driver's over "
                        "USB. Give one of them another slave id."),
                    QString::number(report.Slave));
        break;
      case modbus::LinkVerdict::PortError:
        text = portError ? bus::PortProblemText(portError, port)
                         : QStringLiteral("The port %1 could not be used (%2).")
                               .arg(port, Text(modbus::PortErrorKey(r.Port)));
        break;
      case modbus::LinkVerdict::NoAnswer:
        text = said(QStringLiteral("No answer: %1. Check the wiring (A and B), the baud rate, parity and slave id."));
        break;
    }
  }
  if (r.Echo && r.Verdict != modbus::LinkVerdict::Echo) text += QStringLiteral(" The adapter also echoes what it sends.");
  if (r.MedianRoundTripUs && r.MaxRoundTripUs) {
    text += QStringLiteral(" Round trip %1 (median), %2 (longest).").arg(Ms(*r.MedianRoundTripUs), Ms(*r.MaxRoundTripUs));
  }
  if (r.CounterRise && r.Verdict != modbus::LinkVerdict::DriverHearsNoAnswer) {
    text += QStringLiteral(" The driver counted %1 good frames.").arg(rise);
  }
  if (report.DriverWentAway) {
    text += QStringLiteral(" The driver went away on USB during the test: its counter could not be read after.");
  } else if (!report.CounterRead && r.Verdict != modbus::LinkVerdict::PortError) {
    text += QStringLiteral(
        " No driver on USB: the good-frame counter could not be read, so it cannot tell whether the "
        "driver heard.");
  }
  text += QStringLiteral(" (%1, slave %2%3)")
              .arg(bus::LineSettingsText(report.Line))
              .arg(report.Slave)
              .arg(report.SettingsFromUsb ? QStringLiteral(", the driver's own settings") : QString());
  return text;
}

QString ScanReportText(const ScanReport& report, const QString& port, const bus::PortError& portError) {
  const QString probes = QStringLiteral("%1 of %2 probes").arg(report.Done).arg(report.Total);
  if (report.Port != modbus::PortErrorKind::None) {
    return portError ? bus::PortProblemText(portError, port)
                     : QStringLiteral("The port %1 failed during the scan (%2), after %3.")
                           .arg(port, Text(modbus::PortErrorKey(report.Port)), probes);
  }
  if (!report.Found.empty()) {
    const ScanFind& find = report.Found.front();
    QString text = QStringLiteral("Found a slave at address %1, %2").arg(find.Slave).arg(bus::LineSettingsText(find.Line));
    if (find.Exception) text += QStringLiteral(" (it refused the read with exception %1)").arg(*find.Exception);
    text += QStringLiteral(", after %1. The fields are set to it: press Test link to prove the line.").arg(probes);
    return text;
  }
  if (report.Cancelled) return QStringLiteral("Scan cancelled after %1: nothing answered so far.").arg(probes);
  return QStringLiteral(
             "Nothing answered any of %1. Check the wiring (A and B swapped?), the adapter, and that the "
             "driver is powered.")
      .arg(probes);
}

Rs485Page::Rs485Page(DriverSession& session, TimeSource& time, QWidget* parent)
    : QWidget(parent),
      session_(session),
      time_(time),
      watch_(std::make_unique<bus::SerialPortWatch>()) {
  setObjectName(QStringLiteral("Rs485Page"));
  BuildControls();
  connect(watch_.get(), &bus::SerialPortWatch::PortsChanged, this, &Rs485Page::ListPorts);
  connect(&session_, &DriverSession::ConnectionChanged, this, [this](ConnectionShown shown) {
    if (shown == ConnectionShown::Connected) AskDriverSettings();
  });
  ListPorts();
}

void Rs485Page::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  AskDriverSettings();
}

void Rs485Page::AskDriverSettings() {
  if (isVisible() && session_.Connected() && !Running()) session_.ReadModbusSettings();
}

Rs485Page::~Rs485Page() {
  // The check and the scan let go of the transport before the transport goes.
  check_.reset();
  scan_.reset();
  transport_.reset();
}

void Rs485Page::BuildControls() {
  auto place = [this](QWidget* widget, int x, int y, int w, int h) {
    widget->setParent(this);
    widget->setGeometry(x, y, w, h);
    return widget;
  };
  auto label = [&](const char* text, int x, int y, int w) {
    auto* l = new QLabel(QString::fromLatin1(text));
    place(l, x, y, w, 21);
    return l;
  };

  label("Port:", 4, 4, 40);
  portBox_ = new QComboBox;
  portBox_->setObjectName(QStringLiteral("Rs485Port"));
  place(portBox_, 46, 4, 306, 22);

  label("Slave:", 4, 31, 40);
  slaveBox_ = new QSpinBox;
  slaveBox_->setObjectName(QStringLiteral("Rs485Slave"));
  slaveBox_->setRange(kLowestSlaveId, kHighestSlaveId);
  place(slaveBox_, 46, 31, 54, 22);
  label("Baud:", 108, 31, 36);
  baudBox_ = new QComboBox;
  baudBox_->setObjectName(QStringLiteral("Rs485Baud"));
  for (const std::uint32_t rate : kOfferedBaudRates) {
    baudBox_->addItem(QString::number(rate), rate);
    if (rate == kStartBaudrate) baudBox_->setCurrentIndex(baudBox_->count() - 1);
  }
  place(baudBox_, 144, 31, 80, 22);
  label("Parity:", 232, 31, 42);
  parityBox_ = new QComboBox;
  parityBox_->setObjectName(QStringLiteral("Rs485Parity"));
  parityBox_->addItems({QStringLiteral("none"), QStringLiteral("odd"), QStringLiteral("even")});
  place(parityBox_, 276, 31, 76, 22);

  testButton_ = new QPushButton(QStringLiteral("Test link"));
  testButton_->setObjectName(QStringLiteral("Rs485Test"));
  place(testButton_, 4, 59, 80, 24);
  scanButton_ = new QPushButton(QStringLiteral("Scan"));
  scanButton_->setObjectName(QStringLiteral("Rs485Scan"));
  place(scanButton_, 90, 59, 80, 24);
  cancelButton_ = new QPushButton(QStringLiteral("Cancel"));
  cancelButton_->setObjectName(QStringLiteral("Rs485Cancel"));
  place(cancelButton_, 176, 59, 80, 24);
  cancelButton_->setVisible(false);
  progress_ = new QProgressBar;
  progress_->setObjectName(QStringLiteral("Rs485Progress"));
  progress_->setTextVisible(false);
  progress_->setValue(0);
  place(progress_, 262, 63, 90, 16);

  verdict_ = new QLabel(QStringLiteral("Choose the adapter's port and press Test link. The slave id, baud rate and "
                                       "parity are the driver's own once it is connected on USB."));
  verdict_->setObjectName(QStringLiteral("Rs485Verdict"));
  verdict_->setWordWrap(true);
  verdict_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  verdict_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  verdict_->setFrameShape(QFrame::StyledPanel);
  place(verdict_, 4, 89, 348, 158);

  table_ = new QTableWidget(static_cast<int>(kRegisterRowCount), 3);
  table_->setObjectName(QStringLiteral("Rs485Registers"));
  table_->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("USB (live)"),
                                     QStringLiteral("RS485 (last test)")});
  table_->verticalHeader()->setVisible(false);
  table_->verticalHeader()->setMinimumSectionSize(10);
  table_->verticalHeader()->setDefaultSectionSize(14);
  table_->horizontalHeader()->setFixedHeight(18);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionMode(QAbstractItemView::NoSelection);
  table_->setFocusPolicy(Qt::NoFocus);
  table_->setColumnWidth(0, 100);
  table_->setColumnWidth(1, 86);
  table_->setColumnWidth(2, 105);
  table_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QFont small = table_->font();
  small.setPixelSize(11);
  table_->setFont(small);
  place(table_, 358, 4, 295, 243);
  for (std::size_t row = 0; row < kRegisterRowCount; ++row) {
    SetCell(static_cast<int>(row), 0, Text(kRegisterTable[row].Name));
    table_->item(static_cast<int>(row), 0)->setToolTip(QStringLiteral("Register %1").arg(Text(kRegisterTable[row].Address)));
  }

  connect(testButton_, &QPushButton::clicked, this, &Rs485Page::TestClick);
  connect(scanButton_, &QPushButton::clicked, this, &Rs485Page::ScanClick);
  connect(cancelButton_, &QPushButton::clicked, this, &Rs485Page::CancelClick);
}

void Rs485Page::SetCell(int row, int column, const QString& text) {
  QTableWidgetItem* item = table_->item(row, column);
  if (item == nullptr) {
    item = new QTableWidgetItem;
    if (column > 0) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    table_->setItem(row, column, item);
  }
  if (item->text() != text) item->setText(text);
}

void Rs485Page::AddPinnedPort(const bus::SerialPortInfo& port) {
  pinned_.append(port);
  ListPorts();
  portBox_->setCurrentIndex(portBox_->findData(port.path));
}

void Rs485Page::ListPorts() {
  const QString chosen = PortPath();
  QList<bus::SerialPortInfo> ports = pinned_;
  ports.append(watch_->Ports());
  portBox_->clear();
  for (const bus::SerialPortInfo& port : ports) {
    const QString text = port.description.isEmpty() ? port.path : port.path + QStringLiteral(" - ") + port.description;
    portBox_->addItem(text, port.path);
    QString tip = port.stableName.isEmpty() ? port.path : port.stableName;
    const QString ids = bus::UsbIdsText(port);
    if (!ids.isEmpty()) tip += QStringLiteral(" (USB %1)").arg(ids);
    portBox_->setItemData(portBox_->count() - 1, tip, Qt::ToolTipRole);
  }
  // The one chosen stays chosen while it is there; otherwise the first.
  const int again = portBox_->findData(chosen);
  portBox_->setCurrentIndex(again >= 0 ? again : (portBox_->count() > 0 ? 0 : -1));
  testButton_->setEnabled(!Running() && portBox_->count() > 0);
  scanButton_->setEnabled(!Running() && portBox_->count() > 0);
}

QString Rs485Page::PortPath() const { return portBox_->currentData().toString(); }

modbus::LineSettings Rs485Page::LineFromFields() const {
  return {baudBox_->currentData().toUInt(), static_cast<std::uint8_t>(parityBox_->currentIndex())};
}

std::uint8_t Rs485Page::SlaveFromFields() const { return static_cast<std::uint8_t>(slaveBox_->value()); }

void Rs485Page::ShowDriverSettings() {
  if (Running()) return;
  const ModbusSettings& modbus = session_.State().Modbus;
  const int baud = baudBox_->findData(modbus.Baudrate);
  if (baud >= 0) baudBox_->setCurrentIndex(baud);
  if (modbus.Parity <= bus::kParityEven) parityBox_->setCurrentIndex(modbus.Parity);
  if (IsValidSlaveId(modbus.SlaveId)) slaveBox_->setValue(modbus.SlaveId);
}

void Rs485Page::ShowUsbRegisters() {
  if (!isVisible()) return;
  const RegisterBlock& block = session_.State().Registers;
  for (std::size_t row = 0; row < kRegisterRowCount; ++row) {
    SetCell(static_cast<int>(row), 1, Text(RegisterValueText(block, kRegisterTable[row]).View()));
  }
}

bool Rs485Page::Running() const { return (check_ && check_->Running()) || (scan_ && scan_->Running()); }

void Rs485Page::TestClick() {
  if (Running() || PortPath().isEmpty()) return;
  // With no driver on USB the check runs without one: no counter, and no driver to go away.
  check_.reset();
  scan_.reset();
  check_ = std::make_unique<LinkCheck>(session_.Connected() ? &session_ : nullptr, time_, SteadyUs);
  connect(check_.get(), &LinkCheck::Progress, this, [this](int sent, int planned) {
    progress_->setMaximum(planned);
    progress_->setValue(sent);
  });
  connect(check_.get(), &LinkCheck::Finished, this, &Rs485Page::CheckDone);
  transport_ = std::make_unique<SerialPortTransport>(PortPath());
  // The fields are what the technician chose (the driver's own when it told them over USB).
  LinkCheckPlan plan;
  plan.Line = LineFromFields();
  plan.Slave = SlaveFromFields();
  if (session_.Connected() && IsValidSlaveId(session_.State().Modbus.SlaveId)) {
    plan.DriverSlave = session_.State().Modbus.SlaveId;
  }
  plan.Rounds = kRounds;
  progress_->setMaximum(plan.Rounds * static_cast<int>(modbus::kPreviewReadCount));
  progress_->setValue(0);
  verdict_->setText(QStringLiteral("Testing the link on %1...").arg(PortPath()));
  ShowRunning(true);
  if (!check_->Start(*transport_, plan)) ShowRunning(false);
}

void Rs485Page::ScanClick() {
  if (Running() || PortPath().isEmpty()) return;
  // The runner goes before the transport it holds.
  scan_.reset();
  transport_ = std::make_unique<SerialPortTransport>(PortPath());
  scan_ = std::make_unique<ScanRunner>(*transport_, time_, SteadyUs);
  scan_->OnProgress = [this](std::size_t done, std::size_t total) {
    progress_->setMaximum(static_cast<int>(total));
    progress_->setValue(static_cast<int>(done));
  };
  scan_->OnFinished = [this](const ScanReport& report) { ScanDone(report); };
  ScanPlan plan;
  // The driver's own settings, when it told them over USB, are tried first.
  if (session_.Connected() && IsValidSlaveId(session_.State().Modbus.SlaveId)) plan.Usb = session_.State().Modbus;
  progress_->setValue(0);
  verdict_->setText(QStringLiteral("Looking for the driver on %1...").arg(PortPath()));
  ShowRunning(true);
  // A port that does not open ends the scan before Start returns.
  scan_->Start(plan);
}

void Rs485Page::ScanDone(const ScanReport& report) {
  lastScan_ = report;
  const QString port = transport_ ? transport_->Path() : PortPath();
  const bus::PortError portError = transport_ ? transport_->LastError() : bus::PortError{};
  verdict_->setText(ScanReportText(report, port, portError));
  ShowRunning(false);
  if (!report.Found.empty()) {
    const ScanFind& find = report.Found.front();
    const int baud = baudBox_->findData(find.Line.Baudrate);
    if (baud >= 0) baudBox_->setCurrentIndex(baud);
    if (find.Line.Parity <= bus::kParityEven) parityBox_->setCurrentIndex(find.Line.Parity);
    slaveBox_->setValue(find.Slave);
  }
  emit ScanFinished();
}

void Rs485Page::CancelClick() {
  if (check_) check_->Cancel();
  if (scan_) scan_->Cancel();
}

void Rs485Page::ShowRunning(bool running) {
  testButton_->setEnabled(!running && portBox_->count() > 0);
  scanButton_->setEnabled(!running && portBox_->count() > 0);
  cancelButton_->setVisible(running);
  portBox_->setEnabled(!running);
  slaveBox_->setEnabled(!running);
  baudBox_->setEnabled(!running);
  parityBox_->setEnabled(!running);
}

void Rs485Page::CheckDone(const LinkCheckReport& report) {
  lastReport_ = report;
  const QString port = transport_ ? transport_->Path() : PortPath();
  const bus::PortError portError = transport_ ? transport_->LastError() : bus::PortError{};
  verdict_->setText(LinkReportText(report, port, portError));
  for (std::size_t row = 0; row < kRegisterRowCount; ++row) {
    const RegisterRow& r = kRegisterTable[row];
    SetCell(static_cast<int>(row), 2, report.Rs485.Has(r) ? Text(RegisterValueText(report.Rs485.Block, r).View()) : QString());
  }
  ShowRunning(false);
  emit CheckFinished();
}

}  // namespace zrv
