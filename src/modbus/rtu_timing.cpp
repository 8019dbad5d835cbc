#include "modbus/rtu_timing.h"

namespace zrv::modbus {

namespace {
constexpr std::uint64_t kMicrosecondsPerSecond = 1000000;
constexpr std::uint64_t kFixedGapUs = 1750;
constexpr std::uint32_t kFixedGapAbove = 19200;
}  // namespace

std::uint64_t TransmitTimeUs(std::uint32_t baudrate, std::uint64_t characters) {
  if (baudrate == 0) return 0;
  const std::uint64_t bitsTimesMillion = characters * kBitsPerCharacter * kMicrosecondsPerSecond;
  return (bitsTimesMillion + baudrate - 1) / baudrate;
}

std::uint64_t FrameGapUs(std::uint32_t baudrate) {
  if (baudrate == 0) return 0;
  if (baudrate > kFixedGapAbove) return kFixedGapUs;
  // 3.5 characters: 7 half characters, rounded up.
  const std::uint64_t bitsTimesMillion = 7 * kBitsPerCharacter * kMicrosecondsPerSecond;
  return (bitsTimesMillion + 2ULL * baudrate - 1) / (2ULL * baudrate);
}

std::uint64_t ResponseTimeoutUs(std::uint32_t baudrate, const Request& request) {
  const std::uint64_t wire = TransmitTimeUs(baudrate, kRequestLength + request.AnswerLength());
  return wire + 2 * FrameGapUs(baudrate) + kTurnaroundAllowanceUs;
}

}  // namespace zrv::modbus
