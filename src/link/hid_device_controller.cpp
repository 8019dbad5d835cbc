#include "link/hid_device_controller.h"

#include <QMetaObject>
#include <utility>

namespace zrv {

THidDeviceController::THidDeviceController(IHidPlatform& platform, QObject* parent)
    : QObject(parent), platform_(platform) {
  servicesPresent_ = platform_.HidServicesPresent();
  if (servicesPresent_) {
    platform_.SetChangeNotification([this] { HandleNotification(0); });
    // The first scan runs once the event loop runs, after the window has been built and shown.
    QMetaObject::invokeMethod(this, [this] { HandleNotification(-1); }, Qt::QueuedConnection);
  }
}

THidDeviceController::~THidDeviceController() {
  destroying_ = true;
  if (servicesPresent_) platform_.SetChangeNotification(nullptr);
  onDeviceChange_ = nullptr;
  onDeviceUnplug_ = nullptr;
  onEnumerate_ = nullptr;
  // Taken out of the list first: a handler run while a reader stops finds an empty list.
  std::vector<Slot> held = std::move(devices_);
  devices_.clear();
  for (Slot& slot : held) {
    slot.device->controller_ = nullptr;
    if (slot.owned) {
      slot.owned.reset();
    } else {
      slot.device->StopReader();
      slot.device->MarkUnplugged();
    }
  }
  // Waits for writes still under way; every device is unplugged or gone, so they end soon.
  finishing_.clear();
}

void THidDeviceController::KeepUntilFinished(std::unique_ptr<THidReportWriter> writer) {
  ReleaseFinishedWriters();
  finishing_.push_back(std::move(writer));
}

void THidDeviceController::ReleaseFinishedWriters() {
  // Taken out before their last outcomes are delivered: a handler may come back here.
  std::vector<std::unique_ptr<THidReportWriter>> finished;
  for (auto& writer : finishing_) {
    if (writer->Finished()) finished.push_back(std::move(writer));
  }
  std::erase(finishing_, nullptr);
  for (auto& writer : finished) writer->DeliverOutcomes();
}

THidDevice* THidDeviceController::Device(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return devices_[static_cast<std::size_t>(index)].device;
}

std::vector<THidDevice*> THidDeviceController::Devices() const {
  std::vector<THidDevice*> result;
  result.reserve(devices_.size());
  for (const Slot& slot : devices_) result.push_back(slot.device);
  return result;
}

int THidDeviceController::FindSlot(const THidDevice* device) const {
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    if (devices_[i].device == device) return static_cast<int>(i);
  }
  return -1;
}

THidDeviceController::Slot THidDeviceController::MakeSlot(std::unique_ptr<THidDevice> device) {
  Slot slot;
  slot.device = device.get();
  slot.owned = std::move(device);
  slot.serial = nextSerial_++;
  return slot;
}

bool THidDeviceController::SlotHolds(std::size_t index, std::uint64_t serial) const {
  return index < devices_.size() && devices_[index].serial == serial;
}

void THidDeviceController::SetOnDeviceChange(const TNotifyEvent& handler) {
  if (handler == onDeviceChange_) return;
  onDeviceChange_ = handler;
  if (!loading_) DeviceChange();
}

void THidDeviceController::SetOnDeviceData(const THidDataEvent& handler) {
  if (handler == onDeviceData_) return;
  const THidDataEvent old = onDeviceData_;
  // SetOnData may stop a reader and so run handlers that change the list: look at it afresh.
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    THidDevice* device = devices_[i].device;
    if (device->OnData() == old) device->SetOnData(handler);
  }
  onDeviceData_ = handler;
}

void THidDeviceController::SetOnDeviceDataError(const THidDataErrorEvent& handler) {
  if (handler == onDeviceDataError_) return;
  for (Slot& slot : devices_) {
    if (slot.device->OnDataError() == onDeviceDataError_) slot.device->SetOnDataError(handler);
  }
  onDeviceDataError_ = handler;
}

void THidDeviceController::SetOnDeviceUnplug(const THidPlugEvent& handler) {
  if (handler == onDeviceUnplug_) return;
  for (Slot& slot : devices_) {
    if (slot.device->OnUnplug() == onDeviceUnplug_) slot.device->SetOnUnplug(handler);
  }
  onDeviceUnplug_ = handler;
}

void THidDeviceController::SetDevThreadSleepTime(int ms) {
  if (ms == devThreadSleepTime_) return;
  for (Slot& slot : devices_) {
    if (slot.device->ReadSliceTime() == devThreadSleepTime_) slot.device->SetReadSliceTime(ms);
  }
  devThreadSleepTime_ = ms;
}

void THidDeviceController::HandleNotification(int param) {
  if (destroying_ || scanRunning_) return;
  notifyParam_ = param;
  scanRunning_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{scanRunning_};
  DeviceChange();
}

std::vector<std::unique_ptr<THidDevice>> THidDeviceController::ScanPresent() {
  std::vector<std::unique_ptr<THidDevice>> found;
  if (!servicesPresent_) return found;
  std::vector<HidInterfaceInfo> interfaces;
  if (!platform_.EnumerateInterfaces(interfaces)) return found;
  for (const HidInterfaceInfo& info : interfaces) {
    auto plugInfo = std::make_unique<THidPnPInfo>(THidPnPInfo{info.Instance, info.Path});
    try {
      found.push_back(std::make_unique<THidDevice>(platform_, std::move(plugInfo), this));
    } catch (const EControllerError&) {
      // Met again at the next scan.
    }
  }
  return found;
}

void THidDeviceController::DeviceChange() {
  ReleaseFinishedWriters();
  bool changed = notifyParam_ == -1;
  std::vector<std::unique_ptr<THidDevice>> fresh = ScanPresent();

  // Removals, from the last slot to the first. Handlers may hand devices back and so shorten the
  // list; the serial tells whether a slot still holds the object it held before the call.
  for (std::size_t i = devices_.size(); i-- > 0;) {
    if (i >= devices_.size()) continue;
    THidDevice* device = devices_[i].device;
    bool present = false;
    if (device->IsAttached()) {
      for (std::size_t j = fresh.size(); j-- > 0;) {
        if (fresh[j]->PlugInfo()->DeviceInstance == device->PlugInfo()->DeviceInstance) {
          present = true;
          break;
        }
      }
    }
    if (present) continue;
    changed = true;
    const std::uint64_t serial = devices_[i].serial;
    device->MarkUnplugged();
    if (!SlotHolds(i, serial)) continue;
    if (onRemoval_) {
      const THidPlugEvent handler = onRemoval_;
      device->inEventCall_.store(true);
      handler(device);
      if (!SlotHolds(i, serial)) continue;
      device->inEventCall_.store(false);
    }
    if (devices_[i].owned) {
      std::unique_ptr<THidDevice> owned = std::move(devices_[i].owned);
      devices_.erase(devices_.begin() + static_cast<std::ptrdiff_t>(i));
      owned.reset();
    }
  }

  // Duplicates: a device already listed and attached keeps its object.
  for (std::unique_ptr<THidDevice>& candidate : fresh) {
    for (const Slot& slot : devices_) {
      if (slot.device->IsAttached() &&
          slot.device->PlugInfo()->DeviceInstance == candidate->PlugInfo()->DeviceInstance) {
        candidate->controller_ = nullptr;
        candidate.reset();
        break;
      }
    }
  }

  // Arrivals.
  for (std::unique_ptr<THidDevice>& candidate : fresh) {
    if (!candidate) continue;
    THidDevice* device = candidate.get();
    devices_.push_back(MakeSlot(std::move(candidate)));
    const std::uint64_t serial = devices_.back().serial;
    changed = true;
    if (onArrival_) {
      const THidPlugEvent handler = onArrival_;
      device->inEventCall_.store(true);
      handler(device);
      for (const Slot& slot : devices_) {
        if (slot.serial == serial) device->inEventCall_.store(false);
      }
    }
  }

  if (changed && onDeviceChange_) {
    const TNotifyEvent handler = onDeviceChange_;
    handler(this);
  }
}

int THidDeviceController::EnumerateDevices() {
  int count = 0;
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    THidDevice* device = devices_[i].device;
    if (!device->IsAttached()) continue;
    ++count;
    if (!onEnumerate_) return count;
    const THidEnumerateEvent handler = onEnumerate_;
    const std::uint64_t serial = devices_[i].serial;
    device->inEventCall_.store(true);
    const bool goOn = handler(device, static_cast<int>(i));
    if (SlotHolds(i, serial)) {
      device->inEventCall_.store(false);
      if (!device->IsClaimed()) {
        device->CloseQueryHandle();
        device->CloseReadHandle();
      }
    }
    if (!goOn) return count;
  }
  return count;
}

bool THidDeviceController::ClaimByIndex(std::unique_ptr<THidDevice>& device, int index) {
  device.reset();
  if (index < 0 || index >= Count()) return false;
  Slot& slot = devices_[static_cast<std::size_t>(index)];
  if (!slot.owned) return false;
  slot.device->isClaimed_.store(true);
  device = std::move(slot.owned);
  device->StartReaderIfReady();
  return true;
}

void THidDeviceController::HandBack(THidDevice& device, std::unique_ptr<THidPnPInfo> plugInfo,
                                    const THidDataEvent& onData, const THidPlugEvent& onUnplug,
                                    int readSliceTime) {
  const int index = FindSlot(&device);
  if (index < 0) return;
  const auto at = static_cast<std::size_t>(index);
  if (device.IsAttached() && plugInfo) {
    try {
      auto replacement = std::make_unique<THidDevice>(platform_, std::move(plugInfo), this);
      replacement->onData_ = onData;
      replacement->onUnplug_ = onUnplug;
      replacement->readSliceTime_.store(readSliceTime);
      devices_[at] = MakeSlot(std::move(replacement));
      return;
    } catch (const EControllerError&) {
      // Cannot be opened right now: the slot goes, and the next scan finds the device as new.
    }
  }
  devices_.erase(devices_.begin() + index);
}

}  // namespace zrv
