// zrv-cli on the driver session: the choice of the driver from the first scan, and one request at
// a time with a time-out. Needs a running QCoreApplication (the first scan, every reply and every
// write's outcome arrive through its event loop).
#pragma once

#include <QTimer>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "session/driver_session.h"

namespace zrv::cli {

// A device as `zrv-cli list` shows it; its index is usable with --device.
using DeviceEntry = ListedDevice;
// The product string in UTF-8.
std::string ProductText(const DeviceEntry& device);

class DriverRequests {
 public:
  // `session` must be in Choice::Chosen and outlive this.
  explicit DriverRequests(DriverSession& session);

  // Waits for the session's first scan.
  void Discover();
  const std::vector<DeviceEntry>& Devices() const { return session_.Devices(); }
  std::vector<DeviceEntry> Drivers() const;

  // Picks the driver: the only one, or the one `deviceArg` names (node or list index). On success
  // returns kExitOk; otherwise the exit code, with `message` saying why.
  int Choose(const std::string& deviceArg, std::string& message);
  // Takes this listed driver for requests. False without read/write access.
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

  // Runs the event loop until `done` holds or `ms` have passed; returns `done()`.
  bool WaitFor(const std::function<bool()>& done, int ms);

 private:
  // Makes a running wait look at its condition again.
  static void WakeWaiter();

  DriverSession& session_;
  DeviceEntry chosen_;
  std::uint32_t lastTag_ = 0;
  std::uint32_t refusedTag_ = 0;
  bool writeRefused_ = false;
  QTimer deadline_;
  bool deadlinePassed_ = false;
};

}  // namespace zrv::cli
