// The link test's verdict from what a run of reads saw, and the order of a scan.
#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "modbus/link_verdict.h"
#include "modbus/scan_order.h"

namespace zrv::modbus {
namespace {

LinkTestInput Clean(std::uint32_t n) {
  LinkTestInput in;
  in.Sent = n;
  in.Answered = n;
  in.CounterBefore = 100;
  in.CounterAfter = static_cast<std::uint16_t>(100 + n);
  in.Values = Agreement{15, 0, 0};
  return in;
}

TEST(LinkVerdict, EachLineStateHasItsVerdict) {
  LinkTestInput in = Clean(10);
  EXPECT_EQ(JudgeLinkTest(in).Verdict, LinkVerdict::Ok);

  in = Clean(10);
  in.Answered = 0;  // the driver counted all ten, nobody answered
  EXPECT_EQ(JudgeLinkTest(in).Verdict, LinkVerdict::DriverHearsNoAnswer);
  in.CounterAfter = 100;
  EXPECT_EQ(JudgeLinkTest(in).Verdict, LinkVerdict::NothingReachesDriver);
  in.CounterBefore.reset();  // no driver on USB: silence is all that can be said
  EXPECT_EQ(JudgeLinkTest(in).Verdict, LinkVerdict::NoAnswer);

  in = Clean(10);
  in.Answered = 7;
  EXPECT_EQ(JudgeLinkTest(in).Verdict, LinkVerdict::Noisy);
  in.Answered = 10;
  in.Corrupted = 1;  // all answered in the end, one frame damaged on the way
  EXPECT_EQ(JudgeLinkTest(in).Verdict, LinkVerdict::Noisy);
  in = Clean(10);
  in.Answered = 0;
  in.Corrupted = 10;  // only damaged frames came back: noise, not silence
  EXPECT_EQ(JudgeLinkTest(in).Verdict, LinkVerdict::Noisy);

  in = Clean(10);
  in.EchoSeen = true;
  LinkTestResult r = JudgeLinkTest(in);
  EXPECT_EQ(r.Verdict, LinkVerdict::Echo);
  EXPECT_TRUE(r.Echo);

  in = Clean(10);
  in.Values = Agreement{15, 3, 0x7, 3};
  EXPECT_EQ(JudgeLinkTest(in).Verdict, LinkVerdict::AnotherDevice);
  // Measurements that moved outside the two USB readings alone tell nothing.
  in.Values = Agreement{15, 2, 0x180, 0};
  EXPECT_EQ(JudgeLinkTest(in).Verdict, LinkVerdict::Ok);

  in = Clean(10);
  in.Port = PortErrorKind::NoAccess;
  r = JudgeLinkTest(in);
  EXPECT_EQ(r.Verdict, LinkVerdict::PortError);
  EXPECT_EQ(PortErrorKey(r.Port), "no-access");
}

TEST(LinkVerdict, VerdictsThatNeedNoCounterStandWithoutUsb) {
  LinkTestInput in = Clean(4);
  in.CounterBefore.reset();
  in.CounterAfter.reset();
  in.Values.reset();
  EXPECT_EQ(JudgeLinkTest(in).Verdict, LinkVerdict::Ok);
  in.Answered = 2;
  EXPECT_EQ(JudgeLinkTest(in).Verdict, LinkVerdict::Noisy);
  in.Answered = 4;
  in.EchoSeen = true;
  EXPECT_EQ(JudgeLinkTest(in).Verdict, LinkVerdict::Echo);
  EXPECT_FALSE(JudgeLinkTest(in).CounterRise);
}

TEST(LinkVerdict, EchoIsToldAlongsideAWorseVerdict) {
  LinkTestInput in = Clean(5);
  in.EchoSeen = true;
  in.Answered = 0;
  in.CounterAfter = in.CounterBefore;
  const LinkTestResult r = JudgeLinkTest(in);
  EXPECT_EQ(r.Verdict, LinkVerdict::NothingReachesDriver);
  EXPECT_TRUE(r.Echo);
  in.Answered = 3;
  in.Values = Agreement{15, 15, 0x7FFF, 5};
  EXPECT_EQ(JudgeLinkTest(in).Verdict, LinkVerdict::AnotherDevice);
}

TEST(LinkVerdict, NumbersCarryTheCountsTheCounterRiseAndRoundTrips) {
  LinkTestInput in = Clean(5);
  in.CounterBefore = 65533;  // the counter wraps during the test
  in.CounterAfter = 2;
  in.RoundTripsUs = {9000, 4000, 7000, 5000, 30000};
  LinkTestResult r = JudgeLinkTest(in);
  EXPECT_EQ(r.CounterRise, 5);
  EXPECT_EQ(r.MedianRoundTripUs, 7000U);
  EXPECT_EQ(r.MaxRoundTripUs, 30000U);
  EXPECT_EQ(r.Answered, 5U);
  EXPECT_EQ(r.Sent, 5U);
  in.RoundTripsUs = {4000, 6000};
  EXPECT_EQ(JudgeLinkTest(in).MedianRoundTripUs, 5000U);
  in.RoundTripsUs.clear();
  EXPECT_FALSE(JudgeLinkTest(in).MedianRoundTripUs);
}

TEST(ScanOrder, CoversEverySettingAndAddressOnceMostLikelyFirst) {
  const std::vector<ScanProbe> order = ScanOrder(ModbusSettings{57600, 1, 42});
  ASSERT_EQ(order.size(), 5U * 3U * 127U);
  std::set<std::tuple<std::uint32_t, int, int>> seen;
  for (const ScanProbe& p : order) {
    EXPECT_TRUE(seen.insert({p.Line.Baudrate, p.Line.Parity, p.Slave}).second) << "twice";
    EXPECT_GE(p.Slave, 1);
    EXPECT_LE(p.Slave, 127);
  }
  // USB's settings, then USB's address and 1 at the common lines, then the rest of the addresses.
  EXPECT_EQ(order[0], (ScanProbe{{57600, 1}, 42}));
  EXPECT_EQ(order[1], (ScanProbe{{57600, 1}, 1}));
  EXPECT_EQ(order[2], (ScanProbe{{19200, 2}, 42}));
  EXPECT_EQ(order[3], (ScanProbe{{19200, 2}, 1}));
  EXPECT_EQ(order[4], (ScanProbe{{9600, 0}, 42}));
  EXPECT_EQ(order[14], (ScanProbe{{9600, 1}, 42}));  // the common six done, the rest in list order
  // After 15 lines x 2 likely addresses, USB's line is swept from address 2 to 127.
  EXPECT_EQ(order[30], (ScanProbe{{57600, 1}, 2}));
  EXPECT_EQ(order[30 + 39], (ScanProbe{{57600, 1}, 41}));
  EXPECT_EQ(order[30 + 40], (ScanProbe{{57600, 1}, 43}));
  EXPECT_EQ(order[30 + 125], (ScanProbe{{19200, 2}, 2}));
  EXPECT_EQ(order.back(), (ScanProbe{{115200, 2}, 127}));
}

TEST(ScanOrder, WithoutUsbOrWithSettingsItCannotTryTheCommonOnesLead) {
  const std::vector<ScanProbe> none = ScanOrder(std::nullopt);
  ASSERT_EQ(none.size(), 1905U);
  EXPECT_EQ(none[0], (ScanProbe{{19200, 2}, 1}));
  EXPECT_EQ(none[1], (ScanProbe{{9600, 0}, 1}));
  EXPECT_EQ(none[15], (ScanProbe{{19200, 2}, 2}));
  // The driver reporting 14400 baud, parity 7 and address 200: nothing of it can be tried.
  EXPECT_EQ(ScanOrder(ModbusSettings{14400, 7, 200}), none);
  // USB's line at the head even when it is a common one, listed once.
  const std::vector<ScanProbe> common = ScanOrder(ModbusSettings{9600, 0, 1});
  EXPECT_EQ(common.size(), 1905U);
  EXPECT_EQ(common[0], (ScanProbe{{9600, 0}, 1}));
  EXPECT_EQ(common[1], (ScanProbe{{19200, 2}, 1}));
}

TEST(ScanOrder, AProbeIsTheShortestRead) {
  const Request probe = *ProbeRequest(17);
  EXPECT_EQ(probe.Function(), kReadHoldingRegisters);
  EXPECT_EQ(probe.Count(), 1);
  EXPECT_EQ(probe.AnswerLength(), 7U);
  EXPECT_FALSE(ProbeRequest(0));
  // At 9600 a probe waits about 75 ms: a full sweep of 1905 silent probes stays within minutes.
  EXPECT_LT(ResponseTimeoutUs(9600, probe), 80000U);
}

}  // namespace
}  // namespace zrv::modbus
