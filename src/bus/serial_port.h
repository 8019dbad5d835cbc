// One serial port, opened at line settings, that hands what arrives to the event loop of the thread
// it lives on. Nothing here blocks: writes are queued when the port's buffer is full, reads come
// as BytesArrived. When the port goes away while open (an unplugged adapter) it closes itself and
// emits Lost once.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

#include "bus/line_settings.h"
#include "bus/port_problem.h"

namespace zrv::bus {

class SerialPort : public QObject {
  Q_OBJECT

 public:
  explicit SerialPort(QObject* parent = nullptr);
  ~SerialPort() override;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens `path` for this program alone. A port another program has open is refused as Busy (with
  // who holds it where the system tells), so that two masters never share a line unseen.
  PortError Open(const QString& path, const LineSettings& settings);
  void Close();
  bool IsOpen() const;
  QString Path() const;
  LineSettings Settings() const;
  // Drops whatever the port has received and not yet handed over, and what waits to be sent.
  void Discard();
  // Queues `bytes` for the line; false when the port is not open.
  bool Write(const QByteArray& bytes);
  // Bytes queued and not yet taken by the port's driver.
  qsizetype PendingWrite() const;
  // Hands over at once (as BytesArrived) what has arrived and not yet been handed over, without
  // waiting for the event loop to notice: before a time-out is judged, so that answers that came
  // while the loop was held up elsewhere still count.
  void ReadAvailable();

 signals:
  void BytesArrived(const QByteArray& bytes);
  void Lost(const zrv::bus::PortError& why);

 private:
  struct Impl;
  void Fail(PortError why);
  std::unique_ptr<Impl> impl_;
  friend struct Impl;
};

}  // namespace zrv::bus
