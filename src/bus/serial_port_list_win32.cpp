#include <windows.h>

#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <vector>

#include "bus/serial_port_list.h"

namespace zrv::bus {
namespace {

// The ports Windows has mapped, as "COM3" → "\\Device\\Serial0" (also what wine maps from its
// Ports key to Linux ttys).
void FromSerialComm(QList<SerialPortInfo>& ports) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return;
  }
  for (DWORD i = 0;; ++i) {
    std::vector<wchar_t> name(256);
    std::vector<wchar_t> data(256);
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD dataBytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    DWORD type = 0;
    if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type,
                      reinterpret_cast<BYTE*>(data.data()), &dataBytes) != ERROR_SUCCESS) {
      break;
    }
    if (type != REG_SZ) continue;
    SerialPortInfo port;
    port.path = QString::fromWCharArray(data.data()).trimmed();
    const QString device = QString::fromWCharArray(name.data(), static_cast<qsizetype>(nameLength));
    port.description = device.contains(QLatin1String("USB"), Qt::CaseInsensitive)
                           ? QStringLiteral("USB serial adapter")
                           : QStringLiteral("Serial port");
    if (!port.path.isEmpty()) ports.append(port);
  }
  RegCloseKey(key);
}

// COM ports by their DOS names, for those the registry list lacks.
void FromDosDevices(QList<SerialPortInfo>& ports) {
  std::vector<wchar_t> names(65536);
  const DWORD n = QueryDosDeviceW(nullptr, names.data(), static_cast<DWORD>(names.size()));
  static const QRegularExpression com(QStringLiteral("^COM[0-9]+$"), QRegularExpression::CaseInsensitiveOption);
  for (DWORD at = 0; at < n && names[at] != 0;) {
    const QString name = QString::fromWCharArray(&names[at]);
    at += static_cast<DWORD>(name.size()) + 1;
    if (!com.match(name).hasMatch()) continue;
    const bool known = std::any_of(ports.begin(), ports.end(), [&](const SerialPortInfo& p) {
      return p.path.compare(name, Qt::CaseInsensitive) == 0;
    });
    if (!known) ports.append(SerialPortInfo{name.toUpper(), {}, QStringLiteral("Serial port"), {}, false, 0, 0, {}});
  }
}

int ComNumber(const QString& path) { return path.mid(3).toInt(); }

}  // namespace

QList<SerialPortInfo> ListSerialPorts() {
  QList<SerialPortInfo> ports;
  FromSerialComm(ports);
  FromDosDevices(ports);
  std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
    return ComNumber(a.path) < ComNumber(b.path);
  });
  return ports;
}

// Windows tells no more than that a port is in use, when it is opened.
QStringList ProgramsHolding(const QString&) { return {}; }

struct SerialPortWatch::Impl {
  QTimer timer;
};

// No window here for device-change messages: the list is read again every two seconds, which costs
// a registry read.
SerialPortWatch::SerialPortWatch(QObject* parent)
    : QObject(parent), impl_(std::make_unique<Impl>()), ports_(ListSerialPorts()) {
  connect(&impl_->timer, &QTimer::timeout, this, [this] { Relist(); });
  impl_->timer.start(2000);
}

SerialPortWatch::~SerialPortWatch() = default;

}  // namespace zrv::bus
