#include "record/capture_trigger.h"

#include <gtest/gtest.h>

#include <vector>

namespace zrv {
namespace {

using namespace std::chrono_literals;

class CaptureTriggerTest : public ::testing::Test {
 protected:
  // Feeds readings every 40 ms from `from` to before `to` with `fault`; returns the onsets seen.
  std::vector<SteadyTime> Run(std::chrono::milliseconds from, std::chrono::milliseconds to,
                              std::uint8_t fault) {
    std::vector<SteadyTime> onsets;
    for (auto t = from; t < to; t += 40ms) {
      LiveStatus status{};
      status.FaultCode = fault;
      if (trigger.Feed(MakeSample(status, DriverLimits{}, SteadyTime(t), WallTime(t)))) {
        onsets.push_back(SteadyTime(t));
      }
    }
    return onsets;
  }
  void Disconnect(std::chrono::milliseconds t) {
    EXPECT_FALSE(trigger.Feed(MakeDisconnectedSample(SteadyTime(t), WallTime(t))));
  }

  CaptureTrigger trigger;
};

TEST_F(CaptureTriggerTest, FaultOnOffOnGivesOneCaptureEachDueFiveSecondsAfter) {
  EXPECT_TRUE(Run(0ms, 20s, 0).empty());
  EXPECT_EQ(Run(20s, 21s, 3), std::vector<SteadyTime>{SteadyTime(20s)});
  EXPECT_TRUE(Run(21s, 22s, 0).empty());
  // Another code straight after another fault is no new onset; only 0 -> fault counts.
  EXPECT_EQ(Run(22s, 23s, 1), std::vector<SteadyTime>{SteadyTime(22s)});
  EXPECT_TRUE(Run(23s, 24s, 2).empty());
  EXPECT_EQ(trigger.Pending(), 2U);

  EXPECT_FALSE(trigger.PopDue(SteadyTime(25s)));
  const auto first = trigger.PopDue(SteadyTime(25s) + 1ms);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->FaultCode, 3);
  EXPECT_EQ(first->From, SteadyTime(10s));
  EXPECT_EQ(first->Until, SteadyTime(25s));
  EXPECT_FALSE(trigger.PopDue(SteadyTime(26s)));
  const auto second = trigger.PopDue(SteadyTime(27s) + 1ms);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->FaultCode, 1);
  EXPECT_EQ(trigger.Pending(), 0U);
}

TEST_F(CaptureTriggerTest, FaultAlreadyThereAtTheStartOrAfterAReconnectionIsNoOnset) {
  EXPECT_TRUE(Run(0ms, 2s, 4).empty());
  EXPECT_EQ(Run(2s, 3s, 0).size(), 0U);
  EXPECT_EQ(Run(3s, 4s, 4).size(), 1U);

  // The fault came while the driver was away: its moment is unknown.
  Run(4s, 5s, 0);
  Disconnect(5s);
  EXPECT_TRUE(Run(8s, 9s, 2).empty());
}

TEST_F(CaptureTriggerTest, SilenceOnALiveConnectionDoesNotHideAnOnset) {
  Run(0ms, 1s, 0);
  // No replies for 3 s, then the driver answers with a fault.
  EXPECT_EQ(Run(4s, 5s, 5), std::vector<SteadyTime>{SteadyTime(4s)});
}

TEST_F(CaptureTriggerTest, LosingTheConnectionCutsPendingCapturesShort) {
  Run(0ms, 1s, 0);
  Run(1s, 2s, 1);
  Disconnect(3s);
  EXPECT_FALSE(trigger.PopDue(SteadyTime(3s)));
  const auto cut = trigger.PopDue(SteadyTime(3s) + 1ms);
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->Until, SteadyTime(3s));
}

TEST_F(CaptureTriggerTest, AFlappingFaultIsBoundedAndCounted) {
  std::size_t onsets = 0;
  for (int i = 0; i < 20; ++i) {
    const auto t = std::chrono::milliseconds(i * 80);
    onsets += Run(t, t + 40ms, 0).size();
    onsets += Run(t + 40ms, t + 80ms, 1).size();
  }
  EXPECT_EQ(onsets, 20U);
  EXPECT_EQ(trigger.Pending(), CaptureTrigger::kMaxPending);
  EXPECT_EQ(trigger.Skipped(), 20U - CaptureTrigger::kMaxPending);
}

}  // namespace
}  // namespace zrv
