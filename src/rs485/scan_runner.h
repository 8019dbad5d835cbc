// Looks for the driver on the RS485 line: the probes of modbus::ScanOrder one after another, each a
// one-register read waited for as long as its baud rate needs, the port reopened whenever the line
// settings change. Runs on the event loop and never blocks; Cancel stops it between any two events
// and closes the port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "link/ttimer.h"
#include "modbus/scan_order.h"
#include "protocol/device_state.h"
#include "rs485/byte_transport.h"

namespace zrv {

struct ScanPlan {
  // The settings the driver reports over USB, tried first; none without a driver on USB.
  std::optional<ModbusSettings> Usb;
  // Limits of the search: only this baud rate, parity, address.
  std::optional<std::uint32_t> Baudrate;
  std::optional<std::uint8_t> Parity;
  std::optional<std::uint8_t> Slave;
  // Every answering slave; otherwise the scan stops at the first.
  bool All = false;
};

// A slave that answered a probe. An exception answer finds it too: it heard the read at these
// settings and refused it.
struct ScanFind {
  modbus::LineSettings Line;
  std::uint8_t Slave = 1;
  std::uint8_t Function = 0;               // as answered: 0x03, or 0x83 for an exception
  std::optional<std::uint8_t> Exception;   // the exception code, when refused
  friend bool operator==(const ScanFind&, const ScanFind&) = default;
};

struct ScanReport {
  std::vector<ScanFind> Found;
  std::size_t Done = 0;   // probes finished
  std::size_t Total = 0;  // probes planned
  bool Cancelled = false;
  modbus::PortErrorKind Port = modbus::PortErrorKind::None;  // the port failed: the scan ended there
};

class ScanRunner {
 public:
  // `nowUs`: a monotonic clock in microseconds (the time source's own, in tests).
  ScanRunner(ByteTransport& transport, TimeSource& time, std::function<std::uint64_t()> nowUs);
  ~ScanRunner();
  ScanRunner(const ScanRunner&) = delete;
  ScanRunner& operator=(const ScanRunner&) = delete;

  // The probes a plan makes, in the order they go out.
  static std::vector<modbus::ScanProbe> Probes(const ScanPlan& plan);

  // Starts; false when a scan is already running. A plan without probes, or a port that does not
  // open, ends the scan at once (OnFinished is called before Start returns).
  bool Start(const ScanPlan& plan);
  void Cancel();
  bool Running() const { return running_; }
  const ScanReport& Report() const { return report_; }

  std::function<void(std::size_t done, std::size_t total)> OnProgress;
  std::function<void(const ScanFind& found)> OnFound;
  // Once the scan has ended, the port closed.
  std::function<void(const ScanReport& report)> OnFinished;

 private:
  void Next();
  void SendProbe();
  void Judge(bool lineSilent);
  void ProbeDone(std::uint64_t pauseUs);
  void WakeAt(std::uint64_t atUs);
  void PortFailed(modbus::PortErrorKind kind);
  void Finish();

  ByteTransport& transport_;
  TTimer timer_;
  std::function<std::uint64_t()> nowUs_;
  std::vector<modbus::ScanProbe> probes_;
  ScanReport report_;
  bool all_ = false;
  bool running_ = false;
  std::optional<modbus::LineSettings> openLine_;
  std::size_t index_ = 0;
  // What the timer waits for: the next probe to go out, or the time-out of the one out.
  bool awaiting_ = false;
  std::uint64_t deadlineUs_ = 0;
  std::vector<std::uint8_t> received_;
};

}  // namespace zrv
