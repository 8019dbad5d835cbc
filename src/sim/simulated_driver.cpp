#include "simulated_driver.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "modbus/request.h"

namespace zrv::sim {

namespace {

constexpr std::uint8_t kCodeIdentity = static_cast<std::uint8_t>(CommandCode::ReadIdentity);
constexpr std::uint8_t kCodeStatus = static_cast<std::uint8_t>(CommandCode::ReadStatus);
constexpr std::uint8_t kCodeRegisters = static_cast<std::uint8_t>(CommandCode::ReadRegisters);
constexpr std::uint8_t kCodeReadModbus = static_cast<std::uint8_t>(CommandCode::ReadModbusSettings);
constexpr std::uint8_t kCodeWriteModbus = static_cast<std::uint8_t>(CommandCode::WriteModbusSettings);

// Bits of the status bytes that the lively mode drives.
constexpr std::uint8_t kInEnable = 0x01;
constexpr std::uint8_t kInDirection = 0x02;
constexpr std::uint8_t kInLimitPositive = 0x04;
constexpr std::uint8_t kInLimitNegative = 0x08;
constexpr std::uint8_t kOutError = 0x08;
constexpr std::uint8_t kOutCurrentLimit = 0x10;

// Driver states as the firmware reports them.
constexpr std::uint8_t kStateIdle = 0;
constexpr std::uint8_t kStateRunning = 1;
constexpr std::uint8_t kStateError = 2;
constexpr std::uint8_t kStateLimitStop = 3;

// Large jumps of the clock are not simulated step by step: the demo may sleep for hours.
constexpr std::uint64_t kMaxLivelyCatchUpMs = 10000;
constexpr std::uint32_t kLivelyStepMs = 20;

void PutU16(RegisterBlock& block, std::size_t offset, std::uint16_t value) {
  std::memcpy(block.Bytes.data() + offset, &value, sizeof value);
}

void PutI32(RegisterBlock& block, std::size_t offset, std::int32_t value) {
  std::memcpy(block.Bytes.data() + offset, &value, sizeof value);
}

// A triangle wave between 0 and `top` with the given period.
double Triangle(std::uint64_t t, std::uint64_t periodMs, double top) {
  const double phase = static_cast<double>(t % periodMs) / static_cast<double>(periodMs);
  return top * (phase < 0.5 ? phase * 2.0 : (1.0 - phase) * 2.0);
}

}  // namespace

void DriverModel::SetName(std::string_view name) {
  NameBytes.fill(0);
  std::copy_n(name.data(), std::min<std::size_t>(name.size(), NameBytes.size() - 1), NameBytes.data());
}

std::string_view DriverModel::Name() const {
  const auto* end = std::find(NameBytes.begin(), NameBytes.end(), '\0');
  return {NameBytes.data(), static_cast<std::size_t>(end - NameBytes.begin())};
}

std::vector<std::uint8_t> ReceivedReport::Payload() const {
  if (Bytes.size() < 2) return {};
  return {Bytes.begin() + 1, Bytes.end()};
}

SimulatedDriver::SimulatedDriver() {
  model_.SetName("ZRV-10A");
  LiveStatus& s = model_.Status;
  s.WorkMode = 2;
  s.Inputs = kInEnable;
  s.Switches = 0x05;  // internal potentiometer, soft start
  s.Temperature = 25;
  s.CurLim = model_.Limits.CurMax;
  s.PowerSupply = 24000;
  s.PwmLim = static_cast<std::int16_t>(model_.Limits.PwmMax);
}

bool SimulatedDriver::OnOutputReport(const std::uint8_t* report, std::size_t length) {
  if (faults_.FailWrites) return false;
  const bool accepted = report != nullptr && length == kReportLength && report[0] == kReportId;
  Record(report, length, accepted);
  if (!accepted) return true;  // the transport took it; the firmware ignores it

  const std::uint8_t code = report[1];
  if (code == kCodeWriteModbus) {
    ModbusSettings settings{};
    std::memcpy(&settings, report + 2, sizeof settings);
    model_.Modbus = settings;
  }
  switch (code) {
    case kCodeIdentity:
    case kCodeStatus:
    case kCodeRegisters:
    case kCodeReadModbus:
    case kCodeWriteModbus:
      ++commandCounts_[code];
      Answer(code);
      break;
    default:
      break;  // unknown commands get no answer
  }
  return true;
}

void SimulatedDriver::SendReply(std::uint8_t code) { Answer(code); }

bool SimulatedDriver::BuildReply(std::uint8_t code, std::array<std::uint8_t, kReportLength>& out) const {
  out.fill(0);
  out[0] = kReportId;
  out[1] = code;
  std::uint8_t* data = out.data() + 1;  // data[0] is the code, as the host sees it
  switch (code) {
    case kCodeIdentity:
      std::memcpy(data + 1, &model_.FirmwareByte, 1);
      std::memcpy(data + 2, model_.NameBytes.data(), model_.NameBytes.size());
      std::memcpy(data + 11, &model_.HardwareByte, 1);
      std::memcpy(data + 12, &model_.Limits, sizeof model_.Limits);
      std::memcpy(data + 22, &model_.Modbus, sizeof model_.Modbus);
      return true;
    case kCodeStatus:
      std::memcpy(data + 1, &model_.Status, sizeof model_.Status);
      return true;
    case kCodeRegisters:
      std::memcpy(data + 1, &model_.Status, 3);
      std::memcpy(data + 5, model_.Registers.Bytes.data(), model_.Registers.Bytes.size());
      // The frame count goes last: its high byte takes the block's first position.
      std::memcpy(data + 4, &model_.GoodFrames, sizeof model_.GoodFrames);
      return true;
    case kCodeReadModbus:
      std::memcpy(data + 1, &model_.Modbus, sizeof model_.Modbus);
      return true;
    case kCodeWriteModbus:
      return true;
    default:
      return false;
  }
}

void SimulatedDriver::Answer(std::uint8_t code) {
  if (faults_.SilentAll || faults_.SilentFor[code]) return;
  PendingReply reply{};
  if (!BuildReply(code, reply.Bytes)) return;
  if (faults_.WrongCode) reply.Bytes[1] = faults_.WrongCodeValue;
  reply.Length = kReportLength;
  const bool cut = faults_.ShortReplyLength > 0 &&
                   (faults_.ShortReplyOnlyFor == 0 || faults_.ShortReplyOnlyFor == code);
  if (cut) reply.Length = std::min(faults_.ShortReplyLength, kReportLength);

  if (faults_.ReplyDelayMs == 0) {
    Emit(reply.Bytes.data(), reply.Length);
    return;
  }
  reply.DueMs = nowMs_ + faults_.ReplyDelayMs;
  pending_.push_back(reply);
}

void SimulatedDriver::Emit(const std::uint8_t* report, std::size_t length) {
  ++totalReplies_;
  if (sink_) sink_(report, length);
}

void SimulatedDriver::Record(const std::uint8_t* report, std::size_t length, bool accepted) {
  ++totalReceived_;
  if (RecordLimit == 0) return;
  while (received_.size() >= RecordLimit) received_.pop_front();
  ReceivedReport r;
  if (report != nullptr) r.Bytes.assign(report, report + length);
  r.Accepted = accepted;
  received_.push_back(std::move(r));
}

void SimulatedDriver::Advance(std::uint64_t nowMs) {
  if (!clockSet_) {
    clockSet_ = true;
    nowMs_ = nowMs;
  }
  if (nowMs < nowMs_) nowMs = nowMs_;
  const std::uint64_t elapsed = nowMs - nowMs_;
  nowMs_ = nowMs;

  if (lively_ && elapsed > 0) {
    std::uint64_t left = std::min(elapsed, kMaxLivelyCatchUpMs);
    while (left > 0) {
      const auto step = static_cast<std::uint32_t>(std::min<std::uint64_t>(left, kLivelyStepMs));
      StepLively(step);
      left -= step;
    }
  }

  // Due answers leave in the order they were asked for; a sink may cause new ones, which wait
  // for a later call.
  std::size_t due = 0;
  while (due < pending_.size() && pending_[due].DueMs <= nowMs_) ++due;
  for (std::size_t i = 0; i < due; ++i) {
    const PendingReply reply = pending_.front();
    pending_.pop_front();
    Emit(reply.Bytes.data(), reply.Length);
  }
}

void SimulatedDriver::SetLively(bool on, std::uint32_t seed) {
  lively_ = on;
  if (!on) return;
  rng_ = seed == 0 ? 1 : seed;
  livelyMs_ = 0;
  temperature_ = model_.Status.Temperature;
  pwm_ = 0.0;
  stopLeftMs_ = 0;
  faultLeftMs_ = 0;
  nextEventMs_ = 8000 + Random() % 8000;
  direction_ = 1;
  model_.Status.WorkMode = 2;
  model_.Status.FaultCode = 0;
}

std::uint32_t SimulatedDriver::Random() {
  // xorshift32: repeatable and cheap; the quality is ample for moving needles.
  rng_ ^= rng_ << 13;
  rng_ ^= rng_ >> 17;
  rng_ ^= rng_ << 5;
  return rng_;
}

void SimulatedDriver::StepLively(std::uint32_t dtMs) {
  LiveStatus& s = model_.Status;
  const DriverLimits& lim = model_.Limits;
  livelyMs_ += dtMs;
  const double dt = dtMs;
  const double noise = static_cast<double>(Random() % 2001) / 1000.0 - 1.0;  // -1 .. 1

  // Now and then the load jams (the current reaches its limit and the driver stops) or the
  // driver reports a short fault; each clears itself.
  if (stopLeftMs_ == 0 && faultLeftMs_ == 0) {
    if (nextEventMs_ > dtMs) {
      nextEventMs_ -= dtMs;
    } else {
      // The count waits while a fault lasts (1 s), so faults on demand start every faultEveryMs_.
      nextEventMs_ = faultEveryMs_ > 0 ? std::max<std::uint32_t>(faultEveryMs_, 1001) - 1000
                                       : 15000 + Random() % 15000;
      if (faultEveryMs_ == 0 && Random() % 10 < 7) {
        stopLeftMs_ = 1500;
      } else {
        faultLeftMs_ = 1000;
        s.FaultCode = static_cast<std::uint8_t>(1 + Random() % 5);
      }
    }
  }
  const bool stopping = stopLeftMs_ > 0;
  const bool faulted = faultLeftMs_ > 0;
  const bool justStopped = stopping && stopLeftMs_ == 1500;

  // Set points from the inputs: speed from the potentiometer, direction flips every 30 s.
  const double pot = Triangle(livelyMs_, 12000, 3300.0);
  s.Potentiometer = static_cast<std::uint16_t>(std::lround(pot));
  s.Ain = static_cast<std::uint16_t>(std::lround(Triangle(livelyMs_ + 4000, 17000, 5000.0)));
  direction_ = (livelyMs_ / 30000) % 2 == 0 ? 1 : -1;

  const double pwmMax = lim.PwmMax;
  const double target = (stopping || faulted) ? 0.0 : direction_ * pot / 3300.0 * pwmMax * 0.95;
  const double ramp = pwmMax * dt / 1500.0;  // soft start: full scale in 1.5 s
  pwm_ += std::clamp(target - pwm_, -ramp, ramp);
  if (faulted) pwm_ = 0.0;  // a fault switches the bridge off at once
  pwm_ = std::clamp(pwm_, -pwmMax, pwmMax);
  s.PwmAct = static_cast<std::int16_t>(std::lround(pwm_));
  s.PwmLim = static_cast<std::int16_t>(std::min<std::uint16_t>(lim.PwmMax, 32767));

  // Current follows the PWM with some ripple; it hits the limit at the moment of a jam.
  const double curLim = lim.CurMax;
  double cur = 0.0;
  if (justStopped) {
    cur = curLim * (pwm_ < 0 ? -1.0 : 1.0);
  } else if (!faulted && pwmMax > 0) {
    cur = pwm_ / pwmMax * curLim * 0.45 + noise * curLim * 0.01;
  }
  cur = std::clamp(cur, -curLim, curLim);
  s.CurAct = static_cast<std::int32_t>(std::lround(cur));
  s.CurLim = static_cast<std::int32_t>(lim.CurMax);

  // Temperature drifts towards a point set by the current, slowly.
  const double tempTop = lim.TemperatureMax;
  const double tempTarget = 25.0 + 35.0 * std::fabs(cur) / std::max(curLim, 1.0);
  temperature_ += (tempTarget - temperature_) * dt / 20000.0;
  temperature_ = std::clamp(temperature_, 0.0, tempTop);
  s.Temperature = static_cast<std::uint16_t>(std::lround(temperature_));

  // The supply sags a little under load.
  const double supply = 24000.0 - std::fabs(cur) * 0.1 + noise * 40.0;
  s.PowerSupply = static_cast<std::uint32_t>(
      std::lround(std::clamp(supply, 0.0, static_cast<double>(lim.PowerSupplyMax))));

  std::uint8_t inputs = kInEnable;
  if (direction_ < 0) inputs |= kInDirection;
  if (pot > 3200.0) inputs |= direction_ > 0 ? kInLimitPositive : kInLimitNegative;
  s.Inputs = inputs;
  s.Outputs = static_cast<std::uint8_t>((faulted ? kOutError : 0) | (stopping ? kOutCurrentLimit : 0));

  if (faulted) {
    s.DriverState = kStateError;
  } else {
    s.FaultCode = 0;
    if (stopping) {
      s.DriverState = kStateLimitStop;
    } else {
      s.DriverState = std::fabs(pwm_) > pwmMax * 0.01 ? kStateRunning : kStateIdle;
    }
  }
  if (stopLeftMs_ > 0) stopLeftMs_ -= std::min(stopLeftMs_, dtMs);
  if (faultLeftMs_ > 0) faultLeftMs_ -= std::min(faultLeftMs_, dtMs);

  encoder_ += pwm_ * dt / 100.0;
  if (std::fabs(encoder_) > 2.0e9) encoder_ = 0.0;
  // A bus master on the RS485 line polls the driver four times a second, so the good-frame count
  // moves in the demo; its frames go through the slave like any other.
  pollCarryMs_ += busMaster_ ? dtMs : 0;
  while (pollCarryMs_ >= 250) {
    pollCarryMs_ -= 250;
    if (const auto poll = modbus::Request::ReadHolding(model_.Modbus.SlaveId, 100, 14)) {
      OnRs485Frame(poll->Bytes(), false);
    }
  }
  RefreshRegisters();
}

void SimulatedDriver::RefreshRegisters() {
  const LiveStatus& s = model_.Status;
  RegisterBlock& r = model_.Registers;
  PutU16(r, 6, 1);                                            // ControlWord: enabled
  PutU16(r, 8, s.WorkMode);                                   // ControlMode
  PutU16(r, 10, static_cast<std::uint16_t>(std::abs(s.PwmLim)));  // TargetPwm
  PutU16(r, 12, static_cast<std::uint16_t>(s.CurLim));        // TargetCurrent
  PutU16(r, 26, 1500);                                        // Softstart, ms
  PutU16(r, 28, s.DriverState);                               // StatusWord
  PutU16(r, 30, static_cast<std::uint16_t>(direction_ < 0 ? 1 : 0));  // Direction
  // Signed readings go out as their 16-bit two's complement words, as the firmware keeps them.
  PutU16(r, 32, static_cast<std::uint16_t>(s.PwmAct));        // ActualPwm
  PutU16(r, 34, static_cast<std::uint16_t>(static_cast<std::int16_t>(s.CurAct)));  // ActualCurrent
  PutU16(r, 42, s.FaultCode);                                 // FaultCode
  PutU16(r, 44, s.Temperature);                               // Temperature
  PutU16(r, 46, static_cast<std::uint16_t>(std::min<std::uint32_t>(s.PowerSupply, 65535)));
  PutU16(r, 48, s.Ain);                                       // AnalogInValue
  PutU16(r, 50, s.Potentiometer);                             // PotValue
  PutI32(r, 52, static_cast<std::int32_t>(std::lround(encoder_)));  // encoder count
}

}  // namespace zrv::sim
