// The link test run against the simulated driver on the paced line: each fault of the line gives
// its own verdict.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "modbus/link_test.h"
#include "protocol/register_map.h"
#include "sim/rs485_line.h"
#include "sim/simulated_driver.h"

namespace zrv::sim {
namespace {

using modbus::LinkTest;
using modbus::LinkTestPlan;
using modbus::LinkTestResult;
using modbus::LinkTestStep;
using modbus::LinkVerdict;

struct Outcome {
  LinkTestResult Result;
  modbus::RegisterTable Table = modbus::RegisterTable::Holding;
  std::uint64_t ElapsedUs = 0;
  std::size_t Events = 0;
};

class LinkTestBench : public ::testing::Test {
 protected:
  LinkTestBench() : line(driver) {
    driver.Model().Modbus = {38400, 0, 12};
    for (const RegisterRun& run : kBlockRegisterRuns) {
      for (std::uint16_t i = 0; i < run.Count; ++i) {
        const auto v = static_cast<std::uint16_t>(2000 + run.First + i);
        std::memcpy(driver.Model().Registers.Bytes.data() + run.Offset + 2 * i, &v, sizeof v);
      }
    }
  }

  // Runs the test to its end as an event loop would: the line's next character or the test's
  // wake-up, whichever is first. `usb`: whether a driver on USB shows its counter and registers.
  Outcome Run(const LinkTestPlan& how, bool usb = true, int cancelAfterEvents = -1) {
    modbus::UsbView view;
    if (usb) {
      view.CounterBefore = driver.Model().GoodFrames;
      view.RegistersBefore = driver.Model().Registers;
    }
    line.SetAdapterSettings(how.Line);
    LinkTest test(how);
    const std::uint64_t start = line.NowUs();
    LinkTestStep step = test.Start(start);
    Outcome out;
    while (true) {
      if (step.Send) line.Send(*step.Send);
      if (step.Done) break;
      if (static_cast<int>(out.Events) == cancelAfterEvents) {
        test.Cancel();
        break;
      }
      EXPECT_TRUE(step.WakeAtUs) << "a running test always asks to be woken";
      if (!step.WakeAtUs || ++out.Events > 100000) break;
      std::uint64_t next = *step.WakeAtUs;
      if (const auto e = line.NextEventUs(); e && *e < next) next = *e;
      line.AdvanceTo(next);
      const std::vector<std::uint8_t> got = line.TakeReceived();
      step = got.empty() ? test.OnWake(line.NowUs()) : test.OnReceived(got, line.NowUs());
    }
    if (usb) {
      view.CounterAfter = driver.Model().GoodFrames;
      view.RegistersAfter = driver.Model().Registers;
    }
    out.Result = test.Verdict(view);
    out.Table = test.Table();
    out.ElapsedUs = line.NowUs() - start;
    return out;
  }

  Outcome RunWith(Rs485Fault fault, bool usb = true) {
    line.SetFault(fault);
    return Run(plan, usb);
  }

  SimulatedDriver driver;
  Rs485Line line;
  const LinkTestPlan plan{{38400, 0}, 12, 5};
};

TEST_F(LinkTestBench, AHealthyLineIsOkWithItsNumbers) {
  const Outcome o = RunWith(Rs485Fault::None);
  EXPECT_EQ(o.Result.Verdict, LinkVerdict::Ok);
  EXPECT_EQ(o.Result.Sent, 10U);
  EXPECT_EQ(o.Result.Answered, 10U);
  EXPECT_EQ(o.Result.CounterRise, 10);
  EXPECT_EQ(o.Table, modbus::RegisterTable::Holding);
  // A 14-register read at 38400: 41 characters (11.7 ms), a frame gap and the turnaround.
  ASSERT_TRUE(o.Result.MaxRoundTripUs);
  EXPECT_GT(*o.Result.MedianRoundTripUs, 12000U);
  EXPECT_LT(*o.Result.MaxRoundTripUs, 20000U);
}

TEST_F(LinkTestBench, EachFaultGivesItsVerdict) {
  struct Case {
    Rs485Fault Fault;
    LinkVerdict Verdict;
  };
  for (const Case c : {Case{Rs485Fault::Deaf, LinkVerdict::DriverHearsNoAnswer},
                       Case{Rs485Fault::Swapped, LinkVerdict::NothingReachesDriver},
                       Case{Rs485Fault::Settings, LinkVerdict::NothingReachesDriver},
                       Case{Rs485Fault::NoTermination, LinkVerdict::Noisy},
                       Case{Rs485Fault::Echo, LinkVerdict::Echo},
                       Case{Rs485Fault::Twin, LinkVerdict::AnotherDevice},
                       Case{Rs485Fault::Slow, LinkVerdict::Ok}}) {
    const Outcome o = RunWith(c.Fault);
    EXPECT_EQ(o.Result.Verdict, c.Verdict) << Rs485FaultName(c.Fault) << " gave "
                                           << modbus::VerdictKey(o.Result.Verdict);
    EXPECT_EQ(o.Result.Sent, 10U) << Rs485FaultName(c.Fault);
  }
}

TEST_F(LinkTestBench, TheNumbersShowTheFaultAndTheRightSettingsCureIt) {
  EXPECT_EQ(RunWith(Rs485Fault::Deaf).Result.CounterRise, 10);
  EXPECT_TRUE(RunWith(Rs485Fault::Echo).Result.Echo);
  // The slow driver's answers come late but inside the time-out.
  const Outcome fast = RunWith(Rs485Fault::None);
  const Outcome slow = RunWith(Rs485Fault::Slow);
  EXPECT_EQ(slow.Result.Answered, 10U);
  EXPECT_GT(*slow.Result.MedianRoundTripUs, *fast.Result.MedianRoundTripUs + Rs485Line::kSlowTurnaroundUs / 2);
  // At the settings the driver really listens at, the line under the Settings fault works.
  line.SetFault(Rs485Fault::Settings);
  LinkTestPlan real = plan;
  real.Line = line.DriverLineSettings();
  EXPECT_EQ(Run(real).Result.Verdict, LinkVerdict::Ok);
  // Without USB, silence is only "no answer", and a twin is an answering slave like any other.
  EXPECT_EQ(RunWith(Rs485Fault::Deaf, false).Result.Verdict, LinkVerdict::NoAnswer);
  EXPECT_EQ(RunWith(Rs485Fault::Twin, false).Result.Verdict, LinkVerdict::Ok);
}

TEST_F(LinkTestBench, InputRegistersAreTriedWhenHoldingOnesAreRefused) {
  driver.Rs485().SetHoldingRegisters(false);
  const Outcome o = RunWith(Rs485Fault::None);
  EXPECT_EQ(o.Table, modbus::RegisterTable::Input);
  EXPECT_EQ(o.Result.Verdict, LinkVerdict::Ok);
  EXPECT_EQ(o.Result.Sent, 11U);  // the refused first read, then ten of input registers
  EXPECT_EQ(o.Result.Answered, 11U);
}

TEST_F(LinkTestBench, APortErrorEndsTheTestAndCancelStopsItWhereItStands) {
  LinkTest test(plan);
  const LinkTestStep step = test.OnPortError(modbus::PortErrorKind::Busy);
  EXPECT_TRUE(step.Done);
  EXPECT_FALSE(step.Send);
  const LinkTestResult r = test.Verdict({});
  EXPECT_EQ(r.Verdict, LinkVerdict::PortError);
  EXPECT_EQ(modbus::PortErrorKey(r.Port), "busy");

  const std::uint64_t before = driver.Rs485().FramesSeen();
  const Outcome cancelled = Run(plan, true, 3);
  EXPECT_LT(cancelled.Result.Sent, 10U);
  EXPECT_GE(cancelled.Result.Sent, 1U);
  line.AdvanceTo(line.NowUs() + 1000000);
  EXPECT_EQ(driver.Rs485().FramesSeen() - before, cancelled.Result.Sent);  // nothing more went out
}

TEST_F(LinkTestBench, ASilentTestTakesItsTimeOutsAndNoMore) {
  // Ten requests, each waiting its whole time-out, with a frame gap between them.
  const Outcome o = RunWith(Rs485Fault::Swapped);
  std::uint64_t expected = 0;
  for (std::size_t i = 0; i < modbus::kPreviewReadCount; ++i) {
    expected += 5 * modbus::ResponseTimeoutUs(38400, *modbus::PreviewRead(modbus::RegisterTable::Holding, 12, i));
  }
  expected += 9 * modbus::FrameGapUs(38400);
  EXPECT_EQ(o.ElapsedUs, expected);
}

}  // namespace
}  // namespace zrv::sim
