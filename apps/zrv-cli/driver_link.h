// The HID devices as zrv-cli sees them, the choice of the driver, and one request at a time with
// a time-out. Built on THidDeviceController and THidDevice; needs a running QCoreApplication
// (the first scan and every reply arrive through its event loop).
#pragma once

#include <cstddef>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "link/hid_device.h"
#include "link/hid_device_controller.h"
#include "link/platform/hid_platform.h"
#include "protocol/device_state.h"

namespace zrv::cli {

struct DeviceEntry {
  int Index = 0;  // position in `zrv-cli list`, usable with --device
  std::string Node;
  std::uint16_t VendorID = 0;
  std::uint16_t ProductID = 0;
  std::string Product;  // UTF-8; empty when the device gives none
  bool IsDriver = false;
  bool ReadWrite = false;
};

class DriverLink {
 public:
  explicit DriverLink(IHidPlatform& platform);
  ~DriverLink();
  DriverLink(const DriverLink&) = delete;
  DriverLink& operator=(const DriverLink&) = delete;

  // Waits for the controller's first scan and lists every attached HID device, claiming the drivers.
  void Discover();
  const std::vector<DeviceEntry>& Devices() const { return entries_; }
  std::vector<DeviceEntry> Drivers() const;

  // Picks the driver: the only one, or the one `deviceArg` names (node or list index). On success
  // returns kExitOk; otherwise the exit code, with `message` saying why.
  int Choose(const std::string& deviceArg, std::string& message);
  // Length of one wait of the reader thread (THidDevice::SetReadSliceTime) for drivers taken from
  // now on. Longer means fewer idle wake-ups, and a longer wait when the reader is stopped.
  void SetReadSliceTime(int ms) { readSliceMs_ = ms; }
  // Takes this driver (one that was discovered) for requests. False without read/write access.
  bool Use(const DeviceEntry& entry);
  const DeviceEntry& Chosen() const { return chosen_; }

  // Sends one command (payload: the code first) and waits up to `timeoutMs` for a reply carrying
  // `replyCode`. False when the write was refused or nothing came in time.
  bool Request(const std::uint8_t* payload, std::size_t length, std::uint8_t replyCode, int timeoutMs);
  bool Request(std::uint8_t code, int timeoutMs) { return Request(&code, 1, code, timeoutMs); }
  // Whether the chosen driver is still attached (false after an unplug seen by a scan).
  bool ChosenAttached() const;
  // After a refused write: runs the event loop up to `ms` for the scan that would show the driver
  // gone (its change notice comes a little after the write fails). True when it is gone.
  bool WaitUntilGone(int ms);
  bool LastWriteRefused() const { return writeRefused_; }
  // The whole report of the latest write, as framed.
  const std::vector<std::uint8_t>& LastReport() const { return lastReport_; }

  const DeviceState& State() const { return state_; }
  // Runs the event loop until `done` holds or `ms` have passed; returns `done()`.
  bool WaitFor(const std::function<bool()>& done, int ms);
  // The good-frame count of the latest register reply (DeviceState keeps only its high byte).
  std::uint16_t GoodFrames() const { return goodFrames_; }

 private:
  bool Enumerate(THidDevice* device, int index);
  void Changed(QObject* sender);
  // Makes a running WaitFor or Discover look at its condition again.
  static void WakeWaiter();
  void Reply(THidDevice* device, std::uint8_t reportId, const std::uint8_t* data, std::uint16_t size);

  IHidPlatform& platform_;
  std::unique_ptr<THidDeviceController> controller_;
  bool discovered_ = false;
  std::vector<DeviceEntry> entries_;
  std::map<int, std::unique_ptr<THidDevice>> claimed_;  // drivers, by list index
  THidDevice* device_ = nullptr;
  DeviceEntry chosen_;
  DeviceState state_{};
  std::uint64_t replies_[256] = {};
  std::uint16_t goodFrames_ = 0;
  bool writeRefused_ = false;
  int readSliceMs_ = THidDevice::kDefaultReadSliceTime;
  QTimer deadline_;
  bool deadlinePassed_ = false;
  std::vector<std::uint8_t> lastReport_;
};

}  // namespace zrv::cli
