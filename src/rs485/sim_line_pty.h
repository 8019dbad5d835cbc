// The simulated driver's RS485 side on a pseudo-terminal of its own, or on a serial port: what the
// tool writes goes on the simulated line as the adapter's frames, and what the line carries back is
// written out as it arrives, so the tool goes through real serial I/O at the line's pace. The
// driver is shared with its USB side, under the model's lock. Linux only.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

#include "bus/pty_line.h"
#include "bus/serial_port.h"
#include "sim/rs485_line.h"
#include "sim/sim_driver_model.h"

namespace zrv {

class SimLinePty : public QObject {
  Q_OBJECT

 public:
  // The model must outlive this.
  explicit SimLinePty(std::shared_ptr<SimDriverModel> model, QObject* parent = nullptr);
  ~SimLinePty() override;
  SimLinePty(const SimLinePty&) = delete;
  SimLinePty& operator=(const SimLinePty&) = delete;

  // See PtyLine::Open.
  bool Open(const QString& link, QString* error);
  // The far end on a serial port instead: an adapter wired to the tool's, or one end of a pair of
  // pseudo-terminals made elsewhere. The port is opened at the settings the driver listens at, and
  // opened again at the new ones whenever they change (a Save over USB). False with `error` set
  // when the port cannot be opened now.
  bool OpenSerial(const QString& path, QString* error);
  // What the tool opens: the pseudo-terminal's end, or the serial port the far end is on.
  QString PortPath() const;
  // The settings the serial far end is open at (nullopt on a pseudo-terminal or while closed).
  std::optional<modbus::LineSettings> SerialSettings() const;
  // A pseudo-terminal tells nothing of the settings the tool opened it with: the line takes the
  // adapter to be at these (the driver's own, unless told otherwise).
  void SetAdapterSettings(const modbus::LineSettings& settings);
  void SetFault(sim::Rs485Fault fault);

 signals:
  // The serial far end could not be opened at new settings, or went away; it is tried again.
  void SerialProblem(const QString& text);

 private:
  void FromTool(const QByteArray& bytes);
  void Pump();
  void ToTool(const QByteArray& bytes);
  void FollowDriverSettings();
  std::uint64_t NowUs() const { return static_cast<std::uint64_t>(clock_.nsecsElapsed() / 1000); }

  std::shared_ptr<SimDriverModel> model_;
  std::unique_ptr<sim::Rs485Line> line_;
  bus::PtyLine pty_;
  std::unique_ptr<bus::SerialPort> serial_;
  QString serialPath_;
  QTimer follow_;  // the serial far end's watch on the driver's settings
  QTimer pump_;
  QElapsedTimer clock_;
  bool adapterGiven_ = false;
};

}  // namespace zrv
