// The link test as a state machine with no clock and no I/O of its own: its shell tells it what
// arrived and when it woke up, and it answers with what to send and when to wake it next. It never
// waits, so it runs on an event loop, a test's hand-moved clock or a simulated line alike, and it
// can be cancelled between any two events.
//
// A run reads the previewed registers `Rounds` times (two reads a round) from one slave at one
// line setting: holding registers first; on exception "illegal function" it falls back to input
// registers and says so. Every request waits for its own time-out (from the baud rate); the next
// goes out a frame gap after the previous one ended.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "modbus/link_verdict.h"
#include "modbus/preview_read.h"
#include "modbus/request.h"
#include "modbus/rtu_timing.h"

namespace zrv::modbus {

struct LinkTestPlan {
  LineSettings Line;
  std::uint8_t Slave = 1;
  int Rounds = 5;
  // Where the reads begin; input registers are read as asked, with no fallback.
  RegisterTable Table = RegisterTable::Holding;
};

// What the shell does next: send these bytes (if any), and wake the test at WakeAtUs (if any).
struct LinkTestStep {
  std::optional<RequestBytes> Send;
  std::optional<std::uint64_t> WakeAtUs;
  bool Done = false;
};

// What the driver showed over USB around the test; each part is optional (no driver on USB).
struct UsbView {
  std::optional<std::uint16_t> CounterBefore;
  std::optional<std::uint16_t> CounterAfter;
  std::optional<RegisterBlock> RegistersBefore;
  std::optional<RegisterBlock> RegistersAfter;
};

class LinkTest {
 public:
  explicit LinkTest(const LinkTestPlan& plan);

  LinkTestStep Start(std::uint64_t nowUs);
  LinkTestStep OnReceived(std::span<const std::uint8_t> bytes, std::uint64_t nowUs);
  LinkTestStep OnWake(std::uint64_t nowUs);
  // The port could not be opened or failed on the way: the test ends with that.
  LinkTestStep OnPortError(PortErrorKind kind);
  // Ends the test where it stands; what was seen so far still makes a verdict.
  void Cancel() { done_ = true; }

  bool Done() const { return done_; }
  bool Cancelled() const { return done_ && !finished_; }
  // Which table answered reads: holding unless the slave refused function 03.
  RegisterTable Table() const { return table_; }
  const Rs485Registers& Registers() const { return registers_; }
  // Requests sent so far, and how many the plan holds (a fallback to input registers sends one
  // more).
  std::uint32_t Sent() const { return input_.Sent; }
  std::uint32_t Planned() const {
    return static_cast<std::uint32_t>(plan_.Rounds > 0 ? plan_.Rounds : 0) * static_cast<std::uint32_t>(kPreviewReadCount);
  }

  LinkTestResult Verdict(const UsbView& usb) const;

 private:
  enum class Phase { Idle, Waiting, Gap };
  LinkTestStep SendCurrent(std::uint64_t nowUs);
  LinkTestStep Judge(const Reply& reply, std::uint64_t nowUs);
  LinkTestStep Wait() const;

  LinkTestPlan plan_;
  RegisterTable table_ = RegisterTable::Holding;
  Phase phase_ = Phase::Idle;
  bool done_ = false;
  bool finished_ = false;
  int round_ = 0;
  std::size_t read_ = 0;
  std::optional<Request> current_;
  std::uint64_t sentAtUs_ = 0;
  std::uint64_t deadlineUs_ = 0;
  std::vector<std::uint8_t> received_;
  Rs485Registers registers_;
  LinkTestInput input_;
};

}  // namespace zrv::modbus
