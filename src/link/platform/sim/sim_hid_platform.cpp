#include "link/platform/sim/sim_hid_platform.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <algorithm>
#include <chrono>
#include <cstring>

namespace zrv {

namespace sim_detail {

struct Handle {
  std::shared_ptr<SimHidDevice> device;
  HidOpenMode mode = HidOpenMode::Identify;
  enum class Read { Idle, Pending, Done } read = Read::Idle;
  std::uint8_t* buffer = nullptr;
  std::size_t length = 0;
  std::uint32_t bytes = 0;
  bool ok = false;
  std::condition_variable done;
};

struct Core {
  mutable std::mutex mutex;
  std::vector<std::shared_ptr<SimHidDevice>> present;
  std::unordered_map<HidHandle, std::shared_ptr<Handle>> handles;
  HidHandle nextHandle = 1;
  bool servicesPresent = true;
  bool enumerationFails = false;
  int enumerations = 0;
  int notificationsDelivered = 0;
  std::function<void()> onChange;
  std::condition_variable writeStall;  // a stalled write waits here
  std::unique_ptr<QObject> context;  // lives on the thread that registered onChange

  Handle* Find(HidHandle id) const {
    const auto it = handles.find(id);
    return it == handles.end() ? nullptr : it->second.get();
  }
  static void Complete(Handle& handle, bool ok, std::uint32_t bytes) {
    handle.ok = ok;
    handle.bytes = bytes;
    handle.read = Handle::Read::Done;
    handle.done.notify_all();
  }
  static void DropPending(std::vector<Handle*>& pending, Handle* handle) {
    pending.erase(std::remove(pending.begin(), pending.end(), handle), pending.end());
  }
};

// Receives change notices on the thread that registered the callback. A notice is a plain event,
// made and queued inside Qt, so the posting thread hands nothing of its own across: the callback
// is read under the core mutex here. (A queued functor would carry its captures across threads
// behind Qt's internal locking, which a thread checker does not see.)
class ChangeReceiver final : public QObject {
 public:
  static constexpr QEvent::Type kChangeEvent = static_cast<QEvent::Type>(QEvent::User + 0x51);

  explicit ChangeReceiver(std::weak_ptr<Core> core) : core_(std::move(core)) {}

  bool event(QEvent* e) override {
    const std::shared_ptr<Core> core = core_.lock();
    bool change = false;
    std::function<void()> callback;
    if (core) {
      // The event is looked at under the core mutex, which its poster held while making it.
      const std::lock_guard<std::mutex> lock(core->mutex);
      change = e->type() == kChangeEvent;
      // A notice posted before the callback was replaced or cleared is dropped.
      if (change && core->context.get() == this && core->onChange) {
        callback = core->onChange;
        ++core->notificationsDelivered;
      }
    }
    if (!change) return QObject::event(e);
    if (callback) callback();
    return true;
  }

 private:
  std::weak_ptr<Core> core_;
};

}  // namespace sim_detail

using sim_detail::Core;
using sim_detail::Handle;

// ---------------------------------------------------------------------------------------------

SimHidDevice::SimHidDevice(std::shared_ptr<Core> core, SimHidDeviceConfig config,
                           std::shared_ptr<ISimHidModel> model)
    : core_(std::move(core)), config_(std::move(config)), model_(std::move(model)) {
  slotSize_ = std::max<std::size_t>(config_.InputReportByteLength, 1);
  ResizeQueue(std::max<std::uint32_t>(config_.InputQueueCapacity, 1));
  pendingReads_.reserve(4);
}

SimHidDevice::~SimHidDevice() = default;

void SimHidDevice::ResizeQueue(std::uint32_t capacity) {
  ring_.assign(slotSize_ * capacity, 0);
  ringLengths_.assign(capacity, 0);
  ringHead_ = 0;
  ringCount_ = 0;
  config_.InputQueueCapacity = capacity;
}

void SimHidDevice::PushQueue(const std::uint8_t* report, std::size_t length) {
  const std::size_t capacity = ringLengths_.size();
  if (ringCount_ == capacity) {  // full: the oldest report goes
    ringHead_ = (ringHead_ + 1) % capacity;
    --ringCount_;
    ++dropped_;
  }
  const std::size_t slot = (ringHead_ + ringCount_) % capacity;
  std::memcpy(ring_.data() + slot * slotSize_, report, length);
  ringLengths_[slot] = static_cast<std::uint32_t>(length);
  ++ringCount_;
}

bool SimHidDevice::PopQueue(std::uint8_t* buffer, std::size_t capacity, std::uint32_t& bytes) {
  if (ringCount_ == 0) return false;
  const std::size_t n = std::min<std::size_t>(ringLengths_[ringHead_], capacity);
  if (n > 0) std::memcpy(buffer, ring_.data() + ringHead_ * slotSize_, n);
  bytes = static_cast<std::uint32_t>(n);
  ringHead_ = (ringHead_ + 1) % ringLengths_.size();
  --ringCount_;
  return true;
}

void SimHidDevice::InjectInputReport(const std::uint8_t* report, std::size_t length) {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  if (!plugged_) {
    ++dropped_;
    return;
  }
  const std::size_t n = std::min(length, slotSize_);
  if (!pendingReads_.empty()) {
    Handle* reader = pendingReads_.front();
    pendingReads_.erase(pendingReads_.begin());
    const std::size_t copied = std::min(n, reader->length);
    if (copied > 0) std::memcpy(reader->buffer, report, copied);
    Core::Complete(*reader, true, static_cast<std::uint32_t>(copied));
    return;
  }
  PushQueue(report, n);
}

void SimHidDevice::SetModel(std::shared_ptr<ISimHidModel> model) {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  model_ = std::move(model);
}

void SimHidDevice::SetFailWrites(bool fail) {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  config_.FailWrites = fail;
}

void SimHidDevice::SetRefuseReadWrite(bool refuse) {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  config_.RefuseReadWrite = refuse;
}

void SimHidDevice::SetRefuseOpen(bool refuse) {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  config_.RefuseOpen = refuse;
}

void SimHidDevice::SetFailIdentify(bool fail) {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  config_.FailIdentify = fail;
}

void SimHidDevice::SetProductString(const std::u16string& text) {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  config_.ProductString = text;
}

void SimHidDevice::SetWriteStall(int ms) {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  config_.WriteStallMs = ms;
}

void SimHidDevice::ReleaseStalledWrites() {
  {
    const std::lock_guard<std::mutex> lock(core_->mutex);
    ++stallReleases_;
  }
  core_->writeStall.notify_all();
}

#define ZRV_SIM_READ(expr)                                \
  const std::lock_guard<std::mutex> lock(core_->mutex); \
  return (expr)

bool SimHidDevice::Plugged() const { ZRV_SIM_READ(plugged_); }
int SimHidDevice::WriteCount() const { ZRV_SIM_READ(writes_); }
int SimHidDevice::WriteAttempts() const { ZRV_SIM_READ(writeAttempts_); }
int SimHidDevice::OpenCount() const { ZRV_SIM_READ(opens_[0] + opens_[1] + opens_[2]); }
int SimHidDevice::OpenCount(HidOpenMode mode) const { ZRV_SIM_READ(opens_[static_cast<int>(mode)]); }
int SimHidDevice::CloseCount() const { ZRV_SIM_READ(closes_); }
int SimHidDevice::OpenHandleCount() const { ZRV_SIM_READ(openHandles_); }
int SimHidDevice::ProductStringQueries() const { ZRV_SIM_READ(productStringQueries_); }
int SimHidDevice::PreparsedDataQueries() const { ZRV_SIM_READ(preparsedQueries_); }
int SimHidDevice::DroppedInputReports() const { ZRV_SIM_READ(dropped_); }
int SimHidDevice::QueuedInputReports() const { ZRV_SIM_READ(static_cast<int>(ringCount_)); }
int SimHidDevice::WaitingReads() const { ZRV_SIM_READ(waiting_); }
int SimHidDevice::StalledWrites() const { ZRV_SIM_READ(stalledWrites_); }
std::vector<std::vector<std::uint8_t>> SimHidDevice::WrittenReports() const { ZRV_SIM_READ(written_); }

#undef ZRV_SIM_READ

// ---------------------------------------------------------------------------------------------

SimHidPlatform::SimHidPlatform() : core_(std::make_shared<Core>()) {}

SimHidPlatform::~SimHidPlatform() {
  std::unique_ptr<QObject> context;
  {
    const std::lock_guard<std::mutex> lock(core_->mutex);
    for (auto& [id, handle] : core_->handles) {
      if (handle->read == Handle::Read::Pending) Core::Complete(*handle, false, 0);
      handle->device->pendingReads_.clear();
    }
    core_->handles.clear();
    for (auto& device : core_->present) device->plugged_ = false;
    core_->present.clear();
    core_->writeStall.notify_all();
    core_->onChange = nullptr;
    context = std::move(core_->context);
  }
}

std::shared_ptr<SimHidDevice> SimHidPlatform::Plug(SimHidDeviceConfig config,
                                                   std::shared_ptr<ISimHidModel> model) {
  auto device = std::make_shared<SimHidDevice>(core_, std::move(config), std::move(model));
  const std::lock_guard<std::mutex> lock(core_->mutex);
  core_->present.push_back(device);
  PostChange();
  return device;
}

void SimHidPlatform::Unplug(const std::shared_ptr<SimHidDevice>& device) {
  if (!device) return;
  const std::lock_guard<std::mutex> lock(core_->mutex);
  auto& present = core_->present;
  const auto it = std::find(present.begin(), present.end(), device);
  if (it == present.end()) return;
  present.erase(it);
  device->plugged_ = false;
  for (Handle* reader : device->pendingReads_) Core::Complete(*reader, false, 0);
  device->pendingReads_.clear();
  device->ringCount_ = 0;
  core_->writeStall.notify_all();  // a stalled write is refused now
  PostChange();
}

void SimHidPlatform::AnnounceChange() {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  PostChange();
}

void SimHidPlatform::PostChange() {
  if (!core_->context || !core_->onChange) return;
  QCoreApplication::postEvent(core_->context.get(), new QEvent(sim_detail::ChangeReceiver::kChangeEvent));
}

void SimHidPlatform::SetHidServicesPresent(bool present) {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  core_->servicesPresent = present;
}

void SimHidPlatform::SetEnumerationFails(bool fail) {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  core_->enumerationFails = fail;
}

std::vector<std::shared_ptr<SimHidDevice>> SimHidPlatform::Present() const {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  return core_->present;
}

int SimHidPlatform::EnumerationCount() const {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  return core_->enumerations;
}

int SimHidPlatform::NotificationsDelivered() const {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  return core_->notificationsDelivered;
}

bool SimHidPlatform::ChangeWatchActive() const {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  return static_cast<bool>(core_->onChange);
}

bool SimHidPlatform::HidServicesPresent() const {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  return core_->servicesPresent;
}

bool SimHidPlatform::EnumerateInterfaces(std::vector<HidInterfaceInfo>& out) {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  ++core_->enumerations;
  out.clear();
  if (core_->enumerationFails) return false;
  for (const auto& device : core_->present) {
    out.push_back(HidInterfaceInfo{device->config_.Path, device->config_.Instance});
  }
  return true;
}

HidHandle SimHidPlatform::Open(const std::string& path, HidOpenMode mode) {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  for (const auto& device : core_->present) {
    if (device->config_.Path != path) continue;
    const SimHidDeviceConfig& config = device->config_;
    if (config.RefuseOpen) return kInvalidHidHandle;
    if (mode != HidOpenMode::Identify && config.RefuseReadWrite) return kInvalidHidHandle;
    auto handle = std::make_shared<Handle>();
    handle->device = device;
    handle->mode = mode;
    const HidHandle id = core_->nextHandle++;
    core_->handles.emplace(id, std::move(handle));
    ++device->opens_[static_cast<int>(mode)];
    ++device->openHandles_;
    return id;
  }
  return kInvalidHidHandle;
}

void SimHidPlatform::Close(HidHandle id) {
  std::shared_ptr<Handle> handle;
  {
    const std::lock_guard<std::mutex> lock(core_->mutex);
    const auto it = core_->handles.find(id);
    if (it == core_->handles.end()) return;
    handle = it->second;
    core_->handles.erase(it);
    SimHidDevice& device = *handle->device;
    if (handle->read == Handle::Read::Pending) {
      Core::DropPending(device.pendingReads_, handle.get());
      Core::Complete(*handle, false, 0);
    }
    ++device.closes_;
    --device.openHandles_;
  }
}

bool SimHidPlatform::GetAttributes(HidHandle id, THidAttributes& out) {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  const Handle* handle = core_->Find(id);
  if (handle == nullptr || !handle->device->plugged_) return false;
  const SimHidDeviceConfig& config = handle->device->config_;
  if (config.FailIdentify) return false;
  out.VendorID = config.VendorID;
  out.ProductID = config.ProductID;
  out.VersionNumber = config.VersionNumber;
  return true;
}

bool SimHidPlatform::GetProductString(HidHandle id, char16_t* buffer, std::size_t bytes) {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  const Handle* handle = core_->Find(id);
  if (handle == nullptr || !handle->device->plugged_) return false;
  SimHidDevice& device = *handle->device;
  ++device.productStringQueries_;
  if (device.config_.FailProductString) return false;
  const std::size_t units = bytes / sizeof(char16_t);
  if (units == 0) return false;
  const std::u16string& text = device.config_.ProductString;
  const std::size_t n = std::min(text.size(), units);
  std::copy_n(text.data(), n, buffer);
  if (n < units) buffer[n] = u'\0';  // a string that fills the buffer has no terminator
  return true;
}

bool SimHidPlatform::GetPreparsedData(HidHandle id, HidPreparsedData& out) {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  const Handle* handle = core_->Find(id);
  if (handle == nullptr || !handle->device->plugged_) return false;
  SimHidDevice& device = *handle->device;
  ++device.preparsedQueries_;
  const SimHidDeviceConfig& config = device.config_;
  if (config.FailPreparsedData) return false;
  out.Caps = THidCaps{};
  out.Caps.Usage = config.Usage;
  out.Caps.UsagePage = config.UsagePage;
  out.Caps.InputReportByteLength = config.InputReportByteLength;
  out.Caps.OutputReportByteLength = config.OutputReportByteLength;
  return true;
}

bool SimHidPlatform::SetNumInputBuffers(HidHandle id, std::uint32_t count) {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  const Handle* handle = core_->Find(id);
  if (handle == nullptr || !handle->device->plugged_) return false;
  if (count < 2 || count > 512) return false;
  if (count != handle->device->config_.InputQueueCapacity) handle->device->ResizeQueue(count);
  return true;
}

bool SimHidPlatform::GetNumInputBuffers(HidHandle id, std::uint32_t& count) {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  const Handle* handle = core_->Find(id);
  if (handle == nullptr || !handle->device->plugged_) return false;
  count = handle->device->config_.InputQueueCapacity;
  return true;
}

bool SimHidPlatform::Write(HidHandle id, const std::uint8_t* buffer, std::size_t length,
                           std::uint32_t& written) {
  written = 0;
  std::shared_ptr<SimHidDevice> device;
  std::shared_ptr<ISimHidModel> model;
  {
    std::unique_lock<std::mutex> lock(core_->mutex);
    const Handle* handle = core_->Find(id);
    if (handle == nullptr) return false;
    device = handle->device;
    ++device->writeAttempts_;
    if (handle->mode != HidOpenMode::ReadWrite || !device->plugged_ || device->config_.FailWrites) {
      return false;
    }
    if (device->config_.WriteStallMs > 0) {
      const std::uint64_t releases = device->stallReleases_;
      ++device->stalledWrites_;
      const bool released = core_->writeStall.wait_for(
          lock, std::chrono::milliseconds(device->config_.WriteStallMs),
          [&] { return !device->plugged_ || device->stallReleases_ != releases; });
      --device->stalledWrites_;
      if (!released || !device->plugged_) return false;
    }
    const SimWriteCount count = device->config_.ReportedWriteCount;
    const std::size_t missing = count == SimWriteCount::Whole ? 0 : count == SimWriteCount::Short ? 2 : 1;
    written = static_cast<std::uint32_t>(length > missing ? length - missing : 0);
    if (!WholeReportWritten(length, written)) return false;  // a cut report reaches no one
    ++device->writes_;
    if (device->config_.RecordWrites) device->written_.emplace_back(buffer, buffer + length);
    model = device->model_;
  }
  // Outside the lock: the model may inject replies from here.
  if (model) model->OnOutputReport(*device, buffer, length);
  return true;
}

bool SimHidPlatform::StartRead(HidHandle id, std::uint8_t* buffer, std::size_t length,
                               std::uint32_t& error) {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  Handle* handle = core_->Find(id);
  if (handle == nullptr || handle->mode != HidOpenMode::Read) {
    error = kErrorInvalidHandle;
    return false;
  }
  SimHidDevice& device = *handle->device;
  if (!device.plugged_) {
    error = kErrorDeviceNotConnected;
    return false;
  }
  if (handle->read == Handle::Read::Pending) {
    error = kErrorBusy;
    return false;
  }
  handle->buffer = buffer;
  handle->length = length;
  handle->read = Handle::Read::Pending;
  std::uint32_t bytes = 0;
  if (device.PopQueue(buffer, length, bytes)) {
    Core::Complete(*handle, true, bytes);
  } else {
    device.pendingReads_.push_back(handle);
  }
  return true;
}

HidWaitResult SimHidPlatform::WaitRead(HidHandle id, int sliceMs) {
  std::unique_lock<std::mutex> lock(core_->mutex);
  const auto it = core_->handles.find(id);
  if (it == core_->handles.end()) return HidWaitResult::Completed;  // closed: the read is over
  const std::shared_ptr<Handle> handle = it->second;
  const std::shared_ptr<SimHidDevice> device = handle->device;
  ++device->waiting_;
  handle->done.wait_for(lock, std::chrono::milliseconds(std::max(sliceMs, 0)),
                        [&] { return handle->read != Handle::Read::Pending; });
  --device->waiting_;
  return handle->read == Handle::Read::Pending ? HidWaitResult::Pending : HidWaitResult::Completed;
}

bool SimHidPlatform::GetReadResult(HidHandle id, std::uint32_t& bytesRead) {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  bytesRead = 0;
  Handle* handle = core_->Find(id);
  if (handle == nullptr || handle->read != Handle::Read::Done) return false;
  handle->read = Handle::Read::Idle;
  if (!handle->ok) return false;
  bytesRead = handle->bytes;
  return true;
}

void SimHidPlatform::CancelRead(HidHandle id) {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  Handle* handle = core_->Find(id);
  if (handle == nullptr || handle->read != Handle::Read::Pending) return;
  Core::DropPending(handle->device->pendingReads_, handle);
  handle->read = Handle::Read::Idle;
  handle->buffer = nullptr;
  handle->done.notify_all();  // a waiter sees the read over
}

bool SimHidPlatform::ReadQueued(HidHandle id, std::uint8_t* buffer, std::size_t length,
                                std::uint32_t& bytesRead) {
  const std::lock_guard<std::mutex> lock(core_->mutex);
  bytesRead = 0;
  const Handle* handle = core_->Find(id);
  if (handle == nullptr || handle->mode != HidOpenMode::Read ||
      handle->read == Handle::Read::Pending || buffer == nullptr || length == 0) {
    return false;
  }
  SimHidDevice& device = *handle->device;
  if (!device.plugged_) return false;
  std::uint32_t bytes = 0;
  if (!device.PopQueue(buffer, length, bytes)) return false;
  bytesRead = bytes;
  return bytes > 0;
}

void SimHidPlatform::SetChangeNotification(std::function<void()> onChange) {
  std::unique_ptr<QObject> old;
  const std::lock_guard<std::mutex> lock(core_->mutex);
  core_->onChange = std::move(onChange);
  old = std::move(core_->context);
  if (core_->onChange) core_->context = std::make_unique<sim_detail::ChangeReceiver>(core_);
}

}  // namespace zrv
