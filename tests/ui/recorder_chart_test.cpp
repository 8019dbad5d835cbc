// The Recorder page's chart drawn offscreen: where readings are there are lines, where the driver
// was away or silent there are none, and the pointer readout tells the sample under it.
#include "ui/recorder_chart.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QImage>
#include <QMouseEvent>
#include <QCoreApplication>

namespace zrv {
namespace {

using namespace std::chrono_literals;

class RecorderChartTest : public ::testing::Test {
 protected:
  RecorderChartTest() : chart(ring) {
    chart.resize(503, 222);
    for (std::size_t s = 0; s < kSeriesCount; ++s) {
      chart.SetSeriesVisible(static_cast<Series>(s), static_cast<Series>(s) == Series::Supply);
    }
  }
  void Readings(std::chrono::milliseconds from, std::chrono::milliseconds to) {
    for (auto t = from; t < to; t += 40ms) {
      LiveStatus status{};
      status.PowerSupply = 24000 + static_cast<std::uint32_t>(t.count() % 7);
      ring.Push(MakeSample(status, DriverLimits{}, SteadyTime(t), WallTime(kWall + t)));
    }
  }
  // Whether the column of the chart at `t` seconds before the right edge shows the supply line.
  bool LineAt(const QImage& image, double secondsBack) const {
    // The plot runs from x = 44 to 499 over the 10 s span.
    const int x = static_cast<int>(499.0 - secondsBack / 10.0 * 455.0);
    const QRgb want = SeriesColor(Series::Supply).rgb();
    for (int y = 0; y < image.height(); ++y) {
      if (image.pixel(x, y) == want) return true;
    }
    return false;
  }

  static constexpr WallTime kWall = WallTime(std::chrono::seconds(1'800'000'000));
  SampleRing ring{1024};
  RecorderChart chart;
};

TEST_F(RecorderChartTest, DisconnectionsAndSilencesBreakTheLine) {
  Readings(0ms, 3000ms);
  ring.Push(MakeDisconnectedSample(SteadyTime(3000ms), WallTime{}));
  Readings(5000ms, 7000ms);
  Readings(9000ms, 10000ms);  // two seconds without replies before this
  chart.Tick(SteadyTime(10s), false);
  const QImage image = chart.grab().toImage();

  EXPECT_TRUE(LineAt(image, 8.5));
  EXPECT_FALSE(LineAt(image, 6.0));   // disconnected
  EXPECT_TRUE(LineAt(image, 4.0));
  EXPECT_FALSE(LineAt(image, 2.0));   // silent
  EXPECT_TRUE(LineAt(image, 0.5));
}

TEST_F(RecorderChartTest, PointerReadoutShowsTheNearestSampleOrNoReading) {
  Readings(0ms, 5000ms);
  chart.Tick(SteadyTime(10s), false);
  static_cast<void>(chart.grab());
  auto pointAt = [&](double secondsBack) {
    QMouseEvent move(QEvent::MouseMove, QPointF(499.0 - secondsBack / 10.0 * 455.0, 100.0), QPointF(),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&chart, &move);
  };
  pointAt(7.0);  // the sample at 3.0 s
  const QStringList lines = chart.ReadoutLines();
  ASSERT_EQ(lines.size(), 2);
  const QString time = QDateTime::fromMSecsSinceEpoch(1'800'000'003'000LL).toString(QStringLiteral("HH:mm:ss.zzz"));
  EXPECT_TRUE(lines[0].startsWith(time)) << lines[0].toStdString();
  EXPECT_TRUE(lines[0].endsWith(QStringLiteral("7") + QLocale::system().decimalPoint() + QStringLiteral("00 s)")))
      << lines[0].toStdString();
  EXPECT_EQ(lines[1], QStringLiteral("Supply voltage: 24") + QLocale::system().decimalPoint() +
                          QStringLiteral("00 V"));
  // Past the last reading there is none to show.
  pointAt(2.0);
  EXPECT_EQ(chart.ReadoutLines().value(1), QStringLiteral("no reading"));
}

}  // namespace
}  // namespace zrv
