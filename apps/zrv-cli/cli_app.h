// zrv-cli as a function: arguments in, text out, an exit code back. main() passes the real
// streams; tests pass their own platform, probes and streams and run it in-process.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "doctor.h"
#include "output_sink.h"
#include "link/platform/hid_platform.h"

namespace zrv::cli {

class Simulation;

struct CliContext {
  IHidPlatform* platform = nullptr;  // null: the hidraw devices, or the simulation with --simulate
  IDoctorProbes* probes = nullptr;   // null: the real machine
  std::ostream* out = nullptr;      // the results, when `sink` is null (the tests' strings)
  OutputSink* sink = nullptr;       // the results, every write checked (the process's stdout)
  std::ostream* err = nullptr;
  // The program leaves as soon as its output is out, without stopping the reader thread in an
  // orderly way (that waits for the end of the reader's current wait, up to 100 ms); the kernel
  // closes the device. Tests keep the orderly teardown.
  bool exitWhenDone = false;
  // The simulation behind `platform`, when it is one: its driver's RS485 side serves the bus
  // commands. Null with --simulate and no platform: RunCli makes its own.
  Simulation* simulation = nullptr;
  // Sees every byte the bus commands write to the serial port.
  std::function<void(std::span<const std::uint8_t>)> busWritten;
};

// Needs a QCoreApplication on the calling thread.
int RunCli(const std::vector<std::string>& args, const CliContext& context);

}  // namespace zrv::cli
