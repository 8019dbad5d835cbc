#include "link/hid_device.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <system_error>

#include "link/hid_device_controller.h"

namespace zrv {

namespace {
// The platform's product-string buffer: 508 bytes, 254 UTF-16 code units.
constexpr std::size_t kProductStringUnits = 254;
}  // namespace

THidDevice::THidDevice(IHidPlatform& platform, std::unique_ptr<THidPnPInfo> plugInfo,
                       THidDeviceController* controller)
    : platform_(platform), controller_(controller), plugInfo_(std::move(plugInfo)) {
  if (!plugInfo_) throw EControllerError(kDeviceCannotBeOpened);
  if (controller_ != nullptr) {
    onData_ = controller_->OnDeviceData();
    onUnplug_ = controller_->OnDeviceUnplug();
  }
  OpenQueryHandleRaw();
  if (queryHandle_ == kInvalidHidHandle) throw EControllerError(kDeviceCannotBeOpened);
  attributes_ = THidAttributes{};
  attributes_.Size = 12;
  if (!platform_.GetAttributes(queryHandle_, attributes_)) {
    CloseQueryHandle();
    throw EControllerError(kDeviceCannotBeIdentified);
  }
  CloseQueryHandle();
}

THidDevice::~THidDevice() {
  const THidDataEvent rememberedData = onData_;
  const THidPlugEvent rememberedUnplug = onUnplug_;
  SetOnData(nullptr);
  onUnplug_ = nullptr;
  RetireWriter();
  CloseQueryHandle();
  CloseReadHandle();
  preparsedData_.reset();
  if (controller_ != nullptr) {
    controller_->HandBack(*this, std::move(plugInfo_), rememberedData, rememberedUnplug,
                          readSliceTime_.load());
  }
}

bool THidDevice::OpenAble() const {
  return isAttached_.load() && (isClaimed_.load() || inEventCall_.load());
}

void THidDevice::OpenQueryHandleRaw() {
  HidHandle handle = platform_.Open(plugInfo_->InterfacePath, HidOpenMode::ReadWrite);
  readWriteAccess_.store(handle != kInvalidHidHandle);
  if (handle == kInvalidHidHandle) handle = platform_.Open(plugInfo_->InterfacePath, HidOpenMode::Identify);
  queryHandle_ = handle;
}

bool THidDevice::OpenQueryHandle() {
  if (OpenAble() && queryHandle_ == kInvalidHidHandle) {
    OpenQueryHandleRaw();
    if (queryHandle_ != kInvalidHidHandle) {
      if (queryBufferCount_ != 0) platform_.SetNumInputBuffers(queryHandle_, queryBufferCount_);
      std::uint32_t count = 0;
      if (platform_.GetNumInputBuffers(queryHandle_, count)) queryBufferCount_ = count;
    }
  }
  return queryHandle_ != kInvalidHidHandle;
}

bool THidDevice::OpenReadHandle() {
  if (OpenAble() && readHandle_.load() == kInvalidHidHandle) {
    const HidHandle handle = platform_.Open(plugInfo_->InterfacePath, HidOpenMode::Read);
    if (handle != kInvalidHidHandle) {
      const std::uint32_t wanted = readBufferCount_.load();
      if (wanted != 0) platform_.SetNumInputBuffers(handle, wanted);
      std::uint32_t count = 0;
      if (platform_.GetNumInputBuffers(handle, count)) readBufferCount_.store(count);
      readHandle_.store(handle);
    }
  }
  return readHandle_.load() != kInvalidHidHandle;
}

void THidDevice::CloseQueryHandle() {
  if (queryHandle_ != kInvalidHidHandle) {
    platform_.Close(queryHandle_);
    queryHandle_ = kInvalidHidHandle;
  }
  queryBufferCount_ = 0;
}

void THidDevice::CloseReadHandle() {
  const HidHandle handle = readHandle_.exchange(kInvalidHidHandle);
  if (handle != kInvalidHidHandle) platform_.Close(handle);
  readBufferCount_.store(0);
}

std::u16string THidDevice::GetProductString() {
  if (productString_.empty() && OpenQueryHandle()) {
    std::array<char16_t, kProductStringUnits> buffer{};
    if (platform_.GetProductString(queryHandle_, buffer.data(), sizeof buffer)) {
      const auto end = std::find(buffer.begin(), buffer.end(), u'\0');
      productString_.assign(buffer.begin(), end);
    }
    CloseQueryHandle();
  }
  return productString_;
}

THidCaps THidDevice::GetCapabilities() {
  THidCaps caps{};
  if (!preparsedData_ && OpenQueryHandle()) {
    HidPreparsedData data;
    if (platform_.GetPreparsedData(queryHandle_, data)) preparsedData_ = data;
    CloseQueryHandle();
  }
  if (preparsedData_) caps = preparsedData_->Caps;
  return caps;
}

bool THidDevice::WriteReport(const std::uint8_t* buffer, std::size_t length, std::uint32_t& written) {
  written = 0;
  if (!OpenQueryHandle()) return false;
  return platform_.Write(queryHandle_, buffer, length, written);
}

THidPostResult THidDevice::PostReport(const std::uint8_t* buffer, std::size_t length,
                                      THidReportWriter::Kind kind, std::uint32_t tag) {
  if (!OpenQueryHandle()) return THidPostResult::Refused;
  if (!writer_) {
    writer_ = std::make_unique<THidReportWriter>(platform_);
    SetOnWriteDone(onWriteDone_);
  }
  // The handle stays valid for the writer even if it is closed meanwhile: the platform then
  // refuses the write, and never hands the number out again.
  switch (writer_->Post(queryHandle_, buffer, length, kind, tag)) {
    case THidReportWriter::Posted::Taken:
      return THidPostResult::Taken;
    case THidReportWriter::Posted::Dropped:
      return THidPostResult::Dropped;
    case THidReportWriter::Posted::Full:
      break;
  }
  return THidPostResult::Refused;
}

void THidDevice::SetOnWriteDone(const THidWriteDoneEvent& handler) {
  onWriteDone_ = handler;
  if (!writer_) return;
  if (handler) {
    writer_->SetOnDone([handler](std::uint32_t tag, bool written) { handler(tag, written); });
  } else {
    writer_->SetOnDone(nullptr);
  }
}

void THidDevice::RetireWriter() {
  if (!writer_) return;
  writer_->Retire();
  if (controller_ != nullptr) {
    if (writer_->Busy()) {
      controller_->KeepUntilFinished(std::move(writer_));
      return;
    }
    // Idle: every outcome is gathered already; those the event loop has not delivered yet go
    // now. (Without a controller the device outlives its window: nobody is left to tell.)
    writer_->DeliverOutcomes();
  }
  writer_.reset();  // an idle writer ends at once
}

void THidDevice::SetOnData(const THidDataEvent& handler) {
  if (!handler) StopReader();
  onData_ = handler;
  StartReaderIfReady();
}

void THidDevice::SetReadSliceTime(int ms) {
  if (ms >= kMinReadSliceTime && ms <= kMaxReadSliceTime) readSliceTime_.store(ms);
}

void THidDevice::MarkUnplugged() {
  // Cleared before the handles are closed, so a running reader cannot open a new one in between.
  isAttached_.store(false);
  CloseQueryHandle();
  CloseReadHandle();
  const THidPlugEvent handler = onUnplug_;
  onUnplug_ = nullptr;
  if (handler) handler(this);
}

void THidDevice::StartReaderIfReady() {
  if (onData_ && isAttached_.load() && isClaimed_.load() && readWriteAccess_.load() && !reader_) {
    reader_ = std::make_shared<THidDeviceReadThread>(*this);
    reader_->Start();
  }
}

void THidDevice::StopReader() {
  if (!reader_) return;
  const std::shared_ptr<THidDeviceReadThread> reader = reader_;
  reader->Stop();
  if (reader_ == reader) reader_.reset();
}

// ---------------------------------------------------------------------------------------------

THidDeviceReadThread::THidDeviceReadThread(THidDevice& device)
    : device_(device),
      reportBuffer_(device.GetCapabilities().InputReportByteLength),
      wakeup_([this] { OnWakeup(); }) {}

THidDeviceReadThread::~THidDeviceReadThread() {
  if (thread_.joinable()) Stop();
}

void THidDeviceReadThread::Start() {
  thread_ = std::thread([this] { Run(); });
}

void THidDeviceReadThread::Run() {
  IHidPlatform& platform = device_.platform_;
  while (!stopRequested_.load()) {
    std::fill(reportBuffer_.begin(), reportBuffer_.end(), std::uint8_t{0});
    device_.OpenReadHandle();
    const HidHandle handle = device_.ReadHandle();
    std::uint32_t error = 0;
    if (!platform.StartRead(handle, reportBuffer_.data(), reportBuffer_.size(), error)) {
      lastError_.store(error);
      HandOff(Pending::Error);
      // Not at once: a device that is gone fails every start, and retrying without a pause would
      // keep a core busy until the holder lets the device go.
      PauseOneSlice();
      continue;
    }
    bool completed = false;
    while (!stopRequested_.load()) {
      if (platform.WaitRead(handle, device_.ReadSliceTime()) == HidWaitResult::Completed) {
        completed = true;
        break;
      }
    }
    if (stopRequested_.load()) {
      if (!completed) platform.CancelRead(handle);
      break;
    }
    std::uint32_t bytes = 0;
    if (!platform.GetReadResult(handle, bytes)) bytes = 0;
    bytes = std::min<std::uint32_t>(bytes, static_cast<std::uint32_t>(reportBuffer_.size()));
    bytesRead_.store(bytes);
    if (bytes > 0) {
      HandOff(Pending::Data);
    } else {
      // A read that ends empty at once (a gone device, an empty buffer) must not spin either.
      PauseOneSlice();
    }
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
  }
  changed_.notify_all();
}

void THidDeviceReadThread::HandOff(Pending kind) {
  handOffs_.fetch_add(1, std::memory_order_relaxed);
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    pending_ = kind;
    released_ = false;
  }
  changed_.notify_all();  // a Stop waiting on the UI thread serves it itself
  wakeup_.Signal();
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return pending_ == Pending::None || released_; });
}

void THidDeviceReadThread::PauseOneSlice() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(device_.ReadSliceTime()),
                    [this] { return stopRequested_.load(); });
}

void THidDeviceReadThread::OnWakeup() {
  // Held for the whole call: the handler may stop this reader and its device may drop it.
  const std::shared_ptr<THidDeviceReadThread> self = shared_from_this();
  Serve();
}

void THidDeviceReadThread::Serve() {
  Pending kind = Pending::None;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (pending_ == Pending::None || serving_) return;
    kind = pending_;
    serving_ = true;
  }
  // Completes the hand-off however the handler ends. Touches only this object: the handler may
  // have destroyed the device.
  struct Done {
    THidDeviceReadThread& reader;
    ~Done() {
      {
        const std::lock_guard<std::mutex> lock(reader.mutex_);
        reader.pending_ = Pending::None;
        reader.serving_ = false;
      }
      reader.changed_.notify_all();
    }
  } done{*this};

  THidDevice* const device = &device_;
  if (kind == Pending::Data) {
    const THidDataEvent handler = device->onData_;
    if (handler) {
      const std::uint32_t bytes = bytesRead_.load();
      handler(device, reportBuffer_[0], reportBuffer_.data() + 1, static_cast<std::uint16_t>(bytes - 1));
      TakeQueuedReports();
    }
  } else {
    const THidDataErrorEvent handler = device->onDataError_;
    if (handler) handler(device, lastError_.load());
  }
}

void THidDeviceReadThread::TakeQueuedReports() {
  for (int taken = 0; taken < kMaxQueuedReportsPerWake; ++taken) {
    // A stop may come from a handler; the device stops its reader before it goes, so without a
    // stop request the device is still there. Nothing of it may be touched before this check.
    if (stopRequested_.load()) return;
    IHidPlatform& platform = device_.platform_;
    const THidDataEvent handler = device_.onData_;
    const HidHandle handle = device_.ReadHandle();
    if (!handler || handle == kInvalidHidHandle) return;
    std::fill(reportBuffer_.begin(), reportBuffer_.end(), std::uint8_t{0});
    std::uint32_t bytes = 0;
    if (!platform.ReadQueued(handle, reportBuffer_.data(), reportBuffer_.size(), bytes)) return;
    bytes = std::min<std::uint32_t>(bytes, static_cast<std::uint32_t>(reportBuffer_.size()));
    if (bytes == 0) return;
    bytesRead_.store(bytes);
    handler(&device_, reportBuffer_[0], reportBuffer_.data() + 1, static_cast<std::uint16_t>(bytes - 1));
  }
}

void THidDeviceReadThread::Stop() {
  std::unique_lock<std::mutex> lock(mutex_);
  stopRequested_.store(true);
  changed_.notify_all();  // ends a pause between failed reads
  while (!finished_) {
    if (pending_ != Pending::None) {
      if (serving_) {
        // Stopped from inside its own handler (a nested event loop): that call is further up the
        // stack and cannot be finished here. Let the reader go; it ends at its stop check without
        // touching the buffer, which stays alive until that call returns.
        released_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return finished_; });
        break;
      }
      lock.unlock();
      try {
        Serve();
      } catch (...) {
        // Nobody above can take it: the caller may be a destructor.
      }
      lock.lock();
      continue;
    }
    changed_.wait(lock, [this] { return finished_ || pending_ != Pending::None; });
  }
  lock.unlock();
  if (thread_.joinable()) thread_.join();
}

}  // namespace zrv
