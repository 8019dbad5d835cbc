// Runs a link test over a byte transport on the event loop: the test's wake-ups become a timer of
// the given time source, arriving bytes go straight to the test. Never blocks; Cancel stops it
// between any two events and closes the port.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "link/ttimer.h"
#include "modbus/link_test.h"
#include "rs485/byte_transport.h"

namespace zrv {

class LinkTestRunner {
 public:
  // `nowUs`: a monotonic clock in microseconds (the time source's own, in tests).
  LinkTestRunner(ByteTransport& transport, TimeSource& time, std::function<std::uint64_t()> nowUs);
  ~LinkTestRunner();
  LinkTestRunner(const LinkTestRunner&) = delete;
  LinkTestRunner& operator=(const LinkTestRunner&) = delete;

  // Opens the port and starts; false when a test is already running. A port that does not open
  // ends the test at once with a port error (OnFinished is called before Start returns).
  bool Start(const modbus::LinkTestPlan& plan);
  void Cancel();
  bool Running() const { return running_; }
  // The test under way or last run; null before the first Start.
  const modbus::LinkTest* Test() const { return test_.get(); }

  // Called once a test has ended (all reads done, a port error, or cancelled), the port closed.
  // The test holds what was seen; its Verdict wants what USB showed around it.
  std::function<void(const modbus::LinkTest& test)> OnFinished;

 private:
  void Apply(const modbus::LinkTestStep& step);
  void Finish();

  ByteTransport& transport_;
  TTimer timer_;
  std::function<std::uint64_t()> nowUs_;
  std::unique_ptr<modbus::LinkTest> test_;
  bool running_ = false;
  bool settling_ = false;  // opened, the first request not yet sent
};

}  // namespace zrv
