#include "modbus/response.h"

#include <algorithm>

#include "modbus/crc16.h"

namespace zrv::modbus {

namespace {

// The longest RTU frame; more bytes than that without a judged frame is no frame at all.
constexpr std::size_t kLongestFrame = 256;

bool StartsWith(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> prefix) {
  return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

// Judges `rest` (what follows the local echo, if any) as the slave's frame.
Reply ParseFrame(const Request& request, std::span<const std::uint8_t> rest, bool lineSilent) {
  Reply reply;
  if (rest.empty()) {
    reply.Kind = ReplyKind::Nothing;
    return reply;
  }
  const std::uint8_t function = request.Function();
  std::size_t length = 0;  // 0: the frame's length cannot be told from its first bytes
  if (rest.size() >= 2 && rest[1] == (function | kExceptionFlag)) {
    length = 5;
  } else if (rest.size() >= 2 && rest[1] == function) {
    if (request.Kind() == RequestKind::Echo) {
      length = kRequestLength;
    } else if (rest.size() >= 3) {
      length = 5U + rest[2];
    }
  }

  if (length == 0) {
    // Too little to tell, or a function code this exchange does not know: only silence ends it.
    const bool knownFunction =
        rest.size() >= 2 && (rest[1] == function || rest[1] == (function | kExceptionFlag));
    if (!lineSilent && rest.size() < kLongestFrame) {
      reply.Kind = ReplyKind::NeedMore;
    } else if (rest.size() >= 2 && !knownFunction) {
      if (rest.size() >= 4 && rest.size() <= kLongestFrame && CrcMatches(rest)) {
        reply.Kind = rest[0] == request.Slave() ? ReplyKind::WrongFunction : ReplyKind::WrongSlave;
      } else {
        reply.Kind = ReplyKind::Garbage;
      }
    } else {
      reply.Kind = rest[0] == request.Slave() ? ReplyKind::Short : ReplyKind::Garbage;
    }
    return reply;
  }
  if (rest.size() < length) {
    reply.Kind = lineSilent ? ReplyKind::Short : ReplyKind::NeedMore;
    return reply;
  }

  const std::span<const std::uint8_t> frame = rest.first(length);
  reply.Extra = rest.size() - length;
  if (!CrcMatches(frame)) {
    reply.Kind = ReplyKind::CrcError;
    return reply;
  }
  if (frame[0] != request.Slave()) {
    reply.Kind = ReplyKind::WrongSlave;
    return reply;
  }
  if (frame[1] == (function | kExceptionFlag)) {
    reply.Kind = ReplyKind::Exception;
    reply.ExceptionCode = frame[2];
    return reply;
  }
  if (request.Kind() == RequestKind::Echo) {
    // The echo test answers with the request itself.
    reply.Kind = StartsWith(frame, request.Bytes()) ? ReplyKind::Answer : ReplyKind::Garbage;
    reply.EchoData = request.EchoData();
    return reply;
  }
  if (frame[2] != 2U * request.Count()) {
    reply.Kind = ReplyKind::Garbage;  // a good frame with another number of registers than asked
    return reply;
  }
  reply.Kind = ReplyKind::Answer;
  reply.RegisterCount = request.Count();
  for (std::size_t i = 0; i < request.Count(); ++i) {
    reply.Registers[i] = static_cast<std::uint16_t>((frame[3 + 2 * i] << 8) | frame[4 + 2 * i]);
  }
  return reply;
}

}  // namespace

Reply ParseReply(const Request& request, std::span<const std::uint8_t> received, bool lineSilent) {
  const std::span<const std::uint8_t> sent(request.Bytes());
  if (request.Kind() == RequestKind::Echo) {
    // The echo test's answer is the request itself: eight matching bytes are the answer once the
    // line is silent, and the local echo followed by the answer when eight more match.
    if (received.size() >= 2 * kRequestLength && StartsWith(received, sent) &&
        StartsWith(received.subspan(kRequestLength), sent)) {
      Reply reply = ParseFrame(request, received.subspan(kRequestLength), lineSilent);
      reply.EchoSeen = true;
      return reply;
    }
    if (received.size() == kRequestLength && StartsWith(received, sent) && !lineSilent) {
      Reply reply;
      reply.Kind = ReplyKind::NeedMore;
      return reply;
    }
    if (received.size() > kRequestLength && received.size() < 2 * kRequestLength &&
        StartsWith(received, sent) && !lineSilent &&
        StartsWith(sent, received.subspan(kRequestLength))) {
      Reply reply;
      reply.Kind = ReplyKind::NeedMore;  // the answer after the echo is on its way
      reply.EchoSeen = true;
      return reply;
    }
    return ParseFrame(request, received, lineSilent);
  }

  // A read's answer has an odd length and says how long it is in its third byte, so a whole
  // answer is taken as it is; only bytes that are no answer are checked for the request read back.
  const Reply whole = ParseFrame(request, received, lineSilent);
  if (whole.Kind == ReplyKind::Answer || whole.Kind == ReplyKind::Exception) return whole;
  if (StartsWith(received, sent)) {
    Reply reply = ParseFrame(request, received.subspan(kRequestLength), lineSilent);
    reply.EchoSeen = true;
    return reply;
  }
  if (!received.empty() && received.size() < kRequestLength && StartsWith(sent, received)) {
    // The echo or the answer: their first bytes are the same.
    Reply reply;
    reply.Kind = lineSilent ? ReplyKind::Short : ReplyKind::NeedMore;
    return reply;
  }
  return whole;
}

}  // namespace zrv::modbus
