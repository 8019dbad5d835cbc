// The driver's Modbus RTU slave, as its firmware answers on the RS485 line: whole frames in (as
// the UART framed them, a frame gap before and after), answers out. It answers only at the model's
// own address, reads 03 and 04 of registers 0..10 and 100..113 from the same register block reply
// 12 carries, and the echo test; every other function code gets exception 01 (it never changes
// anything), a register outside those runs exception 02. Every good frame it receives, for any
// address, raises the model's good-frame counter.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "modbus/rtu_timing.h"
#include "protocol/device_state.h"

namespace zrv::sim {

struct DriverModel;

class Rs485Slave {
 public:
  // `damaged`: a character of the frame had a framing or parity error. Returns the answer's bytes,
  // CRC included; empty when there is none (a bad frame, another address, broadcast).
  std::vector<std::uint8_t> OnFrame(DriverModel& model, std::span<const std::uint8_t> frame, bool damaged);

  // Where the slave listens: the model's baud rate and parity.
  static modbus::LineSettings Settings(const DriverModel& model);

  // A firmware that keeps its registers as input registers only refuses 03 with exception 01.
  void SetHoldingRegisters(bool on) { holding_ = on; }

  std::uint64_t FramesSeen() const { return framesSeen_; }
  std::uint64_t GoodFrames() const { return goodFrames_; }
  std::uint64_t Answers() const { return answers_; }

 private:
  bool holding_ = true;
  std::uint64_t framesSeen_ = 0;
  std::uint64_t goodFrames_ = 0;
  std::uint64_t answers_ = 0;
};

}  // namespace zrv::sim
