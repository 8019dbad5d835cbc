// Keeps one device object per present HID interface, rescans when the platform announces a change,
// reports changes of the set of HID devices, walks the attached ones and hands them out (claims).
// Lives on the UI thread; everything here runs there.
#pragma once

#include <QObject>
#include <cstdint>
#include <memory>
#include <vector>

#include "link/bound_event.h"
#include "link/hid_device.h"
#include "link/platform/hid_platform.h"

namespace zrv {

// (HidDev, Idx) -> true to go on walking.
using THidEnumerateEvent = TEvent<bool(THidDevice* HidDev, int Idx)>;
using TNotifyEvent = TEvent<void(QObject* Sender)>;

class THidDeviceController : public QObject {
 public:
  // Starts the platform's change watch and posts one forced change notice to the event loop of the
  // calling thread; no scan runs before that loop runs. The platform must outlive the controller
  // and every device object it made.
  explicit THidDeviceController(IHidPlatform& platform, QObject* parent = nullptr);
  // Stops readers of claimed devices and marks them unplugged (they stay with their holders),
  // destroys unclaimed ones.
  ~THidDeviceController() override;
  THidDeviceController(const THidDeviceController&) = delete;
  THidDeviceController& operator=(const THidDeviceController&) = delete;

  // The list: one slot per device object, in list order.
  int Count() const { return static_cast<int>(devices_.size()); }
  THidDevice* Device(int index) const;
  std::vector<THidDevice*> Devices() const;

  bool ScanRunning() const { return scanRunning_; }
  int NotifyParam() const { return notifyParam_; }

  // While loading, assigning OnDeviceChange only stores it (the window assigns while being built).
  void SetLoading(bool loading) { loading_ = loading; }
  bool Loading() const { return loading_; }

  const THidEnumerateEvent& OnEnumerate() const { return onEnumerate_; }
  void SetOnEnumerate(const THidEnumerateEvent& handler) { onEnumerate_ = handler; }
  const TNotifyEvent& OnDeviceChange() const { return onDeviceChange_; }
  // A different handler is stored and, unless loading, a DeviceChange runs at once.
  void SetOnDeviceChange(const TNotifyEvent& handler);
  const THidPlugEvent& OnArrival() const { return onArrival_; }
  void SetOnArrival(const THidPlugEvent& handler) { onArrival_ = handler; }
  const THidPlugEvent& OnRemoval() const { return onRemoval_; }
  void SetOnRemoval(const THidPlugEvent& handler) { onRemoval_ = handler; }
  // The three below are handed on to every listed device that still has the old one.
  const THidDataEvent& OnDeviceData() const { return onDeviceData_; }
  void SetOnDeviceData(const THidDataEvent& handler);
  const THidDataErrorEvent& OnDeviceDataError() const { return onDeviceDataError_; }
  void SetOnDeviceDataError(const THidDataErrorEvent& handler);
  const THidPlugEvent& OnDeviceUnplug() const { return onDeviceUnplug_; }
  void SetOnDeviceUnplug(const THidPlugEvent& handler);
  int DevThreadSleepTime() const { return devThreadSleepTime_; }
  void SetDevThreadSleepTime(int ms);

  // A change notice with its parameter (-1: forced). Dropped while a scan runs or while the
  // controller is being destroyed.
  void HandleNotification(int param);

  // Rescans, updates the list and calls OnDeviceChange when the set changed (or when forced).
  void DeviceChange();
  // Fresh device objects for every present HID interface that can be opened and identified.
  std::vector<std::unique_ptr<THidDevice>> ScanPresent();
  // Runs OnEnumerate for each attached device in list order until it returns false; returns the
  // number of attached devices visited, the one that stopped the walk included.
  int EnumerateDevices();
  // Hands out the unclaimed device in slot `index`: the caller owns it from now on, and destroying
  // it hands it back. Starts its reader when every start condition holds. False, with `device`
  // empty, for an index outside the list or a claimed slot.
  bool ClaimByIndex(std::unique_ptr<THidDevice>& device, int index);

  IHidPlatform& Platform() const { return platform_; }
  // Writers of destroyed devices whose last write was still under way.
  std::size_t FinishingWriters() const { return finishing_.size(); }

 private:
  friend class THidDevice;

  struct Slot {
    THidDevice* device = nullptr;
    std::unique_ptr<THidDevice> owned;  // null while claimed
    std::uint64_t serial = 0;           // tells a slot's object from a later one at the same address
  };

  int FindSlot(const THidDevice* device) const;
  Slot MakeSlot(std::unique_ptr<THidDevice> device);
  bool SlotHolds(std::size_t index, std::uint64_t serial) const;
  // Called by a device's destructor.
  // Keeps a retired writer until its thread has ended, so that destroying a device never waits
  // for a write that the device does not finish.
  void KeepUntilFinished(std::unique_ptr<THidReportWriter> writer);
  void ReleaseFinishedWriters();
  void HandBack(THidDevice& device, std::unique_ptr<THidPnPInfo> plugInfo,
                const THidDataEvent& onData, const THidPlugEvent& onUnplug, int readSliceTime);

  IHidPlatform& platform_;
  std::vector<Slot> devices_;
  std::vector<std::unique_ptr<THidReportWriter>> finishing_;
  std::uint64_t nextSerial_ = 1;
  bool scanRunning_ = false;
  bool destroying_ = false;
  bool loading_ = false;
  int notifyParam_ = 0;
  bool servicesPresent_ = false;

  THidEnumerateEvent onEnumerate_;
  TNotifyEvent onDeviceChange_;
  THidPlugEvent onArrival_;
  THidPlugEvent onRemoval_;
  THidDataEvent onDeviceData_;
  THidDataErrorEvent onDeviceDataError_;
  THidPlugEvent onDeviceUnplug_;
  int devThreadSleepTime_ = THidDevice::kDefaultReadSliceTime;
};

}  // namespace zrv
