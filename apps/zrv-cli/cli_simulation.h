// --simulate: the simulated platform with simulated drivers behind it, in one of a few situations,
// for trying the tool without hardware and for testing it.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

#include "link/platform/sim/sim_hid_platform.h"
#include "sim/sim_driver_model.h"

namespace zrv {
class SimLinePty;
}

namespace zrv::cli {

// Scenario names: driver (one lively driver next to a mouse), none (only the mouse), two (two
// drivers), denied (a driver this user may not open), silent (a driver that never answers), late
// (answers after 1500 ms), mismatch (acknowledges a settings write but keeps other settings),
// lookalike (only a device named "ZRVXXX " with a blank); and rs485-swapped, rs485-deaf and the
// other faults of the simulated line: the lively driver with that fault on its RS485 line.
bool KnownScenario(const std::string& name);

class Simulation {
 public:
  // Plugs the devices of `scenario` (which must be known). Needs a QCoreApplication: the drivers'
  // clock runs on a timer of the calling thread.
  explicit Simulation(const std::string& scenario);
  ~Simulation();
  Simulation(const Simulation&) = delete;
  Simulation& operator=(const Simulation&) = delete;

  SimHidPlatform& Platform() { return platform_; }
  const std::vector<std::shared_ptr<SimDriverModel>>& Drivers() const { return drivers_; }
  // The first driver's RS485 side on a pseudo-terminal (not on Windows, and not when no terminal
  // could be made): what to open, or empty.
  QString Rs485Port() const;
#ifndef _WIN32
  SimLinePty* Rs485() const { return rs485_.get(); }
#endif

 private:
  SimHidPlatform platform_;
  std::vector<std::shared_ptr<SimDriverModel>> drivers_;
  std::vector<std::shared_ptr<ISimHidModel>> wrappers_;
  QTimer clock_;
#ifndef _WIN32
  std::unique_ptr<SimLinePty> rs485_;
#endif
};

}  // namespace zrv::cli
