// A model of the motor driver's firmware, seen from its USB side: it takes whole output reports
// (report ID byte first) and answers with whole 64-byte input reports through a sink. Used by the
// tests, the demo and the virtual device in the VM test.
//
// No threads and no clocks inside: time moves only through Advance(nowMs). Not thread-safe; an
// adapter that calls it from several threads serialises the calls itself. The sink is called on
// the caller's thread from inside OnOutputReport, SendReply or Advance.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "protocol/device_state.h"
#include "sim/rs485_slave.h"

namespace zrv::sim {

inline constexpr std::uint8_t kReportId = 1;
// Both directions: the report ID, then 63 data bytes.
inline constexpr std::size_t kReportLength = 64;

// What the firmware holds and answers with. Every field may be set by a test at any time.
struct DriverModel {
  std::int8_t FirmwareByte = 125;         // hundredths: 1.25
  std::array<char, 9> NameBytes{};        // sent as they are; normally NUL-terminated
  std::int8_t HardwareByte = 103;         // hundredths: 1.03
  alignas(4) DriverLimits Limits{30000, 90, 1000, 10000};
  alignas(4) ModbusSettings Modbus{19200, 2, 1};
  LiveStatus Status{};
  std::uint16_t GoodFrames = 0;
  // On the wire, block byte 0 and the high byte of GoodFrames share one position; the reply
  // carries the frame count there and Registers.Bytes[0] is not sent.
  RegisterBlock Registers{};

  // Sets NameBytes to at most 8 characters and a NUL.
  void SetName(std::string_view name);
  std::string_view Name() const;
};

// Faults on demand. All off by default.
struct DriverFaults {
  bool SilentAll = false;                     // answer nothing
  std::array<bool, 256> SilentFor{};          // answer nothing to this command code
  std::uint32_t ReplyDelayMs = 0;             // answers leave at the first Advance at or past due
  bool WrongCode = false;                     // answers carry WrongCodeValue instead of the code
  std::uint8_t WrongCodeValue = 0;
  std::size_t ShortReplyLength = 0;           // when > 0, answers are cut to this many bytes
  std::uint8_t ShortReplyOnlyFor = 0;         // when > 0, only answers to this code are cut
  bool FailWrites = false;                    // the transport should refuse writes (adapter's duty)
};

// One output report as it arrived.
struct ReceivedReport {
  std::vector<std::uint8_t> Bytes;  // the whole report, ID byte first
  bool Accepted = false;            // 64 bytes with report ID 1: the firmware acted on it
  std::uint8_t Code() const { return Bytes.size() > 1 ? Bytes[1] : 0; }
  // The payload after the report ID (code first); empty when there is none.
  std::vector<std::uint8_t> Payload() const;
};

class SimulatedDriver {
 public:
  using Sink = std::function<void(const std::uint8_t* report, std::size_t length)>;

  SimulatedDriver();

  void SetSink(Sink sink) { sink_ = std::move(sink); }

  DriverModel& Model() { return model_; }
  const DriverModel& Model() const { return model_; }
  DriverFaults& Faults() { return faults_; }
  bool WritesFail() const { return faults_.FailWrites; }

  // One output report from the host. Reports of any other length than 64 or with another ID
  // than 1 are recorded and otherwise ignored, as the firmware does. Returns false (and records
  // nothing) when writes are set to fail, so an adapter may pass the result on as its write's.
  bool OnOutputReport(const std::uint8_t* report, std::size_t length);

  // Answers `code` as if it had been asked, faults included: for replies nobody asked for.
  void SendReply(std::uint8_t code);

  // Builds the whole reply to `code` from the current model, without faults. False for codes the
  // firmware does not answer.
  bool BuildReply(std::uint8_t code, std::array<std::uint8_t, kReportLength>& out) const;

  // Moves time to nowMs (never backwards): releases late answers that are due, and in lively
  // mode moves the readings. The first call only sets the clock.
  void Advance(std::uint64_t nowMs);
  std::uint64_t NowMs() const { return nowMs_; }
  std::size_t PendingReplies() const { return pending_.size(); }

  // Lively mode makes the readings move for the demo; `seed` makes a run repeatable.
  void SetLively(bool on, std::uint32_t seed = 1);
  bool Lively() const { return lively_; }
  // In lively mode, every event is a one-second fault, one starting every `ms` (at least 1 s;
  // 0: the usual mix of jams and faults every 15 to 30 s). For showing fault captures.
  void SetLivelyFaultEvery(std::uint32_t ms) { faultEveryMs_ = ms; }
  // Lively mode's bus master polls the driver on its RS485 line (on by default); off, only the
  // tool's own frames move the good-frame counter, as on a line with no other master.
  void SetLivelyBusMaster(bool on) { busMaster_ = on; }

  // Received reports, oldest first; at most RecordLimit are kept, the oldest dropped first.
  const std::deque<ReceivedReport>& Received() const { return received_; }
  void ClearReceived() { received_.clear(); }
  std::size_t RecordLimit = 4096;
  std::uint64_t TotalReceived() const { return totalReceived_; }
  std::uint64_t TotalReplies() const { return totalReplies_; }
  // One frame from the RS485 line, framed by silence; returns the slave's answer (empty: none).
  // Good frames raise Model().GoodFrames; nothing else raises it.
  std::vector<std::uint8_t> OnRs485Frame(std::span<const std::uint8_t> frame, bool damaged) {
    return rs485_.OnFrame(model_, frame, damaged);
  }
  const Rs485Slave& Rs485() const { return rs485_; }
  Rs485Slave& Rs485() { return rs485_; }

  // Output reports whose code was one the firmware answers, per code.
  std::uint64_t CommandCount(std::uint8_t code) const { return commandCounts_[code]; }

 private:
  struct PendingReply {
    std::uint64_t DueMs;
    std::array<std::uint8_t, kReportLength> Bytes;
    std::size_t Length;
  };

  void Answer(std::uint8_t code);
  void Emit(const std::uint8_t* report, std::size_t length);
  void Record(const std::uint8_t* report, std::size_t length, bool accepted);
  void StepLively(std::uint32_t dtMs);
  std::uint32_t Random();
  void RefreshRegisters();

  DriverModel model_;
  DriverFaults faults_;
  Rs485Slave rs485_;
  Sink sink_;
  std::deque<ReceivedReport> received_;
  std::deque<PendingReply> pending_;
  std::array<std::uint64_t, 256> commandCounts_{};
  std::uint64_t totalReceived_ = 0;
  std::uint64_t totalReplies_ = 0;
  std::uint64_t nowMs_ = 0;
  bool clockSet_ = false;

  // Lively state.
  bool lively_ = false;
  std::uint32_t rng_ = 1;
  std::uint64_t livelyMs_ = 0;      // time spent in lively mode
  double temperature_ = 25.0;       // degrees, kept fractional so slow drift accumulates
  double pwm_ = 0.0;                // driver units, signed
  double encoder_ = 0.0;
  std::uint32_t stopLeftMs_ = 0;    // current-limit stop still to run
  std::uint32_t faultLeftMs_ = 0;   // fault still to run
  std::uint32_t pollCarryMs_ = 0;   // towards the next poll of the lively mode's bus master
  bool busMaster_ = true;
  std::uint32_t nextEventMs_ = 0;   // countdown to the next stop or fault
  std::uint32_t faultEveryMs_ = 0;
  int direction_ = 1;
};

}  // namespace zrv::sim
