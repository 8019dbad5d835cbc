#include "sim/rs485_line.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "protocol/register_map.h"
#include "protocol/reply_decoder.h"

namespace zrv::sim {

namespace {

constexpr std::array<std::string_view, 8> kFaultNames = {
    "none", "rs485-swapped", "rs485-no-termination", "rs485-deaf",
    "rs485-echo", "rs485-twin", "rs485-slow", "rs485-settings"};

// What reflections do to a character: some of its bits come out wrong, parity still even.
constexpr std::uint8_t kMangle = 0x5A;
constexpr std::uint64_t kCorruptEvery = 3;
// How the twin's values differ from the driver's: every word, so every register disagrees.
constexpr std::uint16_t kTwinDifference = 0x1357;

}  // namespace

std::string_view Rs485FaultName(Rs485Fault fault) { return kFaultNames[static_cast<std::size_t>(fault)]; }

std::optional<Rs485Fault> Rs485FaultFromName(std::string_view name) {
  for (std::size_t i = 0; i < kFaultNames.size(); ++i) {
    if (kFaultNames[i] == name) return static_cast<Rs485Fault>(i);
  }
  return std::nullopt;
}

Rs485Line::Rs485Line(SimulatedDriver& driver) : driver_(driver) {}

modbus::LineSettings Rs485Line::DriverLineSettings() const {
  modbus::LineSettings own = Rs485Slave::Settings(driver_.Model());
  if (fault_ != Rs485Fault::Settings) return own;
  // The next offered baud rate and the next parity: settings never reported, never equal.
  const auto* at = std::find(kOfferedBaudRates.begin(), kOfferedBaudRates.end(), own.Baudrate);
  own.Baudrate = (at == kOfferedBaudRates.end() || at + 1 == kOfferedBaudRates.end()) ? kOfferedBaudRates.front()
                                                                                      : *(at + 1);
  own.Parity = static_cast<std::uint8_t>((own.Parity + 1) % (kHighestParity + 1));
  return own;
}

void Rs485Line::Send(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return;
  const std::uint64_t start = std::max(nowUs_, masterTxFreeUs_);
  // The driver's UART decodes a character only at its own baud rate and parity, and not at all on
  // crossed wires.
  const bool damaged = fault_ == Rs485Fault::Swapped || adapter_ != DriverLineSettings();
  const bool mangled = fault_ == Rs485Fault::NoTermination && ++masterFrames_ % kCorruptEvery == 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::uint64_t at = start + modbus::TransmitTimeUs(adapter_.Baudrate, i + 1);
    std::uint8_t value = bytes[i];
    if (mangled && i == bytes.size() / 2) value ^= kMangle;
    toDriver_.push_back({at, value, damaged});
    if (fault_ == Rs485Fault::Echo) ToMaster(at, bytes[i]);
  }
  masterTxFreeUs_ = start + modbus::TransmitTimeUs(adapter_.Baudrate, bytes.size());
}

std::vector<std::uint8_t> Rs485Line::TakeReceived() {
  std::vector<std::uint8_t> out;
  out.swap(received_);
  return out;
}

std::optional<std::uint64_t> Rs485Line::FrameEndUs() const {
  if (frame_.empty()) return std::nullopt;
  return frameLastUs_ + modbus::FrameGapUs(DriverLineSettings().Baudrate);
}

std::optional<std::uint64_t> Rs485Line::NextEventUs() const {
  std::optional<std::uint64_t> next = FrameEndUs();
  for (const std::deque<Character>* q : {&toDriver_, &toMaster_}) {
    if (!q->empty() && (!next || q->front().AtUs < *next)) next = q->front().AtUs;
  }
  return next;
}

void Rs485Line::AdvanceTo(std::uint64_t nowUs) {
  nowUs = std::max(nowUs, nowUs_);
  for (;;) {
    // The earliest of: a character reaching the driver, the driver's frame gap running out, a
    // character reaching the master. A frame ends before a character due at the same moment.
    const std::optional<std::uint64_t> frameEnd = FrameEndUs();
    const std::uint64_t driverAt = toDriver_.empty() ? UINT64_MAX : toDriver_.front().AtUs;
    const std::uint64_t masterAt = toMaster_.empty() ? UINT64_MAX : toMaster_.front().AtUs;
    const std::uint64_t endAt = frameEnd.value_or(UINT64_MAX);
    const std::uint64_t first = std::min({driverAt, masterAt, endAt});
    if (first == UINT64_MAX || first > nowUs) break;
    nowUs_ = first;
    if (endAt == first) {
      EndFrame(first);
    } else if (driverAt == first) {
      DeliverToDriver(toDriver_.front());
      toDriver_.pop_front();
    } else {
      received_.push_back(toMaster_.front().Value);
      toMaster_.pop_front();
    }
  }
  nowUs_ = nowUs;
}

void Rs485Line::DeliverToDriver(const Character& c) {
  ++charactersToDriver_;
  if (c.Damaged) ++damagedToDriver_;
  frame_.push_back(c.Value);
  frameDamaged_ = frameDamaged_ || c.Damaged;
  frameLastUs_ = c.AtUs;
}

void Rs485Line::EndFrame(std::uint64_t atUs) {
  ++framesToDriver_;
  const std::vector<std::uint8_t> frame = std::move(frame_);
  const bool damaged = frameDamaged_;
  frame_.clear();
  frameDamaged_ = false;

  std::vector<std::uint8_t> answer = driver_.OnRs485Frame(frame, damaged);
  if (fault_ == Rs485Fault::Twin) {
    // The twin hears the same frame at the same settings and address, holds other values, and its
    // answer is the one on the line.
    twin_.Modbus = driver_.Model().Modbus;
    twin_.Registers = driver_.Model().Registers;
    for (const RegisterRun& run : kBlockRegisterRuns) {
      for (std::size_t w = 0; w < run.Count; ++w) {
        std::uint16_t word = 0;
        std::memcpy(&word, twin_.Registers.Bytes.data() + run.Offset + 2 * w, sizeof word);
        word ^= kTwinDifference;
        std::memcpy(twin_.Registers.Bytes.data() + run.Offset + 2 * w, &word, sizeof word);
      }
    }
    answer = twinSlave_.OnFrame(twin_, frame, damaged);
  }
  if (answer.empty() || fault_ == Rs485Fault::Deaf) return;

  const modbus::LineSettings driverLine = DriverLineSettings();
  const std::uint64_t turnaround = fault_ == Rs485Fault::Slow ? kSlowTurnaroundUs : kTurnaroundUs;
  const std::uint64_t start = std::max(atUs + turnaround, driverTxFreeUs_);
  const bool mangled = fault_ == Rs485Fault::NoTermination && ++driverFrames_ % kCorruptEvery == 0;
  for (std::size_t i = 0; i < answer.size(); ++i) {
    std::uint8_t value = answer[i];
    if (mangled && i == answer.size() / 2) value ^= kMangle;
    ToMaster(start + modbus::TransmitTimeUs(driverLine.Baudrate, i + 1), value);
  }
  driverTxFreeUs_ = start + modbus::TransmitTimeUs(driverLine.Baudrate, answer.size());
}

void Rs485Line::ToMaster(std::uint64_t atUs, std::uint8_t value) {
  const auto at = std::upper_bound(toMaster_.begin(), toMaster_.end(), atUs,
                                   [](std::uint64_t t, const Character& c) { return t < c.AtUs; });
  toMaster_.insert(at, Character{atUs, value, false});
}

}  // namespace zrv::sim
