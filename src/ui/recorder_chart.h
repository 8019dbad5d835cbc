// The Recorder page's chart: the readings of the sample ring over the last 10 s, 1 min or 10 min,
// one strip per unit, each with its own labelled axis. It draws straight from the ring (nothing is
// copied) and repaints only when told by the page's tick, so never more than once per tick.
#pragma once

#include <QColor>
#include <QPixmap>
#include <QPointF>
#include <QStringList>
#include <QWidget>
#include <array>
#include <bitset>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "record/sample.h"
#include "record/sample_ring.h"

namespace zrv {

// Colours of the series, in Series order; limits are drawn dashed in the colour of their actual.
QColor SeriesColor(Series series);
bool SeriesDashed(Series series);

class RecorderChart : public QWidget {
  Q_OBJECT

 public:
  explicit RecorderChart(const SampleRing& ring, QWidget* parent = nullptr);

  void SetSpan(std::chrono::seconds span);
  std::chrono::seconds Span() const { return span_; }
  void SetSeriesVisible(Series series, bool visible);
  bool SeriesVisible(Series series) const { return visible_[static_cast<std::size_t>(series)]; }

  // One tick: the right edge moves to `now` unless paused; the chart repaints when what it shows
  // changed (new time on screen, a setting, the pointer) and it is visible.
  void Tick(SteadyTime now, bool paused);

  // Chart paints so far (for tests and benchmarks).
  std::uint64_t Paints() const { return paints_; }
  // The right edge: the moment shown at the chart's right border.
  SteadyTime End() const { return end_; }
  // Where the pointer readout is shown, in widget coordinates; empty when it is not.
  std::optional<int> PointerX() const { return pointerX_; }
  // What the pointer readout shows now: the sample's local time and its distance from the right
  // edge, then every shown series with its value and unit; empty without a pointer on the plot.
  QStringList ReadoutLines();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  struct Strip {
    Unit StripUnit;
    QRectF Plot;
    double Low = 0.0;
    double High = 1.0;
    double Step = 0.5;
    friend bool operator==(const Strip&, const Strip&) = default;
  };
  // Everything the background picture depends on: when it is unchanged, a repaint draws only the
  // lines over the kept picture and only the plot area goes to the screen.
  struct Frame {
    QSize Size;
    std::chrono::seconds Span{0};
    std::vector<Strip> Strips;
    bool operator==(const Frame&) const = default;
  };

  void Prepare();
  void LayOutStrips(QRectF area);
  void FindRange(Strip& strip, std::size_t first) const;
  void RenderBackground();
  void DrawStripBackground(QPainter& painter, const Strip& strip);
  void DrawSeries(QPainter& painter, const Strip& strip, Series series, std::size_t first);
  void DrawTimeAxis(QPainter& painter, QRectF plot);
  struct Readout {
    QStringList Lines;          // the time, then each shown series, or "no reading"
    std::vector<QColor> Colors;  // one per line
    double X = 0.0;             // where the marker line stands (on the sample found)
  };
  Readout ReadoutAt(int pointerX) const;
  void DrawReadout(QPainter& painter, QRectF plot);
  bool MovedAPixel() const;
  double XOf(SteadyTime time, QRectF plot) const;
  SteadyTime TimeAt(double x, QRectF plot) const;

  const SampleRing& ring_;
  std::chrono::seconds span_{10};
  std::bitset<kSeriesCount> visible_;
  SteadyTime end_{};
  bool dirty_ = true;
  std::optional<int> pointerX_;
  std::uint64_t paints_ = 0;
  std::vector<Strip> strips_;      // reserved once for every unit
  std::vector<QPointF> points_;    // one series' polyline piece, reused
  QRectF plot_;                    // all strips together, time axis excluded
  std::size_t first_ = 0;          // first sample on screen
  SteadyTime paintedEnd_{};
  QPixmap background_;
  Frame backgroundFrame_;
};

}  // namespace zrv
