// The bridge between the kernel's uhid events and the simulated driver, kept free of file
// descriptors so that it can be exercised on machines without /dev/uhid.
#pragma once

#include <linux/uhid.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/simulated_driver.h"

namespace zrv::uhid {

// The driver's reports: 63 data bytes each way, on a vendor usage page; with `numbered` they
// carry report ID 1, without it they carry no ID at all.
std::vector<std::uint8_t> DriverReportDescriptor(bool numbered);
// A plain three-button pointer: a HID device that is not the driver.
std::vector<std::uint8_t> PointerReportDescriptor();

struct DeviceSpec {
  std::string Name;  // the HID name; for a uhid device it is also the product string
  std::uint16_t Vendor = 0;
  std::uint16_t Product = 0;
  std::vector<std::uint8_t> Descriptor;
};

inline constexpr std::uint16_t kVendorId = 0x1234;
inline constexpr std::uint16_t kDriverProductId = 0x5678;
inline constexpr std::uint16_t kPointerProductId = 0x0001;

// Fills a UHID_CREATE2 event (bus USB). False when the name or descriptor does not fit.
bool BuildCreate(const DeviceSpec& wanted, uhid_event& event);
void BuildDestroy(uhid_event& event);

// Runs the simulated driver behind one uhid device. Every event to the kernel goes out through
// the writer, one whole event per call.
class DriverBridge {
 public:
  using Writer = std::function<bool(const uhid_event&)>;
  // Called with every output report as it arrived, before the driver sees it.
  using OutputObserver = std::function<void(const std::uint8_t* report, std::size_t length)>;

  DriverBridge(sim::SimulatedDriver& driver, bool numbered, Writer writer);

  void SetOutputObserver(OutputObserver observer) { observer_ = std::move(observer); }
  // Reports to send after the first open, as fast as the kernel takes them.
  void SetFlood(std::uint64_t count) { floodLeft_ = count; }

  // One event read from /dev/uhid.
  void OnEvent(const uhid_event& event);

  // Sends up to `max` flood reports; returns how many went out. Each is a status reply whose
  // last four bytes hold a running sequence number, so a reader can count losses.
  std::uint64_t SendFlood(std::uint64_t max);
  bool FloodDue() const { return opened_ && floodLeft_ > 0; }

  bool Started() const { return started_; }
  int OpenCount() const { return openCount_; }
  std::uint64_t InputsSent() const { return inputsSent_; }
  std::uint64_t InputsFailed() const { return inputsFailed_; }
  // Forgets the kernel side, e.g. after UHID_DESTROY; the driver model is kept.
  void ResetKernelState();

 private:
  void SendInput(const std::uint8_t* report, std::size_t length);

  sim::SimulatedDriver& driver_;
  bool numbered_;
  Writer writer_;
  OutputObserver observer_;
  bool started_ = false;
  bool opened_ = false;  // at least one open since creation
  int openCount_ = 0;
  std::uint64_t floodLeft_ = 0;
  std::uint32_t floodSequence_ = 0;
  std::uint64_t inputsSent_ = 0;
  std::uint64_t inputsFailed_ = 0;
};

}  // namespace zrv::uhid
