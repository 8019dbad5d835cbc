#include "record/sample_ring.h"

#include <gtest/gtest.h>

namespace zrv {
namespace {

using namespace std::chrono_literals;

Sample ReadingAt(std::chrono::milliseconds t, std::uint16_t temperature = 0) {
  LiveStatus status{};
  status.Temperature = temperature;
  return MakeSample(status, DriverLimits{}, SteadyTime(t), WallTime(t));
}

TEST(SampleRing, KeepsTheNewestInOrderAcrossWrapAround) {
  SampleRing ring(5);
  for (int i = 0; i < 13; ++i) {
    ring.Push(ReadingAt(std::chrono::milliseconds(i * 40), static_cast<std::uint16_t>(i)));
    ASSERT_EQ(ring.Size(), static_cast<std::size_t>(std::min(i + 1, 5)));
  }
  EXPECT_EQ(ring.Pushed(), 13U);
  for (std::size_t i = 0; i < ring.Size(); ++i) {
    EXPECT_EQ(ring[i].Status.Temperature, 8 + i) << i;
  }
  EXPECT_EQ(ring.Newest().Status.Temperature, 12);

  // Searches see the wrapped order, not the storage order.
  EXPECT_EQ(ring.FirstAtOrAfter(SteadyTime(0ms)), 0U);
  EXPECT_EQ(ring.FirstAtOrAfter(SteadyTime(400ms)), 2U);   // sample 10
  EXPECT_EQ(ring.FirstAtOrAfter(SteadyTime(401ms)), 3U);
  EXPECT_EQ(ring.FirstAtOrAfter(SteadyTime(10s)), 5U);
  EXPECT_EQ(ring.Nearest(SteadyTime(419ms)), 2U);
  EXPECT_EQ(ring.Nearest(SteadyTime(421ms)), 3U);
  EXPECT_EQ(ring.Nearest(SteadyTime(0ms)), 0U);
  EXPECT_EQ(ring.Nearest(SteadyTime(1h)), 4U);
}

TEST(SampleRing, EmptyRingAnswersSearchesSafely) {
  SampleRing ring(3);
  EXPECT_TRUE(ring.Empty());
  EXPECT_EQ(ring.FirstAtOrAfter(SteadyTime(1s)), 0U);
  EXPECT_EQ(ring.Nearest(SteadyTime(1s)), 0U);
}

TEST(SampleRing, GapsAreLostConnectionsAndSilencesLongerThanTheThreshold) {
  const Sample a = ReadingAt(1000ms);
  EXPECT_FALSE(IsGap(a, ReadingAt(1040ms)));
  EXPECT_FALSE(IsGap(a, ReadingAt(1000ms + kGapThreshold)));
  EXPECT_TRUE(IsGap(a, ReadingAt(1001ms + kGapThreshold)));
  const Sample lost = MakeDisconnectedSample(SteadyTime(1020ms), WallTime{});
  EXPECT_TRUE(IsGap(a, lost));
  EXPECT_TRUE(IsGap(lost, ReadingAt(1040ms)));
}

TEST(Sample, ValuesAreInTheLiveViewsUnits) {
  LiveStatus status{};
  status.PowerSupply = 24500;
  status.Temperature = 41;
  status.Potentiometer = 1650;
  status.Ain = 4567;
  status.CurLim = 12345;
  status.CurAct = -1500;
  status.PwmLim = 1200;  // beyond full scale: not clamped
  status.PwmAct = -500;
  const Sample sample = MakeSample(status, DriverLimits{30000, 90, 1000, 10000}, SteadyTime{}, WallTime{});
  EXPECT_FLOAT_EQ(sample.Value(Series::Supply), 24.5F);
  EXPECT_FLOAT_EQ(sample.Value(Series::Temperature), 41.0F);
  EXPECT_FLOAT_EQ(sample.Value(Series::Potentiometer), 50.0F);
  EXPECT_FLOAT_EQ(sample.Value(Series::AnalogInput), 4.567F);
  EXPECT_FLOAT_EQ(sample.Value(Series::CurrentLimit), 12.345F);
  EXPECT_FLOAT_EQ(sample.Value(Series::CurrentActual), -1.5F);
  EXPECT_FLOAT_EQ(sample.Value(Series::PwmLimit), 120.0F);
  EXPECT_FLOAT_EQ(sample.Value(Series::PwmActual), -50.0F);

  // Without a PWM full scale the percentages are 0, as on the live view.
  const Sample unknown = MakeSample(status, DriverLimits{}, SteadyTime{}, WallTime{});
  EXPECT_EQ(unknown.Value(Series::PwmActual), 0.0F);
}

}  // namespace
}  // namespace zrv
