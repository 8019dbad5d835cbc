// The simulated driver's RS485 side on a pseudo-terminal of its own: what the tool writes to the
// terminal goes on the simulated line as the adapter's frames, and what the line carries back is
// written to the terminal as it arrives, so the tool goes through real serial I/O at the line's
// pace. The driver is shared with its USB side, under the model's lock. Linux only.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

#include "bus/pty_line.h"
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
  QString PortPath() const { return pty_.PortPath(); }
  // A pseudo-terminal tells nothing of the settings the tool opened it with: the line takes the
  // adapter to be at these (the driver's own, unless told otherwise).
  void SetAdapterSettings(const modbus::LineSettings& settings);
  void SetFault(sim::Rs485Fault fault);

 private:
  void Pump();
  std::uint64_t NowUs() const { return static_cast<std::uint64_t>(clock_.nsecsElapsed() / 1000); }

  std::shared_ptr<SimDriverModel> model_;
  std::unique_ptr<sim::Rs485Line> line_;
  bus::PtyLine pty_;
  QTimer pump_;
  QElapsedTimer clock_;
  bool adapterGiven_ = false;
};

}  // namespace zrv
