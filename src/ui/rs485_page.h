// The "RS485 link" page: proves the driver's RS485 line through a USB-RS485 adapter. The link check
// reads the previewed registers over the line while the driver's good-frame counter is read over
// USB around it; the page shows the verdict in words a technician can act on and the registers
// side by side, through USB (live) and through RS485 (from the last test). Nothing on the line
// blocks: the check runs on the window's event loop.
#pragma once

#include <QList>
#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "bus/port_problem.h"
#include "bus/serial_port_list.h"
#include "link/ttimer.h"
#include "protocol/register_map.h"
#include "rs485/link_check.h"
#include "rs485/scan_runner.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace zrv {

class DriverSession;
class SerialPortTransport;

inline constexpr std::string_view kRs485PageTitle = "RS485 link";

// What a finished check says, in words: the verdict with its numbers and what to do about it.
// `portError` is the port's own problem when the transport could tell it.
QString LinkReportText(const LinkCheckReport& report, const QString& port, const bus::PortError& portError);
// What a finished scan found, in words.
QString ScanReportText(const ScanReport& report, const QString& port, const bus::PortError& portError);

class Rs485Page : public QWidget {
  Q_OBJECT

 public:
  // `session` and `time` must outlive the page.
  Rs485Page(DriverSession& session, TimeSource& time, QWidget* parent = nullptr);
  ~Rs485Page() override;

  // A port listed before the machine's own, and chosen (the demo's simulated line).
  void AddPinnedPort(const bus::SerialPortInfo& port);

  // The driver's Modbus settings have arrived over USB.
  void ShowDriverSettings();
  // A register reply has been decoded: the USB column follows it while the page is shown.
  void ShowUsbRegisters();

  void TestClick();
  // Looks for the driver on the line (its own settings over USB first); a find fills the fields.
  void ScanClick();
  void CancelClick();
  bool Running() const;

  // The chosen port's path; the fields' line settings and slave.
  QString PortPath() const;
  modbus::LineSettings LineFromFields() const;
  std::uint8_t SlaveFromFields() const;

  const std::optional<LinkCheckReport>& LastReport() const { return lastReport_; }
  const std::optional<ScanReport>& LastScan() const { return lastScan_; }

 signals:
  void CheckFinished();
  void ScanFinished();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // Asks the driver for its Modbus settings while the page is shown (a read over USB).
  void AskDriverSettings();
  void BuildControls();
  void ListPorts();
  void ShowRunning(bool running);
  void CheckDone(const LinkCheckReport& report);
  void ScanDone(const ScanReport& report);
  void SetCell(int row, int column, const QString& text);

  DriverSession& session_;
  TimeSource& time_;
  std::unique_ptr<bus::SerialPortWatch> watch_;
  QList<bus::SerialPortInfo> pinned_;
  std::unique_ptr<LinkCheck> check_;
  std::unique_ptr<SerialPortTransport> transport_;
  std::optional<LinkCheckReport> lastReport_;
  std::unique_ptr<ScanRunner> scan_;
  std::optional<ScanReport> lastScan_;

  QComboBox* portBox_ = nullptr;
  QSpinBox* slaveBox_ = nullptr;
  QComboBox* baudBox_ = nullptr;
  QComboBox* parityBox_ = nullptr;
  QPushButton* testButton_ = nullptr;
  QPushButton* scanButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* verdict_ = nullptr;
  QTableWidget* table_ = nullptr;
};

}  // namespace zrv
