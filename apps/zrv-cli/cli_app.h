// zrv-cli as a function: arguments in, text out, an exit code back. main() passes the real
// streams; tests pass their own platform, probes and streams and run it in-process.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "doctor.h"
#include "output_sink.h"
#include "link/platform/hid_platform.h"

namespace zrv::cli {

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
};

// Needs a QCoreApplication on the calling thread.
int RunCli(const std::vector<std::string>& args, const CliContext& context);

}  // namespace zrv::cli
