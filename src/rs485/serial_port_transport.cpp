#include "rs485/serial_port_transport.h"

#include <utility>

namespace zrv {

modbus::PortErrorKind PortErrorKindOf(bus::PortProblem problem) {
  switch (problem) {
    case bus::PortProblem::None: return modbus::PortErrorKind::None;
    case bus::PortProblem::Missing:
    case bus::PortProblem::Lost: return modbus::PortErrorKind::Missing;
    case bus::PortProblem::Busy: return modbus::PortErrorKind::Busy;
    case bus::PortProblem::NoAccess: return modbus::PortErrorKind::NoAccess;
    case bus::PortProblem::NotSerial:
    case bus::PortProblem::BadSetting:
    case bus::PortProblem::Other: break;
  }
  return modbus::PortErrorKind::Other;
}

SerialPortTransport::SerialPortTransport(QString path) : path_(std::move(path)) {
  QObject::connect(&port_, &bus::SerialPort::BytesArrived, [this](const QByteArray& bytes) {
    if (OnReceived) {
      OnReceived(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                               static_cast<std::size_t>(bytes.size())));
    }
  });
  QObject::connect(&port_, &bus::SerialPort::Lost, [this](const bus::PortError& why) {
    lastError_ = why;
    if (OnError) OnError(PortErrorKindOf(why.problem));
  });
}

modbus::PortErrorKind SerialPortTransport::Open(const modbus::LineSettings& settings) {
  lastError_ = port_.Open(path_, settings);
  return PortErrorKindOf(lastError_.problem);
}

bool SerialPortTransport::Write(std::span<const std::uint8_t> bytes) {
  return port_.Write(QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
}

}  // namespace zrv
