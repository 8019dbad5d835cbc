#include "bus/serial_port_list.h"

namespace zrv::bus {

QString UsbIdsText(const SerialPortInfo& port) {
  if (!port.hasUsbIds) return {};
  return QStringLiteral("%1:%2")
      .arg(port.vendorId, 4, 16, QLatin1Char('0'))
      .arg(port.productId, 4, 16, QLatin1Char('0'));
}

void SerialPortWatch::Relist() {
  QList<SerialPortInfo> now = ListSerialPorts();
  if (now == ports_) return;
  ports_ = std::move(now);
  emit PortsChanged();
}

}  // namespace zrv::bus
