// The simulated driver's paced RS485 line behind the transport interface: the adapter's port on a
// line whose time follows a clock. While the line owes anything it looks every millisecond, so
// bytes come out as they would from an adapter, a few at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "link/ttimer.h"
#include "rs485/byte_transport.h"
#include "sim/rs485_line.h"

namespace zrv {

class SimLineTransport final : public ByteTransport {
 public:
  SimLineTransport(sim::Rs485Line& line, TimeSource& time, std::function<std::uint64_t()> nowUs);

  // The port's fate on the next Open: None, or the error it fails with (missing, busy, no access).
  std::optional<modbus::PortErrorKind> FailOpen;

  modbus::PortErrorKind Open(const modbus::LineSettings& settings) override;
  void Close() override;
  bool Write(std::span<const std::uint8_t> bytes) override;
  bool IsOpen() const { return open_; }

 private:
  void Poll();

  sim::Rs485Line& line_;
  TTimer poll_;
  std::function<std::uint64_t()> nowUs_;
  bool open_ = false;
};

}  // namespace zrv
