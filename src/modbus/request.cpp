#include "modbus/request.h"

#include "modbus/crc16.h"

namespace zrv::modbus {

namespace {

// The one place a function code is chosen, from the three kinds there are.
constexpr std::uint8_t FunctionOf(RequestKind kind) {
  switch (kind) {
    case RequestKind::ReadHolding:
      return kReadHoldingRegisters;
    case RequestKind::ReadInput:
      return kReadInputRegisters;
    case RequestKind::Echo:
      return kDiagnostics;
  }
  return kReadInputRegisters;  // unreachable: every kind is listed above
}

constexpr std::uint16_t kEchoSubFunction = 0x0000;

bool IsUnicast(std::uint8_t slave) { return slave >= kLowestSlave && slave <= kHighestSlave; }

}  // namespace

Request::Request(RequestKind kind, std::uint8_t slave, std::uint16_t first, std::uint16_t second)
    : kind_(kind), first_(first), second_(second), bytes_{} {
  bytes_[0] = slave;
  bytes_[1] = FunctionOf(kind);
  bytes_[2] = static_cast<std::uint8_t>(first >> 8);
  bytes_[3] = static_cast<std::uint8_t>(first & 0xFFU);
  bytes_[4] = static_cast<std::uint8_t>(second >> 8);
  bytes_[5] = static_cast<std::uint8_t>(second & 0xFFU);
  const std::uint16_t crc = Crc16(std::span<const std::uint8_t>(bytes_.data(), 6));
  bytes_[6] = static_cast<std::uint8_t>(crc & 0xFFU);
  bytes_[7] = static_cast<std::uint8_t>(crc >> 8);
}

std::optional<Request> Request::Read(RequestKind kind, std::uint8_t slave, std::uint16_t first,
                                     std::uint16_t count) {
  if (!IsUnicast(slave) || count == 0 || count > kMostRegistersPerRead) return std::nullopt;
  if (static_cast<std::uint32_t>(first) + count > 0x10000U) return std::nullopt;
  return Request(kind, slave, first, count);
}

std::optional<Request> Request::ReadHolding(std::uint8_t slave, std::uint16_t first, std::uint16_t count) {
  return Read(RequestKind::ReadHolding, slave, first, count);
}

std::optional<Request> Request::ReadInput(std::uint8_t slave, std::uint16_t first, std::uint16_t count) {
  return Read(RequestKind::ReadInput, slave, first, count);
}

std::optional<Request> Request::Echo(std::uint8_t slave, std::uint16_t data) {
  if (!IsUnicast(slave)) return std::nullopt;
  return Request(RequestKind::Echo, slave, kEchoSubFunction, data);
}

std::size_t Request::AnswerLength() const {
  return kind_ == RequestKind::Echo ? kRequestLength : 5U + 2U * second_;
}

}  // namespace zrv::modbus
