// Time on an RS485 Modbus RTU line, in microseconds.
//
// A character is counted as 11 bits (start, 8 data, parity or a second stop bit, stop), as Modbus
// counts it whatever the parity; the driver's 8N1 frames without parity are 10 bits, so with no
// parity these times are a tenth on the safe side. A frame ends after 3.5 characters of silence;
// above 19200 baud that silence is fixed at 1.75 ms, as the RTU rules say, because faster UARTs
// and their interrupt latency cannot honour shorter gaps.
#pragma once

#include <cstdint>

#include "modbus/request.h"

namespace zrv::modbus {

inline constexpr std::uint32_t kBitsPerCharacter = 11;

// Where an adapter or a slave listens: baud rate, parity (0 none, 1 odd, 2 even); always 8 data bits
// and 1 stop bit.
struct LineSettings {
  std::uint32_t Baudrate = 19200;
  std::uint8_t Parity = 0;
  friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// The time `characters` take on the wire, rounded up to a whole microsecond.
std::uint64_t TransmitTimeUs(std::uint32_t baudrate, std::uint64_t characters);
inline std::uint64_t CharacterTimeUs(std::uint32_t baudrate) { return TransmitTimeUs(baudrate, 1); }

// The silence that ends a frame.
std::uint64_t FrameGapUs(std::uint32_t baudrate);

// What a slave may take between the end of a request and the start of its answer, beyond the
// wire: the driver's firmware answers within a few milliseconds, but a USB adapter adds its own
// latency in each direction (up to 16 ms per direction is common), so a generous allowance keeps
// a slow-but-working line from looking dead.
inline constexpr std::uint64_t kTurnaroundAllowanceUs = 50000;

// How long to wait for the end of the answer to `request` after the request's first byte went out:
// the request and its longest answer on the wire, a frame gap after each, and the allowance.
std::uint64_t ResponseTimeoutUs(std::uint32_t baudrate, const Request& request);

}  // namespace zrv::modbus
