#include "driver_requests.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QString>

#include "cli_options.h"
#include "protocol/reply_decoder.h"

namespace zrv::cli {

std::string ProductText(const DeviceEntry& device) {
  return QString::fromStdU16String(device.Product).toStdString();
}

DriverRequests::DriverRequests(DriverSession& session) : session_(session) {
  deadline_.setSingleShot(true);
  QObject::connect(&deadline_, &QTimer::timeout, [this] {
    deadlinePassed_ = true;
    WakeWaiter();
  });
  QObject::connect(&session_, &DriverSession::ScanEnded, &deadline_, [] { WakeWaiter(); });
  QObject::connect(&session_, &DriverSession::ReplyArrived, &deadline_, [] { WakeWaiter(); });
  // Only a refusal ends a wait; a written report waits on for its reply.
  QObject::connect(&session_, &DriverSession::ReportWritten, &deadline_, [this](std::uint32_t tag, bool written) {
    if (written) return;
    refusedTag_ = tag;
    WakeWaiter();
  });
}

void DriverRequests::WakeWaiter() {
  // The waits below run processEvents(WaitForMoreEvents) until their condition holds. On Windows
  // the dispatcher delivers posted events (precise timers, the reply's wake-up) when the call
  // starts, and those do not count as work done: if such an event ends the wait, the call goes on
  // to sleep until some other message comes, which may be never. Waking the dispatcher makes the
  // call return so that the loop sees its condition.
  if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) dispatcher->wakeUp();
}

bool DriverRequests::WaitFor(const std::function<bool()>& done, int ms) {
  // One timer for every wait: at 25 readings a second, making and unmaking timer and loop objects
  // is a visible share of the cost.
  deadlinePassed_ = false;
  deadline_.start(ms);
  while (!done() && !deadlinePassed_) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  deadline_.stop();
  return done();
}

void DriverRequests::Discover() {
  if (!session_.Platform().HidServicesPresent()) return;
  while (!session_.Scanned()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

std::vector<DeviceEntry> DriverRequests::Drivers() const {
  std::vector<DeviceEntry> drivers;
  for (const DeviceEntry& e : Devices()) {
    if (e.IsDriver) drivers.push_back(e);
  }
  return drivers;
}

int DriverRequests::Choose(const std::string& deviceArg, std::string& message) {
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
    for (const DeviceEntry& e : Devices()) {
      if (e.Node == deviceArg || std::to_string(e.Index) == deviceArg) match = &e;
    }
    if (match == nullptr) {
      message = "no HID device " + deviceArg + " (see `zrv-cli list`)";
      return kExitNoDriver;
    }
    if (!match->IsDriver) {
      message = deviceArg + " is not a driver: its product string is \"" + ProductText(*match) + "\"";
      return kExitNoDriver;
    }
    chosen_ = *match;
  }
  if (!chosen_.ReadWrite || !Use(chosen_)) {
    message = "no read/write access to " + chosen_.Node;
    return kExitNoAccess;
  }
  return kExitOk;
}

bool DriverRequests::Use(const DeviceEntry& entry) {
  chosen_ = entry;
  return session_.Use(entry.Index);
}

bool DriverRequests::ChosenAttached() const {
  const THidDevice* device = session_.CurrentDevice();
  return device != nullptr && device->IsAttached();
}

bool DriverRequests::WaitUntilGone(int ms) {
  WaitFor([&] { return !ChosenAttached(); }, ms);
  return !ChosenAttached();
}

bool DriverRequests::Request(const std::uint8_t* payload, std::size_t length, std::uint8_t replyCode,
                             int timeoutMs) {
  const std::uint64_t before = session_.Replies(static_cast<CommandCode>(replyCode));
  // Tag 0 asks for no outcome.
  if (++lastTag_ == 0) lastTag_ = 1;
  const std::uint32_t tag = lastTag_;
  // Not taken by the writer: as good as refused.
  writeRefused_ = !session_.SendTagged(payload, static_cast<std::uint32_t>(length), tag);
  if (writeRefused_) return false;
  const bool answered = WaitFor(
      [&] { return session_.Replies(static_cast<CommandCode>(replyCode)) != before || refusedTag_ == tag; },
      timeoutMs);
  writeRefused_ = refusedTag_ == tag;
  return answered && !writeRefused_;
}

}  // namespace zrv::cli
