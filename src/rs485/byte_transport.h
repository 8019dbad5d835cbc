// Raw bytes to and from an RS485 adapter, whatever it is: a serial port, the simulated line. Its
// handlers run on the thread of the event loop that owns the transport; nothing here blocks.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "modbus/link_verdict.h"
#include "modbus/rtu_timing.h"

namespace zrv {

class ByteTransport {
 public:
  virtual ~ByteTransport() = default;

  // Opens the adapter at these settings (8 data bits, 1 stop bit); None on success.
  virtual modbus::PortErrorKind Open(const modbus::LineSettings& settings) = 0;
  virtual void Close() = 0;
  // Hands bytes over for sending; false when the port has failed.
  virtual bool Write(std::span<const std::uint8_t> bytes) = 0;
  // Hands over, now, through OnReceived, what has arrived and not yet been handed over.
  virtual void TakePending() {}

  // Bytes as they arrive.
  std::function<void(std::span<const std::uint8_t>)> OnReceived;
  // The port failed while open (unplugged, for one).
  std::function<void(modbus::PortErrorKind)> OnError;
};

}  // namespace zrv
