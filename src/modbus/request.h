// The requests the tool may send on the RS485 line: a read of holding registers (03), a read of
// input registers (04) and the echo test (08, sub-function 0). Nothing else can be made: the only
// ways to a Request are the three factories below, the function code follows from which factory
// made it, and the bytes are built once, inside. A write to the driver cannot be expressed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace zrv::modbus {

inline constexpr std::uint8_t kReadHoldingRegisters = 0x03;
inline constexpr std::uint8_t kReadInputRegisters = 0x04;
inline constexpr std::uint8_t kDiagnostics = 0x08;
inline constexpr std::uint8_t kExceptionFlag = 0x80;

// Unicast addresses; 0 is broadcast, which nobody answers, and 248..255 are reserved.
inline constexpr std::uint8_t kLowestSlave = 1;
inline constexpr std::uint8_t kHighestSlave = 247;
// The most registers one read may ask for (the answer then fills a 256-byte frame).
inline constexpr std::uint16_t kMostRegistersPerRead = 125;

// Every request is eight bytes: address, function, two 16-bit fields, CRC (low byte first).
inline constexpr std::size_t kRequestLength = 8;
using RequestBytes = std::array<std::uint8_t, kRequestLength>;

enum class RequestKind : std::uint8_t { ReadHolding, ReadInput, Echo };

class Request {
 public:
  // None for an address outside 1..247, a count outside 1..125 or a run past register 65535.
  static std::optional<Request> ReadHolding(std::uint8_t slave, std::uint16_t first, std::uint16_t count);
  static std::optional<Request> ReadInput(std::uint8_t slave, std::uint16_t first, std::uint16_t count);
  // The echo test returns `data` as it was sent. None for an address outside 1..247.
  static std::optional<Request> Echo(std::uint8_t slave, std::uint16_t data);

  RequestKind Kind() const { return kind_; }
  std::uint8_t Slave() const { return bytes_[0]; }
  std::uint8_t Function() const { return bytes_[1]; }
  // Reads: the first register and how many. Echo: the sub-function (0) and the data.
  std::uint16_t First() const { return first_; }
  std::uint16_t Count() const { return kind_ == RequestKind::Echo ? 0 : second_; }
  std::uint16_t EchoData() const { return kind_ == RequestKind::Echo ? second_ : 0; }
  // The bytes that go out on the line, CRC included.
  const RequestBytes& Bytes() const { return bytes_; }
  // The length of a normal answer: 5 + 2 per register for a read, 8 for the echo.
  std::size_t AnswerLength() const;

 private:
  Request(RequestKind kind, std::uint8_t slave, std::uint16_t first, std::uint16_t second);
  static std::optional<Request> Read(RequestKind kind, std::uint8_t slave, std::uint16_t first,
                                     std::uint16_t count);

  RequestKind kind_;
  std::uint16_t first_;
  std::uint16_t second_;
  RequestBytes bytes_;
};

}  // namespace zrv::modbus
