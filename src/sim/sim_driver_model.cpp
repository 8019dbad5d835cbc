#include "sim/sim_driver_model.h"

#include <utility>

namespace zrv {

SimDriverModel::SimDriverModel() {
  driver_.SetSink([this](const std::uint8_t* report, std::size_t length) {
    // Called with mutex_ held, from OnOutputReport or Advance.
    if (const std::shared_ptr<SimHidDevice> device = device_.lock()) {
      device->InjectInputReport(report, length);
    }
  });
}

std::shared_ptr<SimHidDevice> SimDriverModel::PlugDriver(SimHidPlatform& platform,
                                                         SimHidDeviceConfig config,
                                                         const std::shared_ptr<SimDriverModel>& model) {
  config.InputReportByteLength = static_cast<std::uint16_t>(sim::kReportLength);
  config.OutputReportByteLength = static_cast<std::uint16_t>(sim::kReportLength);
  std::shared_ptr<SimHidDevice> device = platform.Plug(std::move(config), model);
  model->Attach(device);
  return device;
}

void SimDriverModel::Attach(const std::shared_ptr<SimHidDevice>& device) {
  const std::lock_guard<std::mutex> lock(mutex_);
  device_ = device;
}

void SimDriverModel::OnOutputReport(SimHidDevice& /*device*/, const std::uint8_t* report,
                                    std::size_t length) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (clock_) {
    driver_.Advance(clock_());
  }
  driver_.OnOutputReport(report, length);
}

void SimDriverModel::Advance(std::uint64_t nowMs) {
  const std::lock_guard<std::mutex> lock(mutex_);
  driver_.Advance(nowMs);
}

}  // namespace zrv
