// One HID interface as a device object: identity, report lengths, a blocking write of one output
// report or the same write handed to a writer thread of the device's own, and a reader thread
// that hands every input report to a handler on the UI thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "link/bound_event.h"
#include "link/hid_report_writer.h"
#include "link/platform/hid_platform.h"
#include "link/thread_wakeup.h"

namespace zrv {

class THidDevice;
class THidDeviceController;

// Raised only when a device object cannot be made.
class EControllerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr const char* kDeviceCannotBeOpened = "Device cannot be opened";
inline constexpr const char* kDeviceCannotBeIdentified = "Device cannot be identified";

// Receives every input report: the report ID split off, Data = the bytes after it, Size = their
// count. Data is valid only during the call.
using THidDataEvent =
    TEvent<void(THidDevice* HidDev, std::uint8_t ReportID, const std::uint8_t* Data, std::uint16_t Size)>;
// Receives the platform error code of a read that failed to start.
using THidDataErrorEvent = TEvent<void(THidDevice* HidDev, std::uint32_t Error)>;
using THidPlugEvent = TEvent<void(THidDevice* HidDev)>;
// Receives the outcome of a report posted with a non-zero tag: written, or not (refused, or the
// device went away first). May come after the device object is gone.
using THidWriteDoneEvent = TEvent<void(std::uint32_t Tag, bool Written)>;

enum class THidPostResult {
  Taken,    // the device's writer has it
  Dropped,  // a poll while an earlier report is still on its way
  Refused,  // not open-able, or the writer cannot take more
};

// The plug-and-play identity a device object is made from.
struct THidPnPInfo {
  std::uint32_t DeviceInstance = 0;  // equal exactly when two objects stand for the same device
  std::string InterfacePath;         // the device is opened by this and nothing else
};

class THidDeviceReadThread;

class THidDevice {
 public:
  // Opens the device to learn its access rights and attributes, then closes it again.
  // Throws EControllerError when it cannot be opened or identified. The platform must outlive the
  // object; `controller` may be null (then destruction hands nothing back).
  THidDevice(IHidPlatform& platform, std::unique_ptr<THidPnPInfo> plugInfo,
             THidDeviceController* controller);
  // For a claimed device this is how its holder hands it back to the controller.
  ~THidDevice();
  THidDevice(const THidDevice&) = delete;
  THidDevice& operator=(const THidDevice&) = delete;

  // Identity and state, read as stored.
  const THidAttributes& HidAttributes() const { return attributes_; }
  bool ReadWriteAccess() const { return readWriteAccess_.load(); }
  bool IsAttached() const { return isAttached_.load(); }
  bool IsClaimed() const { return isClaimed_.load(); }
  bool InEventCall() const { return inEventCall_.load(); }
  const THidPnPInfo* PlugInfo() const { return plugInfo_.get(); }
  THidDeviceController* Controller() const { return controller_; }

  // Cached after the first non-empty answer; an empty answer is asked for again next time.
  std::u16string GetProductString();
  // All zero when the report descriptor cannot be had. Report lengths count the report ID byte.
  THidCaps GetCapabilities();

  // Open only while the device is open-able: attached, and claimed or inside a controller event.
  bool OpenQueryHandle();
  bool OpenReadHandle();
  void CloseQueryHandle();
  void CloseReadHandle();
  HidHandle QueryHandle() const { return queryHandle_; }
  HidHandle ReadHandle() const { return readHandle_.load(); }

  // Input-buffer counts wanted at the next open (0 leaves the platform's own); after an open, the
  // count the platform reports.
  std::uint32_t QueryBufferCount() const { return queryBufferCount_; }
  void SetQueryBufferCount(std::uint32_t count) { queryBufferCount_ = count; }
  std::uint32_t ReadBufferCount() const { return readBufferCount_.load(); }
  void SetReadBufferCount(std::uint32_t count) { readBufferCount_.store(count); }

  // One whole output report (report ID byte first), synchronously. False, without opening
  // anything, when the device is not open-able.
  bool WriteReport(const std::uint8_t* buffer, std::size_t length, std::uint32_t& written);
  // The same report handed to the device's writer thread: returns at once, whatever the device
  // does with it. Opens QueryHandle as WriteReport does. No allocation after the first post.
  THidPostResult PostReport(const std::uint8_t* buffer, std::size_t length,
                            THidReportWriter::Kind kind, std::uint32_t tag = 0);
  // A posted report is still being written or waits to be.
  bool WritesPending() const { return writer_ && writer_->Busy(); }
  const THidReportWriter* Writer() const { return writer_.get(); }
  const THidWriteDoneEvent& OnWriteDone() const { return onWriteDone_; }
  void SetOnWriteDone(const THidWriteDoneEvent& handler);

  const THidDataEvent& OnData() const { return onData_; }
  // Clearing stops the reader first and returns only after it has ended; no call of the old
  // handler follows. Setting a handler starts a reader when every start condition holds.
  void SetOnData(const THidDataEvent& handler);
  const THidDataErrorEvent& OnDataError() const { return onDataError_; }
  void SetOnDataError(const THidDataErrorEvent& handler) { onDataError_ = handler; }
  const THidPlugEvent& OnUnplug() const { return onUnplug_; }
  void SetOnUnplug(const THidPlugEvent& handler) { onUnplug_ = handler; }

  int ReadSliceTime() const { return readSliceTime_.load(); }
  // Taken only within 10..10000 ms.
  void SetReadSliceTime(int ms);

  // The device is gone: close both handles, call OnUnplug once. A running reader keeps running.
  void MarkUnplugged();

  bool ReaderRunning() const { return reader_ != nullptr; }
  const THidDeviceReadThread* Reader() const { return reader_.get(); }

  static constexpr int kDefaultReadSliceTime = 100;
  static constexpr int kMinReadSliceTime = 10;
  static constexpr int kMaxReadSliceTime = 10000;

 private:
  friend class THidDeviceController;
  friend class THidDeviceReadThread;

  bool OpenAble() const;
  // Opens QueryHandle read/write, or for identification when that is refused.
  void OpenQueryHandleRaw();
  void StartReaderIfReady();
  void StopReader();
  // Stops the writer without waiting for a report being written: a busy writer goes to the
  // controller, which ends it once the write is over.
  void RetireWriter();

  IHidPlatform& platform_;
  THidDeviceController* controller_;
  std::atomic<bool> isAttached_{true};
  std::atomic<bool> isClaimed_{false};
  std::atomic<bool> inEventCall_{false};
  HidHandle queryHandle_ = kInvalidHidHandle;
  std::atomic<HidHandle> readHandle_{kInvalidHidHandle};
  THidAttributes attributes_;
  std::unique_ptr<THidPnPInfo> plugInfo_;
  std::u16string productString_;
  std::optional<HidPreparsedData> preparsedData_;
  std::uint32_t queryBufferCount_ = 0;
  std::atomic<std::uint32_t> readBufferCount_{0};
  std::atomic<int> readSliceTime_{kDefaultReadSliceTime};
  THidDataEvent onData_;
  THidDataErrorEvent onDataError_;
  THidPlugEvent onUnplug_;
  std::atomic<bool> readWriteAccess_{false};
  std::shared_ptr<THidDeviceReadThread> reader_;
  THidWriteDoneEvent onWriteDone_;
  std::unique_ptr<THidReportWriter> writer_;
};

// The reader of one device: one thread, one report buffer sized to the device's input report
// length, cleared and reused for every read. Each report is handed to the UI thread, and the
// thread waits until the handler there has returned; reports queued behind it meanwhile are
// delivered in the same wake-up. Made and stopped on the UI thread only.
class THidDeviceReadThread : public std::enable_shared_from_this<THidDeviceReadThread> {
 public:
  // Sizes the buffer; the thread is not started yet.
  explicit THidDeviceReadThread(THidDevice& device);
  ~THidDeviceReadThread();
  THidDeviceReadThread(const THidDeviceReadThread&) = delete;
  THidDeviceReadThread& operator=(const THidDeviceReadThread&) = delete;

  void Start();
  // Requests the stop and waits for the thread to end, running this reader's pending hand-offs
  // meanwhile (a reader blocked in a hand-off must reach its stop check).
  void Stop();

  THidDevice& Device() const { return device_; }
  std::size_t ReportBufferSize() const { return reportBuffer_.size(); }
  std::uint32_t BytesRead() const { return bytesRead_.load(); }
  std::uint32_t LastError() const { return lastError_.load(); }
  // Wake-ups of the UI thread so far (reports and failed read starts handed over).
  std::uint64_t HandOffs() const { return handOffs_.load(std::memory_order_relaxed); }

 private:
  enum class Pending { None, Data, Error };
  // hidraw's own queue length: one wake-up can take a full queue.
  static constexpr int kMaxQueuedReportsPerWake = 64;

  void Run();
  void HandOff(Pending kind);
  // Waits one slice, or less when a stop is requested.
  void PauseOneSlice();
  // UI thread: runs the pending hand-off, if any.
  void Serve();
  // UI thread, inside a data hand-off: delivers the reports already queued behind it, while the
  // reader still waits, so a burst costs one wake-up of the UI thread instead of one per report.
  // Bounded, so that a device that never pauses cannot hold the event loop.
  void TakeQueuedReports();
  void OnWakeup();

  THidDevice& device_;
  std::vector<std::uint8_t> reportBuffer_;
  std::atomic<std::uint32_t> bytesRead_{0};
  std::atomic<std::uint32_t> lastError_{0};
  std::atomic<std::uint64_t> handOffs_{0};

  std::thread thread_;
  std::atomic<bool> stopRequested_{false};
  TThreadWakeup wakeup_;  // the reader signals the UI thread here

  std::mutex mutex_;
  std::condition_variable changed_;
  Pending pending_ = Pending::None;  // guarded by mutex_
  bool serving_ = false;             // guarded by mutex_
  bool released_ = false;            // guarded by mutex_: the reader may leave a hand-off unserved
  bool finished_ = false;            // guarded by mutex_
};

}  // namespace zrv
