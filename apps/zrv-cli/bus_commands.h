// bus read, bus test and bus scan: the driver's RS485 line through a USB-RS485 adapter, with the
// driver over USB (when one is attached) for its settings and its good-frame counter. Event driven
// on the calling thread; each command runs the event loop until it has ended.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <ostream>
#include <span>

#include "cli_options.h"
#include "driver_requests.h"
#include "output_sink.h"

namespace zrv {
class SimLinePty;
}

namespace zrv::cli {

struct BusContext {
  const CliOptions* options = nullptr;
  OutputSink* out = nullptr;
  std::ostream* err = nullptr;
  // The chosen driver over USB; null when none is attached (or it cannot be opened).
  DriverSession* session = nullptr;
  DriverRequests* link = nullptr;
  // --simulate: the simulated driver's RS485 side, used when no --port is given.
  QString simulatedPort;
  SimLinePty* simulatedLine = nullptr;
  // Sees every byte written to the port (tests).
  std::function<void(std::span<const std::uint8_t>)> written;
};

// Returns the exit code; the results went to `out`, the problems to `err`.
int RunBusCommand(const BusContext& context);

}  // namespace zrv::cli
