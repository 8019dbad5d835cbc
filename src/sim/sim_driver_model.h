// The simulated driver behind a simulated HID device: output reports written to the device go to
// the driver, and its replies come back as the device's input reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

#include "link/platform/sim/sim_hid_platform.h"
#include "sim/simulated_driver.h"

namespace zrv {

class SimDriverModel final : public ISimHidModel {
 public:
  SimDriverModel();

  // Plugs a device with the driver's identity and this model behind it; `config` gives the path,
  // instance and product string (report lengths are the driver's).
  static std::shared_ptr<SimHidDevice> PlugDriver(SimHidPlatform& platform, SimHidDeviceConfig config,
                                                  const std::shared_ptr<SimDriverModel>& model);

  // Replies go to `device` from now on (held weakly: an unplugged device just drops them).
  void Attach(const std::shared_ptr<SimHidDevice>& device);

  void OnOutputReport(SimHidDevice& device, const std::uint8_t* report, std::size_t length) override;

  // Moves the driver's clock: releases delayed replies and, in lively mode, moves the readings.
  void Advance(std::uint64_t nowMs);

  // A clock read at every output report, before the driver acts on it: the readings then move
  // with no timer of their own, on the writer's thread. Delayed replies still need Advance.
  // Set before the device is written to.
  void SetClock(std::function<std::uint64_t()> nowMs) { clock_ = std::move(nowMs); }

  // The driver itself, for setting it up and looking at what it received. The caller must not
  // use it while another thread writes to the device.
  sim::SimulatedDriver& Driver() { return driver_; }
  // Runs `use` with the driver to itself: what another thread (the RS485 side) does with it.
  template <typename Use>
  void WithDriver(Use&& use) {
    const std::lock_guard<std::mutex> lock(mutex_);
    use(driver_);
  }

 private:
  std::mutex mutex_;
  sim::SimulatedDriver driver_;
  std::weak_ptr<SimHidDevice> device_;
  std::function<std::uint64_t()> clock_;
};

}  // namespace zrv
