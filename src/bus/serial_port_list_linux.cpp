#include <libudev.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <filesystem>

#include "bus/serial_port_list.h"

namespace zrv::bus {
namespace {

QString Text(const char* value) { return value == nullptr ? QString() : QString::fromUtf8(value).trimmed(); }

std::uint16_t HexId(const char* value) {
  bool ok = false;
  const uint id = Text(value).toUInt(&ok, 16);
  return ok && id <= 0xFFFF ? static_cast<std::uint16_t>(id) : 0;
}

// The /dev/serial/by-id link that points at `node`, which stays the same for one adapter whichever
// order adapters are plugged in.
QString StableName(const QString& node) {
  const QDir byId(QStringLiteral("/dev/serial/by-id"));
  const QString target = QFileInfo(node).canonicalFilePath();
  for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
    if (link.isSymLink() && link.canonicalFilePath() == target) return link.absoluteFilePath();
  }
  return {};
}

// A UART the kernel reserves a ttyS name for but that has no hardware behind it says so in "type".
bool IsPlaceholderUart(udev_device* dev) {
  const QString name = Text(udev_device_get_sysname(dev));
  if (!name.startsWith(QLatin1String("ttyS"))) return false;
  const char* type = udev_device_get_sysattr_value(dev, "type");
  return type == nullptr || Text(type) == QLatin1String("0");
}

SerialPortInfo Describe(udev_device* dev, const QString& node) {
  SerialPortInfo port;
  port.path = node;
  port.stableName = StableName(node);
  if (udev_device* usb = udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_device")) {
    port.hasUsbIds = true;
    port.vendorId = HexId(udev_device_get_sysattr_value(usb, "idVendor"));
    port.productId = HexId(udev_device_get_sysattr_value(usb, "idProduct"));
    port.manufacturer = Text(udev_device_get_sysattr_value(usb, "manufacturer"));
    port.description = Text(udev_device_get_sysattr_value(usb, "product"));
    port.serialNumber = Text(udev_device_get_sysattr_value(usb, "serial"));
    // The adapter may name itself nothing; udev's hardware database often knows it.
    if (port.manufacturer.isEmpty()) {
      port.manufacturer = Text(udev_device_get_property_value(dev, "ID_VENDOR_FROM_DATABASE"));
    }
    if (port.description.isEmpty()) {
      port.description = Text(udev_device_get_property_value(dev, "ID_MODEL_FROM_DATABASE"));
    }
    if (port.description.isEmpty()) port.description = QStringLiteral("USB serial adapter");
  } else {
    port.description = QStringLiteral("Serial port");
  }
  return port;
}

}  // namespace

QList<SerialPortInfo> ListSerialPorts() {
  QList<SerialPortInfo> ports;
  udev* context = udev_new();
  if (context == nullptr) return ports;
  udev_enumerate* list = udev_enumerate_new(context);
  udev_enumerate_add_match_subsystem(list, "tty");
  udev_enumerate_scan_devices(list);
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(list)) {
    udev_device* dev = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
    if (dev == nullptr) continue;
    const QString node = Text(udev_device_get_devnode(dev));
    // Virtual terminals and the console have no device behind them.
    if (!node.isEmpty() && udev_device_get_parent(dev) != nullptr && !IsPlaceholderUart(dev)) {
      ports.append(Describe(dev, node));
    }
    udev_device_unref(dev);
  }
  udev_enumerate_unref(list);
  udev_unref(context);
  std::sort(ports.begin(), ports.end(),
            [](const SerialPortInfo& a, const SerialPortInfo& b) { return a.path < b.path; });
  return ports;
}

QStringList ProgramsHolding(const QString& path) {
  namespace fs = std::filesystem;
  QStringList holders;
  const QString target = QFileInfo(path).canonicalFilePath();
  if (target.isEmpty()) return holders;
  const std::string wanted = target.toStdString();
  const std::string self = std::to_string(::getpid());
  std::error_code ec;
  for (const fs::directory_entry& process : fs::directory_iterator("/proc", ec)) {
    const std::string pid = process.path().filename().string();
    if (pid.empty() || !std::all_of(pid.begin(), pid.end(), ::isdigit) || pid == self) continue;
    std::error_code fdError;
    for (const fs::directory_entry& fd : fs::directory_iterator(process.path() / "fd", fdError)) {
      std::error_code linkError;
      if (fs::read_symlink(fd.path(), linkError).string() != wanted) continue;
      QFile comm(QString::fromStdString((process.path() / "comm").string()));
      const QString name = comm.open(QIODevice::ReadOnly) ? QString::fromUtf8(comm.readAll()).trimmed()
                                                          : QStringLiteral("?");
      holders.append(QStringLiteral("%1 (%2)").arg(name, QString::fromStdString(pid)));
      break;
    }
  }
  return holders;
}

struct SerialPortWatch::Impl {
  udev* context = nullptr;
  udev_monitor* monitor = nullptr;
  QSocketNotifier* notifier = nullptr;
  bool queued = false;
  ~Impl() {
    if (monitor != nullptr) udev_monitor_unref(monitor);
    if (context != nullptr) udev_unref(context);
  }
};

SerialPortWatch::SerialPortWatch(QObject* parent)
    : QObject(parent), impl_(std::make_unique<Impl>()), ports_(ListSerialPorts()) {
  impl_->context = udev_new();
  if (impl_->context == nullptr) return;
  // udevd's events come once its rules have made the by-id links; without udevd only the kernel's.
  const char* source = QFile::exists(QStringLiteral("/run/udev/control")) ? "udev" : "kernel";
  impl_->monitor = udev_monitor_new_from_netlink(impl_->context, source);
  if (impl_->monitor == nullptr ||
      udev_monitor_filter_add_match_subsystem_devtype(impl_->monitor, "tty", nullptr) < 0 ||
      udev_monitor_enable_receiving(impl_->monitor) < 0) {
    return;
  }
  impl_->notifier = new QSocketNotifier(udev_monitor_get_fd(impl_->monitor), QSocketNotifier::Read, this);
  connect(impl_->notifier, &QSocketNotifier::activated, this, [this] {
    while (udev_device* dev = udev_monitor_receive_device(impl_->monitor)) udev_device_unref(dev);
    // One list for a burst of events (an adapter brings several).
    if (impl_->queued) return;
    impl_->queued = true;
    QTimer::singleShot(0, this, [this] {
      impl_->queued = false;
      Relist();
    });
  });
}

SerialPortWatch::~SerialPortWatch() {
  // Before the monitor's socket closes with impl_.
  delete impl_->notifier;
}

}  // namespace zrv::bus
