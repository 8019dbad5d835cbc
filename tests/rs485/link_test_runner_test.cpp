// The link test on the event loop: a runner over the simulated line's transport, with time moved by
// hand one millisecond at a time as the timers would see it.
#include <gtest/gtest.h>

#include <optional>

#include "rs485/link_test_runner.h"
#include "rs485/sim_line_transport.h"
#include "support/manual_time_source.h"

namespace zrv {
namespace {

using modbus::LinkVerdict;

class RunnerBench : public ::testing::Test {
 protected:
  RunnerBench()
      : line(driver),
        transport(line, time, [this] { return Now(); }),
        runner(transport, time, [this] { return Now(); }) {
    driver.Model().Modbus = {115200, 2, 3};
    runner.OnFinished = [this](const modbus::LinkTest& test) {
      ++finished;
      modbus::UsbView usb;
      usb.CounterBefore = counterBefore;
      usb.CounterAfter = driver.Model().GoodFrames;
      usb.RegistersBefore = driver.Model().Registers;
      usb.RegistersAfter = driver.Model().Registers;
      result = test.Verdict(usb);
      cancelled = test.Cancelled();
    };
  }

  std::uint64_t Now() const { return static_cast<std::uint64_t>(time.NowMs()) * 1000; }

  bool Start() {
    counterBefore = driver.Model().GoodFrames;
    return runner.Start(plan);
  }
  // Moves time until the runner is done, at most `limitMs`.
  int RunToEnd(int limitMs = 10000) {
    int ms = 0;
    while (runner.Running() && ms < limitMs) {
      time.Advance(1);
      ++ms;
    }
    return ms;
  }

  ManualTimeSource time;
  sim::SimulatedDriver driver;
  sim::Rs485Line line;
  SimLineTransport transport;
  LinkTestRunner runner;
  const modbus::LinkTestPlan plan{{115200, 2}, 3, 5};
  std::uint16_t counterBefore = 0;
  int finished = 0;
  bool cancelled = false;
  std::optional<modbus::LinkTestResult> result;
};

TEST_F(RunnerBench, AHealthyLineIsOkAndThePortIsClosedAfterwards) {
  ASSERT_TRUE(Start());
  EXPECT_TRUE(runner.Running());
  EXPECT_FALSE(Start());  // one test at a time
  const int ms = RunToEnd();
  EXPECT_FALSE(runner.Running());
  EXPECT_EQ(finished, 1);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->Verdict, LinkVerdict::Ok);
  EXPECT_EQ(result->Answered, 10U);
  EXPECT_EQ(result->CounterRise, 10);
  EXPECT_FALSE(transport.IsOpen());
  // Ten reads of a few milliseconds each at 115200 after the line has settled, not ten time-outs.
  EXPECT_LT(ms, 150);
}

TEST_F(RunnerBench, APortThatDoesNotOpenIsAPortError) {
  transport.FailOpen = modbus::PortErrorKind::NoAccess;
  ASSERT_TRUE(Start());
  EXPECT_FALSE(runner.Running());
  ASSERT_TRUE(result);
  EXPECT_EQ(result->Verdict, LinkVerdict::PortError);
  EXPECT_EQ(result->Port, modbus::PortErrorKind::NoAccess);
  EXPECT_EQ(result->Sent, 0U);
  EXPECT_EQ(driver.Rs485().FramesSeen(), 0U);
}

TEST_F(RunnerBench, CancelStopsItBetweenEventsAndNothingMoreGoesOut) {
  line.SetFault(sim::Rs485Fault::Swapped);  // every request waits its whole time-out
  ASSERT_TRUE(Start());
  time.Advance(120);
  runner.Cancel();
  EXPECT_FALSE(runner.Running());
  EXPECT_EQ(finished, 1);
  EXPECT_TRUE(cancelled);
  ASSERT_TRUE(result);
  const std::uint64_t sent = result->Sent;
  EXPECT_GE(sent, 1U);
  EXPECT_LT(sent, 10U);
  time.Advance(2000);
  line.AdvanceTo(Now());  // what the adapter had taken still goes out, and nothing after it
  EXPECT_EQ(driver.Rs485().FramesSeen(), sent);
  EXPECT_EQ(finished, 1);
  runner.Cancel();  // a second cancel changes nothing
  EXPECT_EQ(finished, 1);
}

}  // namespace
}  // namespace zrv
