// In-memory HID interfaces behind the platform interface, for tests and the demo. Devices can be
// plugged and unplugged at any moment from any thread; the change notification arrives on the
// thread that registered it (the UI thread). Behind each device a model answers output reports.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "link/platform/hid_platform.h"

class QObject;

namespace zrv {

class SimHidDevice;

class ISimHidModel {
 public:
  virtual ~ISimHidModel() = default;
  // Called synchronously inside Write, on the writer's thread, with the whole report (ID byte
  // first). The model may inject input reports from here.
  virtual void OnOutputReport(SimHidDevice& device, const std::uint8_t* report, std::size_t length) = 0;
};

// The byte count a write reports: as Windows and Linux do (the whole report), as wine does (the
// report ID byte left out), or that of a write cut short (two bytes missing, which reach no one).
enum class SimWriteCount { Whole, WithoutReportId, Short };

struct SimHidDeviceConfig {
  std::string Path;
  std::uint32_t Instance = 0;
  std::uint16_t VendorID = 0;
  std::uint16_t ProductID = 0;
  std::uint16_t VersionNumber = 0;
  std::u16string ProductString;
  // Report lengths count the report ID byte.
  std::uint16_t InputReportByteLength = 65;
  std::uint16_t OutputReportByteLength = 65;
  std::uint16_t Usage = 1;
  std::uint16_t UsagePage = 0xFF00;
  bool RefuseReadWrite = false;      // opens for reading or writing fail (no permission, held)
  bool RefuseOpen = false;           // every open fails, identification included
  bool FailIdentify = false;         // the attributes cannot be read
  bool FailProductString = false;    // the product string query fails
  bool FailPreparsedData = false;    // no report descriptor: all-zero capabilities
  bool FailWrites = false;           // every write is refused
  SimWriteCount ReportedWriteCount = SimWriteCount::Whole;  // what each write says it wrote
  std::uint32_t InputQueueCapacity = 64;  // reports kept while nobody reads; the oldest go first
  bool RecordWrites = true;          // keep every accepted write for WrittenReports (off for long runs)
  // A device that stops taking output reports: each write waits this long (real time) and is then
  // refused, as the kernel's USB time-out does. Unplugging refuses it at once;
  // ReleaseStalledWrites lets the waiting ones through.
  int WriteStallMs = 0;
};

namespace sim_detail {
struct Core;
struct Handle;
}  // namespace sim_detail

class SimHidDevice {
 public:
  // Made by SimHidPlatform::Plug.
  SimHidDevice(std::shared_ptr<sim_detail::Core> core, SimHidDeviceConfig config,
               std::shared_ptr<ISimHidModel> model);
  ~SimHidDevice();
  SimHidDevice(const SimHidDevice&) = delete;
  SimHidDevice& operator=(const SimHidDevice&) = delete;

  const std::string& Path() const { return config_.Path; }
  std::uint32_t Instance() const { return config_.Instance; }

  // Any thread. One whole report, report ID byte first; longer than the input report length is cut.
  // Goes straight into an outstanding read, else into the bounded input queue. Dropped when
  // unplugged.
  void InjectInputReport(const std::uint8_t* report, std::size_t length);

  void SetModel(std::shared_ptr<ISimHidModel> model);
  // Faults and identity that a test may change at any moment.
  void SetFailWrites(bool fail);
  void SetRefuseReadWrite(bool refuse);
  void SetRefuseOpen(bool refuse);
  void SetFailIdentify(bool fail);
  void SetProductString(const std::u16string& text);
  void SetWriteStall(int ms);
  // The device takes output reports again: writes waiting in a stall go through now.
  void ReleaseStalledWrites();

  bool Plugged() const;
  int WriteCount() const;        // accepted writes
  int WriteAttempts() const;     // every call of Write on a handle of this device
  int OpenCount() const;         // successful opens, any mode
  int OpenCount(HidOpenMode mode) const;
  int CloseCount() const;
  int OpenHandleCount() const;   // opened and not yet closed
  int ProductStringQueries() const;
  int PreparsedDataQueries() const;
  int DroppedInputReports() const;  // lost to a full queue or an unplugged device
  int QueuedInputReports() const;
  int WaitingReads() const;  // threads inside WaitRead on a handle of this device
  int StalledWrites() const;  // threads inside a stalled Write on this device
  std::vector<std::vector<std::uint8_t>> WrittenReports() const;

 private:
  friend class SimHidPlatform;
  friend struct sim_detail::Core;

  void PushQueue(const std::uint8_t* report, std::size_t length);  // core mutex held
  bool PopQueue(std::uint8_t* buffer, std::size_t capacity, std::uint32_t& bytes);  // held
  void ResizeQueue(std::uint32_t capacity);  // held

  std::shared_ptr<sim_detail::Core> core_;
  SimHidDeviceConfig config_;       // guarded by the core mutex
  std::shared_ptr<ISimHidModel> model_;
  bool plugged_ = true;
  // Ring of fixed-size slots: injecting allocates nothing.
  std::size_t slotSize_ = 1;
  std::vector<std::uint8_t> ring_;
  std::vector<std::uint32_t> ringLengths_;
  std::size_t ringHead_ = 0;
  std::size_t ringCount_ = 0;
  std::vector<sim_detail::Handle*> pendingReads_;  // oldest first
  int writes_ = 0;
  int writeAttempts_ = 0;
  int opens_[3] = {0, 0, 0};
  int closes_ = 0;
  int openHandles_ = 0;
  int productStringQueries_ = 0;
  int preparsedQueries_ = 0;
  int dropped_ = 0;
  int waiting_ = 0;
  int stalledWrites_ = 0;
  std::uint64_t stallReleases_ = 0;
  std::vector<std::vector<std::uint8_t>> written_;
};

class SimHidPlatform : public IHidPlatform {
 public:
  SimHidPlatform();
  ~SimHidPlatform() override;
  SimHidPlatform(const SimHidPlatform&) = delete;
  SimHidPlatform& operator=(const SimHidPlatform&) = delete;

  // Any thread. Each announces a change to the registered callback.
  std::shared_ptr<SimHidDevice> Plug(SimHidDeviceConfig config,
                                     std::shared_ptr<ISimHidModel> model = nullptr);
  void Unplug(const std::shared_ptr<SimHidDevice>& device);
  // A change of the device tree that touches no HID interface.
  void AnnounceChange();

  void SetHidServicesPresent(bool present);
  void SetEnumerationFails(bool fail);
  std::vector<std::shared_ptr<SimHidDevice>> Present() const;
  int EnumerationCount() const;
  int NotificationsDelivered() const;
  bool ChangeWatchActive() const;

  // IHidPlatform
  bool HidServicesPresent() const override;
  bool EnumerateInterfaces(std::vector<HidInterfaceInfo>& out) override;
  HidHandle Open(const std::string& path, HidOpenMode mode) override;
  void Close(HidHandle handle) override;
  bool GetAttributes(HidHandle handle, THidAttributes& out) override;
  bool GetProductString(HidHandle handle, char16_t* buffer, std::size_t bytes) override;
  bool GetPreparsedData(HidHandle handle, HidPreparsedData& out) override;
  bool SetNumInputBuffers(HidHandle handle, std::uint32_t count) override;
  bool GetNumInputBuffers(HidHandle handle, std::uint32_t& count) override;
  bool Write(HidHandle handle, const std::uint8_t* buffer, std::size_t length,
             std::uint32_t& written) override;
  bool StartRead(HidHandle handle, std::uint8_t* buffer, std::size_t length,
                 std::uint32_t& error) override;
  HidWaitResult WaitRead(HidHandle handle, int sliceMs) override;
  bool GetReadResult(HidHandle handle, std::uint32_t& bytesRead) override;
  void CancelRead(HidHandle handle) override;
  bool ReadQueued(HidHandle handle, std::uint8_t* buffer, std::size_t length,
                  std::uint32_t& bytesRead) override;
  void SetChangeNotification(std::function<void()> onChange) override;

  // Error codes that StartRead reports.
  static constexpr std::uint32_t kErrorInvalidHandle = 6;
  static constexpr std::uint32_t kErrorDeviceNotConnected = 1167;
  static constexpr std::uint32_t kErrorBusy = 170;

 private:
  void PostChange();  // core mutex held

  std::shared_ptr<sim_detail::Core> core_;
};

}  // namespace zrv
