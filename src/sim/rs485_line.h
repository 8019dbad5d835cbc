// An RS485 line between the PC's adapter (the master) and the simulated driver's slave, paced as
// a real one: every character takes 11 bits at the sender's baud rate, the slave frames what it
// hears by the frame gap at its own settings, answers after its turnaround, and its answer comes
// back character by character. Time is in microseconds and moves only through AdvanceTo, so a
// test moves it by hand and an adapter moves it from a clock.
//
// One fault at a time models what goes wrong on real lines. Not thread-safe.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "modbus/rtu_timing.h"
#include "sim/rs485_slave.h"
#include "sim/simulated_driver.h"

namespace zrv::sim {

enum class Rs485Fault {
  None,
  Swapped,        // A and B crossed: every character arrives damaged; nothing is answered
  NoTermination,  // reflections: about one frame in three (every third) has a character mangled, each way
  Deaf,           // the driver hears and answers, the adapter's receiver is dead
  Echo,           // the adapter reads back every character it sends
  Twin,           // a second device at the driver's address answers in its place, with other values
  Slow,           // the driver answers late, still inside the master's time-out
  Settings,       // the driver listens at other settings than it reports over USB
};
std::string_view Rs485FaultName(Rs485Fault fault);  // "none", "rs485-swapped", ...
std::optional<Rs485Fault> Rs485FaultFromName(std::string_view name);

class Rs485Line {
 public:
  // The driver must outlive the line.
  explicit Rs485Line(SimulatedDriver& driver);

  void SetFault(Rs485Fault fault) { fault_ = fault; }
  Rs485Fault Fault() const { return fault_; }

  // The settings the adapter's port was opened with.
  void SetAdapterSettings(const modbus::LineSettings& settings) { adapter_ = settings; }
  const modbus::LineSettings& AdapterSettings() const { return adapter_; }
  // Where the driver really listens: its own settings, other ones under the Settings fault.
  modbus::LineSettings DriverLineSettings() const;

  // The master sends `bytes` as one frame: the first character ends one character time from now
  // (or from the end of what is still going out).
  void Send(std::span<const std::uint8_t> bytes);
  // The characters that have reached the master by now, oldest first; they are taken.
  std::vector<std::uint8_t> TakeReceived();

  // Moves time to nowUs; time never goes back.
  void AdvanceTo(std::uint64_t nowUs);
  std::uint64_t NowUs() const { return nowUs_; }
  // When something next happens on the line; none when it is idle and nothing is owed.
  std::optional<std::uint64_t> NextEventUs() const;

  // What the driver's side saw.
  std::uint64_t CharactersToDriver() const { return charactersToDriver_; }
  std::uint64_t DamagedCharactersToDriver() const { return damagedToDriver_; }
  std::uint64_t FramesToDriver() const { return framesToDriver_; }
  // The twin's registers (the driver's with every word changed), for a test to compare.
  const DriverModel& TwinModel() const { return twin_; }

  // The driver's time from the end of a request to its answer's first character.
  static constexpr std::uint64_t kTurnaroundUs = 500;
  // Under the Slow fault: nine tenths of the master's allowance.
  static constexpr std::uint64_t kSlowTurnaroundUs = modbus::kTurnaroundAllowanceUs * 9 / 10;

 private:
  struct Character {
    std::uint64_t AtUs;  // when its stop bit ends
    std::uint8_t Value;
    bool Damaged;
  };
  void DeliverToDriver(const Character& c);
  void EndFrame(std::uint64_t atUs);
  void ToMaster(std::uint64_t atUs, std::uint8_t value);
  std::optional<std::uint64_t> FrameEndUs() const;

  SimulatedDriver& driver_;
  DriverModel twin_{};
  Rs485Slave twinSlave_;
  Rs485Fault fault_ = Rs485Fault::None;
  modbus::LineSettings adapter_{};
  std::uint64_t nowUs_ = 0;
  std::uint64_t masterTxFreeUs_ = 0;
  std::uint64_t driverTxFreeUs_ = 0;
  std::uint64_t masterFrames_ = 0;
  std::uint64_t driverFrames_ = 0;

  std::deque<Character> toDriver_;
  std::deque<Character> toMaster_;  // in time order
  std::vector<std::uint8_t> frame_;  // what the driver's UART has framed so far
  bool frameDamaged_ = false;
  std::uint64_t frameLastUs_ = 0;
  std::vector<std::uint8_t> received_;

  std::uint64_t charactersToDriver_ = 0;
  std::uint64_t damagedToDriver_ = 0;
  std::uint64_t framesToDriver_ = 0;
};

}  // namespace zrv::sim
