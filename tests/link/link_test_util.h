// Shared pieces of the link tests: simulated device configs and a recorder of deliveries.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "link/hid_device.h"
#include "link/platform/sim/sim_hid_platform.h"

namespace zrv::test {

inline SimHidDeviceConfig DeviceConfig(std::uint32_t instance, std::u16string product = u"ZRVXXX") {
  SimHidDeviceConfig config;
  config.Path = "/sim/hid" + std::to_string(instance);
  config.Instance = instance;
  config.VendorID = 0x0ABC;
  config.ProductID = 0x0012;
  config.VersionNumber = 0x0100;
  config.ProductString = std::move(product);
  config.InputReportByteLength = 65;
  config.OutputReportByteLength = 65;
  return config;
}

// Waits without running the event loop (so nothing handed off gets served meanwhile).
inline bool WaitWithoutEvents(const std::function<bool()>& condition, int maxRounds = 20000) {
  for (int round = 0; round < maxRounds; ++round) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return condition();
}

struct Delivery {
  THidDevice* device;
  std::uint8_t reportId;
  std::vector<std::uint8_t> data;
  bool onMainThread;
};

class Recorder {
 public:
  Recorder() : main_(std::this_thread::get_id()) {}
  void OnData(THidDevice* HidDev, std::uint8_t ReportID, const std::uint8_t* Data, std::uint16_t Size) {
    deliveries.push_back(Delivery{HidDev, ReportID, std::vector<std::uint8_t>(Data, Data + Size),
                                  std::this_thread::get_id() == main_});
    if (after) after(HidDev);
  }
  void OnError(THidDevice* HidDev, std::uint32_t Error) {
    (void)HidDev;
    errors.push_back(Error);
  }
  THidDataEvent DataHandler() { return THidDataEvent(this, &Recorder::OnData); }
  THidDataErrorEvent ErrorHandler() { return THidDataErrorEvent(this, &Recorder::OnError); }

  std::vector<Delivery> deliveries;
  std::vector<std::uint32_t> errors;
  std::function<void(THidDevice*)> after;  // runs inside the handler

 private:
  std::thread::id main_;
};

inline std::vector<std::uint8_t> Report(std::uint8_t id, std::size_t length, std::uint8_t seed) {
  std::vector<std::uint8_t> report(length);
  report[0] = id;
  for (std::size_t i = 1; i < length; ++i) report[i] = static_cast<std::uint8_t>(seed + i);
  return report;
}

}  // namespace zrv::test
