#include "driver_link.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QString>
#include <QTimer>

#include <utility>

#include "cli_options.h"
#include "protocol/reply_decoder.h"
#include "protocol/report_framing.h"

namespace zrv::cli {

DriverLink::DriverLink(IHidPlatform& platform) : platform_(platform) {
  deadline_.setSingleShot(true);
  QObject::connect(&deadline_, &QTimer::timeout, [this] {
    deadlinePassed_ = true;
    WakeWaiter();
  });
  controller_ = std::make_unique<THidDeviceController>(platform_);
  // Loading: assigning the handler must not scan at once; the controller's own forced first scan
  // does that from the event loop.
  controller_->SetLoading(true);
  controller_->SetOnEnumerate(THidEnumerateEvent(this, &DriverLink::Enumerate));
  controller_->SetOnDeviceChange(TNotifyEvent(this, &DriverLink::Changed));
  controller_->SetLoading(false);
}

DriverLink::~DriverLink() {
  if (device_ != nullptr) device_->SetOnData(nullptr);
  device_ = nullptr;
  claimed_.clear();  // hands the drivers back while the controller still exists
  controller_.reset();
}

void DriverLink::WakeWaiter() {
  // The waits below run processEvents(WaitForMoreEvents) until their condition holds. On Windows
  // the dispatcher delivers posted events (precise timers, the reply's wake-up) when the call
  // starts, and those do not count as work done: if such an event ends the wait, the call goes on
  // to sleep until some other message comes, which may be never. Waking the dispatcher makes the
  // call return so that the loop sees its condition.
  if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) dispatcher->wakeUp();
}

bool DriverLink::WaitFor(const std::function<bool()>& done, int ms) {
  // One timer for every wait: at 25 readings a second, making and unmaking timer and loop objects
  // is a visible share of the cost.
  deadlinePassed_ = false;
  deadline_.start(ms);
  while (!done() && !deadlinePassed_) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  deadline_.stop();
  return done();
}

void DriverLink::Discover() {
  if (!platform_.HidServicesPresent()) {
    discovered_ = true;
    return;
  }
  QEventLoop loop;
  while (!discovered_) loop.processEvents(QEventLoop::WaitForMoreEvents);
}

bool DriverLink::Enumerate(THidDevice* device, int index) {
  DeviceEntry entry;
  entry.Index = static_cast<int>(entries_.size());
  entry.Node = device->PlugInfo() != nullptr ? device->PlugInfo()->InterfacePath : std::string();
  entry.VendorID = device->HidAttributes().VendorID;
  entry.ProductID = device->HidAttributes().ProductID;
  entry.Product = QString::fromStdU16String(device->GetProductString()).toStdString();
  entry.IsDriver = entry.Product == kDriverProductString;
  entry.ReadWrite = device->ReadWriteAccess();
  if (entry.IsDriver) {
    std::unique_ptr<THidDevice> claimed;
    if (controller_->ClaimByIndex(claimed, index)) claimed_[entry.Index] = std::move(claimed);
  }
  entries_.push_back(std::move(entry));
  return true;
}

void DriverLink::Changed(QObject* /*sender*/) {
  // Only the first scan builds the list; later plug events are seen through the chosen device.
  if (discovered_) return;
  controller_->EnumerateDevices();
  discovered_ = true;
  WakeWaiter();
}

std::vector<DeviceEntry> DriverLink::Drivers() const {
  std::vector<DeviceEntry> drivers;
  for (const DeviceEntry& e : entries_) {
    if (e.IsDriver) drivers.push_back(e);
  }
  return drivers;
}

int DriverLink::Choose(const std::string& deviceArg, std::string& message) {
  const std::vector<DeviceEntry> drivers = Drivers();
  if (deviceArg.empty()) {
    if (drivers.empty()) {
      message = "no driver found (no HID device with the product string \"" +
                std::string(kDriverProductString) + "\"); check the cable and the driver's power, and run `zrv-cli doctor`";
      return kExitNoDriver;
    }
    if (drivers.size() > 1) {
      message = "several drivers are attached; choose one with --device:";
      for (const DeviceEntry& d : drivers) {
        message += "\n  --device " + d.Node + "   (or --device " + std::to_string(d.Index) + ")";
      }
      return kExitSeveralDrivers;
    }
    chosen_ = drivers.front();
  } else {
    const DeviceEntry* match = nullptr;
    for (const DeviceEntry& e : entries_) {
      if (e.Node == deviceArg || std::to_string(e.Index) == deviceArg) match = &e;
    }
    if (match == nullptr) {
      message = "no HID device " + deviceArg + " (see `zrv-cli list`)";
      return kExitNoDriver;
    }
    if (!match->IsDriver) {
      message = deviceArg + " is not a driver: its product string is \"" + match->Product + "\"";
      return kExitNoDriver;
    }
    chosen_ = *match;
  }
  if (!chosen_.ReadWrite) {
    message = "no read/write access to " + chosen_.Node;
    return kExitNoAccess;
  }
  if (!Use(chosen_)) {
    message = "no read/write access to " + chosen_.Node;
    return kExitNoAccess;
  }
  return kExitOk;
}

bool DriverLink::Use(const DeviceEntry& entry) {
  const auto it = claimed_.find(entry.Index);
  if (it == claimed_.end() || !it->second->ReadWriteAccess()) return false;
  if (device_ != nullptr && device_ != it->second.get()) device_->SetOnData(nullptr);
  chosen_ = entry;
  device_ = it->second.get();
  device_->SetReadSliceTime(readSliceMs_);
  device_->SetOnData(THidDataEvent(this, &DriverLink::Reply));
  return device_->ReaderRunning();
}

bool DriverLink::ChosenAttached() const { return device_ != nullptr && device_->IsAttached(); }

bool DriverLink::WaitUntilGone(int ms) {
  WaitFor([&] { return !ChosenAttached(); }, ms);
  return !ChosenAttached();
}

void DriverLink::Reply(THidDevice* /*device*/, std::uint8_t /*reportId*/, const std::uint8_t* data,
                       std::uint16_t size) {
  if (size == 0) return;
  // Only complete replies count as answers: a cut one changes nothing and is not waited for.
  const DecodedReply::Kind kind = DecodeReply(state_, data, size).kind;
  if (kind == DecodedReply::Kind::None) return;
  // The count is in the reply's own bytes; DeviceState keeps only its high byte.
  if (kind == DecodedReply::Kind::Registers) goodFrames_ = static_cast<std::uint16_t>(data[4] | (data[5] << 8));
  ++replies_[data[0]];
  WakeWaiter();
}

bool DriverLink::Request(const std::uint8_t* payload, std::size_t length, std::uint8_t replyCode,
                         int timeoutMs) {
  if (device_ == nullptr) return false;
  const THidCaps caps = device_->GetCapabilities();
  OutputReport report;
  if (!FrameReport(payload, static_cast<std::uint32_t>(length), caps.OutputReportByteLength, report)) {
    return false;
  }
  lastReport_.assign(report.Buffer.begin(), report.Buffer.begin() + static_cast<std::ptrdiff_t>(report.Length));
  const std::uint64_t before = replies_[replyCode];
  std::uint32_t written = 0;
  writeRefused_ = !device_->WriteReport(report.Buffer.data(), report.Length, written);
  if (writeRefused_) return false;

  return WaitFor([&] { return replies_[replyCode] != before; }, timeoutMs);
}

}  // namespace zrv::cli
