// What came back on the line after one request, judged against that request. The bytes are
// everything received since the request went out; `lineSilent` says that no more are coming (the
// line has been quiet for the frame gap, or the time-out has passed), so a frame still unfinished
// can be called short.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "modbus/request.h"

namespace zrv::modbus {

enum class ReplyKind {
  Nothing,        // no byte has come (after the local echo, if there was one)
  NeedMore,       // a frame has begun: wait for more or for silence (never when lineSilent)
  Answer,         // the normal answer to this request
  Exception,      // this slave refused this function: ExceptionCode says why
  CrcError,       // a frame of the expected shape whose CRC is wrong
  WrongSlave,     // a good frame from another address
  WrongFunction,  // a good frame from this slave with a function code this request did not ask for
  Short,          // the line fell silent inside a frame
  Garbage,        // bytes that make no frame of this exchange (a well-formed but wrong answer too)
};

// Standard exception codes seen from the driver.
inline constexpr std::uint8_t kIllegalFunction = 0x01;
inline constexpr std::uint8_t kIllegalDataAddress = 0x02;
inline constexpr std::uint8_t kIllegalDataValue = 0x03;

struct Reply {
  ReplyKind Kind = ReplyKind::Nothing;
  // The request's own eight bytes came back before anything else: the adapter hears itself.
  bool EchoSeen = false;
  std::uint8_t ExceptionCode = 0;                          // Kind == Exception
  std::uint16_t RegisterCount = 0;                         // Kind == Answer to a read
  std::array<std::uint16_t, kMostRegistersPerRead> Registers{};
  std::uint16_t EchoData = 0;                              // Kind == Answer to the echo test
  // Bytes after the frame that was judged (another transmission running on).
  std::size_t Extra = 0;

  // The exchange is over: a frame was judged, or silence ended it.
  bool Final() const { return Kind != ReplyKind::Nothing && Kind != ReplyKind::NeedMore; }
  // A frame from the asked slave: it heard the request and could answer.
  bool FromSlave() const { return Kind == ReplyKind::Answer || Kind == ReplyKind::Exception; }
};

Reply ParseReply(const Request& request, std::span<const std::uint8_t> received, bool lineSilent);

}  // namespace zrv::modbus
