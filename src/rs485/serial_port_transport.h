// A serial port (a USB-RS485 adapter) as the link test's transport. The port's own problem, with
// who holds it and the fix, stays here for the front end to show.
#pragma once

#include <QObject>
#include <QString>

#include "bus/port_problem.h"
#include "bus/serial_port.h"
#include "rs485/byte_transport.h"

namespace zrv {

modbus::PortErrorKind PortErrorKindOf(bus::PortProblem problem);

class SerialPortTransport final : public ByteTransport {
 public:
  explicit SerialPortTransport(QString path);
  SerialPortTransport(const SerialPortTransport&) = delete;
  SerialPortTransport& operator=(const SerialPortTransport&) = delete;

  modbus::PortErrorKind Open(const modbus::LineSettings& settings) override;
  void Close() override { port_.Close(); }
  bool Write(std::span<const std::uint8_t> bytes) override;
  void TakePending() override { port_.ReadAvailable(); }

  const QString& Path() const { return path_; }
  // Why the last Open failed or the port went away; none while it works.
  const bus::PortError& LastError() const { return lastError_; }

 private:
  QString path_;
  bus::SerialPort port_;
  bus::PortError lastError_;
};

}  // namespace zrv
