// The serial ports of this machine, as a technician needs to tell them apart, and their changes as
// adapters are plugged in and out.
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

namespace zrv::bus {

struct SerialPortInfo {
  QString path;          // what to open: /dev/ttyUSB0, COM3
  QString stableName;    // /dev/serial/by-id/…, the same whichever order adapters come in ("" if none)
  QString description;   // the adapter's product, or the kind of port
  QString manufacturer;
  bool hasUsbIds = false;
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  QString serialNumber;
  friend bool operator==(const SerialPortInfo&, const SerialPortInfo&) = default;
};

// "0403:6001", or "" for a port that is not on USB.
QString UsbIdsText(const SerialPortInfo& port);

// Every serial port now present, sorted by path; placeholders for UARTs that are not there are left
// out.
QList<SerialPortInfo> ListSerialPorts();

// The other programs that have `path` open, as "name (pid)". Only what this user may see.
QStringList ProgramsHolding(const QString& path);

// Said when the list may have changed; the holder lists again.
class SerialPortWatch : public QObject {
  Q_OBJECT

 public:
  explicit SerialPortWatch(QObject* parent = nullptr);
  ~SerialPortWatch() override;
  SerialPortWatch(const SerialPortWatch&) = delete;
  SerialPortWatch& operator=(const SerialPortWatch&) = delete;
  const QList<SerialPortInfo>& Ports() const { return ports_; }

 signals:
  void PortsChanged();

 private:
  void Relist();
  struct Impl;
  std::unique_ptr<Impl> impl_;
  QList<SerialPortInfo> ports_;
};

}  // namespace zrv::bus
