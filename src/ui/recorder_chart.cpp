#include "ui/recorder_chart.h"

#include <QDateTime>
#include <QFontMetricsF>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <limits>

namespace zrv {
namespace {

using namespace std::chrono;

constexpr double kAxisWidth = 44.0;    // room for the value labels left of each strip
constexpr double kTimeAxisHeight = 14.0;
constexpr double kStripGap = 5.0;
constexpr double kRightMargin = 4.0;
// Strip order, top to bottom.
constexpr std::array<Unit, 4> kUnitOrder{Unit::Volt, Unit::Ampere, Unit::Percent, Unit::Celsius};

// The decimals a readout shows per series: about the resolution of the reading.
constexpr std::array<int, kSeriesCount> kReadoutDecimals{2, 0, 1, 2, 2, 2, 1, 1};

double NiceStep(double rough) {
  if (!(rough > 0.0) || !std::isfinite(rough)) return 1.0;
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  const double mantissa = rough / power;
  const double nice = mantissa <= 1.0 ? 1.0 : mantissa <= 2.0 ? 2.0 : mantissa <= 5.0 ? 5.0 : 10.0;
  return nice * power;
}

int DecimalsFor(double step) {
  if (step >= 1.0) return 0;
  return std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 6);
}

QString NumberText(double value, int decimals) {
  QLocale locale = QLocale::system();
  locale.setNumberOptions(QLocale::OmitGroupSeparator);
  if (std::fabs(value) < 0.5 * std::pow(10.0, -decimals)) value = 0.0;  // no "-0"
  return locale.toString(value, 'f', decimals);
}

QRectF Inner(const QRectF& frame) { return frame.adjusted(0.0, 4.0, 0.0, -4.0); }

QString UnitText(Unit unit) { return QString::fromLatin1(UnitSymbol(unit).data()); }

}  // namespace

QColor SeriesColor(Series series) {
  switch (series) {
    case Series::Supply: return QColor(0, 90, 200);
    case Series::Temperature: return QColor(210, 100, 0);
    case Series::Potentiometer: return QColor(130, 60, 170);
    case Series::AnalogInput: return QColor(0, 150, 150);
    case Series::CurrentLimit:
    case Series::CurrentActual: return QColor(210, 30, 30);
    case Series::PwmLimit:
    case Series::PwmActual: return QColor(20, 150, 40);
  }
  return QColor(0, 0, 0);
}

bool SeriesDashed(Series series) {
  return series == Series::CurrentLimit || series == Series::PwmLimit;
}

RecorderChart::RecorderChart(const SampleRing& ring, QWidget* parent) : QWidget(parent), ring_(ring) {
  visible_.set();
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  strips_.reserve(kUnitOrder.size());
  points_.reserve(8192);
}

void RecorderChart::SetSpan(std::chrono::seconds span) {
  if (span != span_) {
    span_ = span;
    dirty_ = true;
  }
}

void RecorderChart::SetSeriesVisible(Series series, bool visible) {
  const auto index = static_cast<std::size_t>(series);
  if (visible_[index] != visible) {
    visible_[index] = visible;
    dirty_ = true;
  }
}

void RecorderChart::Tick(SteadyTime now, bool paused) {
  if (!paused) {
    // Something moves only while a sample is still on screen, and only once it has moved a pixel
    // (every tick at 10 s, about every third at 1 min, every 33rd at 10 min).
    const bool onScreen = !ring_.Empty() && ring_.Newest().Time + span_ + milliseconds(200) >= end_;
    end_ = now;
    if (onScreen && MovedAPixel()) dirty_ = true;
  }
  if (!dirty_ || !isVisible()) return;
  dirty_ = false;
  Prepare();
  if (backgroundFrame_ == Frame{size(), span_, strips_}) {
    update(plot_.toAlignedRect());
  } else {
    update();
  }
}

bool RecorderChart::MovedAPixel() const {
  const double pixelsPerSecond = std::max(1.0, width() - kAxisWidth) / static_cast<double>(span_.count());
  return duration<double>(end_ - paintedEnd_).count() * pixelsPerSecond >= 1.0;
}

void RecorderChart::mouseMoveEvent(QMouseEvent* event) {
  const int x = static_cast<int>(event->position().x());
  if (pointerX_ != x) {
    pointerX_ = x;
    dirty_ = true;
  }
}

void RecorderChart::leaveEvent(QEvent* /*event*/) {
  if (pointerX_) {
    pointerX_.reset();
    dirty_ = true;
  }
}

double RecorderChart::XOf(SteadyTime time, QRectF plot) const {
  const double fromEnd = duration<double>(end_ - time).count();
  return plot.right() - fromEnd / static_cast<double>(span_.count()) * plot.width();
}

SteadyTime RecorderChart::TimeAt(double x, QRectF plot) const {
  const double fromEnd = (plot.right() - x) / plot.width() * static_cast<double>(span_.count());
  return end_ - duration_cast<SteadyTime::duration>(duration<double>(fromEnd));
}

void RecorderChart::Prepare() {
  const QRectF area(kAxisWidth, 2.0, width() - kAxisWidth - kRightMargin,
                    height() - 2.0 - kTimeAxisHeight);
  LayOutStrips(area);
  first_ = ring_.FirstAtOrAfter(end_ - span_);
  for (Strip& strip : strips_) {
    FindRange(strip, first_);
  }
  plot_ = strips_.empty() ? area
                          : QRectF(area.left(), area.top(), area.width(),
                                   strips_.back().Plot.bottom() - area.top());
}

void RecorderChart::LayOutStrips(QRectF area) {
  strips_.clear();
  for (const Unit unit : kUnitOrder) {
    for (std::size_t s = 0; s < kSeriesCount; ++s) {
      if (visible_[s] && kSeriesInfo[s].SeriesUnit == unit) {
        strips_.push_back(Strip{unit, {}, 0.0, 1.0, 0.5});
        break;
      }
    }
  }
  if (strips_.empty()) return;
  const double count = static_cast<double>(strips_.size());
  const double height = (area.height() - kStripGap * (count - 1.0)) / count;
  for (std::size_t i = 0; i < strips_.size(); ++i) {
    const double top = area.top() + static_cast<double>(i) * (height + kStripGap);
    strips_[i].Plot = QRectF(area.left(), top, area.width(), height);
  }
}

void RecorderChart::FindRange(Strip& strip, std::size_t first) const {
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  for (std::size_t s = 0; s < kSeriesCount; ++s) {
    if (!visible_[s] || kSeriesInfo[s].SeriesUnit != strip.StripUnit) continue;
    for (std::size_t i = first; i < ring_.Size(); ++i) {
      const Sample& sample = ring_[i];
      if (!sample.IsReading()) continue;
      const double v = sample.Values[s];
      low = std::min(low, v);
      high = std::max(high, v);
    }
  }
  if (low > high) {
    low = 0.0;
    high = 1.0;
  }
  if (high - low < 1e-6) {
    const double pad = std::max(1.0, std::fabs(high) * 0.05);
    low -= pad;
    high += pad;
  }
  const double lines = std::max(1.0, std::floor(strip.Plot.height() / 22.0));
  strip.Step = NiceStep((high - low) / lines);
  strip.Low = std::floor(low / strip.Step) * strip.Step;
  strip.High = std::ceil(high / strip.Step) * strip.Step;
  if (strip.High <= strip.Low) strip.High = strip.Low + strip.Step;
}

void RecorderChart::paintEvent(QPaintEvent* /*event*/) {
  ++paints_;
  Prepare();
  paintedEnd_ = end_;
  Frame frame{size(), span_, strips_};
  if (!(backgroundFrame_ == frame) || background_.isNull()) {
    backgroundFrame_ = std::move(frame);
    RenderBackground();
  }
  QPainter painter(this);
  painter.drawPixmap(0, 0, background_);
  if (strips_.empty()) return;
  // The sample just before the window too, so a line enters from the left edge.
  const std::size_t from = first_ > 0 ? first_ - 1 : first_;
  for (const Strip& strip : strips_) {
    painter.setClipRect(strip.Plot.adjusted(1.0, 1.0, -1.0, -1.0));
    for (std::size_t s = 0; s < kSeriesCount; ++s) {
      if (visible_[s] && kSeriesInfo[s].SeriesUnit == strip.StripUnit) {
        DrawSeries(painter, strip, static_cast<Series>(s), from);
      }
    }
  }
  painter.setClipping(false);
  DrawReadout(painter, plot_);
}

void RecorderChart::RenderBackground() {
  const qreal ratio = devicePixelRatioF();
  background_ = QPixmap((QSizeF(size()) * ratio).toSize());
  background_.setDevicePixelRatio(ratio);
  background_.fill(palette().color(QPalette::Window));
  QPainter painter(&background_);
  painter.setFont(font());
  painter.setPen(palette().color(QPalette::WindowText));
  if (strips_.empty()) {
    painter.fillRect(plot_, Qt::white);
    painter.drawText(plot_, Qt::AlignCenter, tr("No series selected"));
    return;
  }
  for (const Strip& strip : strips_) {
    DrawStripBackground(painter, strip);
  }
  DrawTimeAxis(painter, plot_);
}

void RecorderChart::DrawStripBackground(QPainter& painter, const Strip& strip) {
  const QRectF& frame = strip.Plot;
  painter.fillRect(frame, Qt::white);
  // Values keep off the frame, so a reading at the end of the range stays visible.
  const QRectF plot = Inner(frame);
  const QColor grid(225, 225, 225);
  const QColor text = palette().color(QPalette::WindowText);
  const int decimals = DecimalsFor(strip.Step);
  const QFontMetricsF metrics(font());
  const double range = strip.High - strip.Low;

  // Grid lines and their values on the axis.
  for (double v = strip.Low; v <= strip.High + strip.Step * 0.5; v += strip.Step) {
    const double y = plot.bottom() - (v - strip.Low) / range * plot.height();
    painter.setPen(grid);
    painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    painter.setPen(text);
    const double textY = std::clamp(y + metrics.ascent() / 2.0 - 1.0, frame.top() + metrics.ascent() - 1.0,
                                    frame.bottom() + 1.0);
    const QString label = NumberText(v, decimals);
    painter.drawText(QPointF(plot.left() - 3.0 - metrics.horizontalAdvance(label), textY), label);
  }
  // The unit, at the middle of its axis.
  QFont unitFont = font();
  unitFont.setBold(true);
  painter.setFont(unitFont);
  painter.setPen(text);
  painter.drawText(QRectF(0.0, frame.top(), 14.0, frame.height()), Qt::AlignLeft | Qt::AlignVCenter,
                   UnitText(strip.StripUnit));
  painter.setFont(font());
  painter.setPen(QColor(160, 160, 160));
  painter.drawRect(frame.adjusted(0.0, 0.0, -1.0, -1.0));
}

void RecorderChart::DrawSeries(QPainter& painter, const Strip& strip, Series series, std::size_t first) {
  // One-pixel lines without antialiasing: the raster engine's fastest path, 25 times a second.
  QPen pen(SeriesColor(series), 0.0);
  // As thick as one pixel of the layout when the screen is scaled.
  if (devicePixelRatioF() > 1.0) {
    pen.setWidthF(std::round(devicePixelRatioF()));
    pen.setCosmetic(true);
  }
  if (SeriesDashed(series)) pen.setDashPattern({4.0, 3.0});
  painter.setPen(pen);

  const QRectF plot = Inner(strip.Plot);
  const auto index = static_cast<std::size_t>(series);
  const double scale = plot.height() / (strip.High - strip.Low);
  auto yOf = [&](double v) { return plot.bottom() - (v - strip.Low) * scale; };
  auto drawPiece = [&] {
    if (points_.size() == 1) {
      painter.drawPoint(points_[0]);
    } else if (points_.size() > 1) {
      painter.drawPolyline(points_.data(), static_cast<int>(points_.size()));
    }
    points_.clear();
  };

  // Many samples on one pixel column become that column's first, lowest, highest and last value,
  // so a 10-minute span costs no more to draw than the width of the chart.
  points_.clear();
  long column = std::numeric_limits<long>::min();
  int inColumn = 0;
  double columnX = 0.0;
  double firstY = 0.0;
  double lowY = 0.0;
  double highY = 0.0;
  double lastY = 0.0;
  auto flushColumn = [&] {
    if (inColumn == 0) return;
    if (inColumn == 1) {
      points_.emplace_back(columnX, firstY);
    } else {
      points_.emplace_back(columnX, firstY);
      points_.emplace_back(columnX, lowY);
      points_.emplace_back(columnX, highY);
      points_.emplace_back(columnX, lastY);
    }
    inColumn = 0;
  };

  const Sample* previous = nullptr;
  for (std::size_t i = first; i < ring_.Size(); ++i) {
    const Sample& sample = ring_[i];
    if (sample.Time > end_) break;
    if (previous != nullptr && IsGap(*previous, sample)) {
      flushColumn();
      drawPiece();
    }
    previous = &sample;
    if (!sample.IsReading()) continue;
    const double x = XOf(sample.Time, plot);
    const double y = yOf(sample.Values[index]);
    const long px = std::lround(std::floor(x));
    if (px != column || inColumn == 0) {
      flushColumn();
      column = px;
      columnX = x;
      firstY = lowY = highY = y;
    }
    lowY = std::max(lowY, y);   // screen y grows downwards
    highY = std::min(highY, y);
    lastY = y;
    ++inColumn;
  }
  flushColumn();
  drawPiece();
}

void RecorderChart::DrawTimeAxis(QPainter& painter, QRectF plot) {
  const long long spanSeconds = span_.count();
  const long long step = spanSeconds <= 10 ? 2 : spanSeconds <= 60 ? 10 : 120;
  const bool minutes = spanSeconds > 60;
  const QFontMetricsF metrics(font());
  painter.setPen(palette().color(QPalette::WindowText));
  for (long long back = 0; back <= spanSeconds; back += step) {
    const double x = plot.right() - static_cast<double>(back) / static_cast<double>(spanSeconds) * plot.width();
    const QString label = back == 0 ? QStringLiteral("0")
                          : minutes ? QStringLiteral("-%1 min").arg(back / 60)
                                    : QStringLiteral("-%1 s").arg(back);
    const double w = metrics.horizontalAdvance(label);
    const double left = std::clamp(x - w / 2.0, plot.left() - kAxisWidth + 2.0, plot.right() - w);
    painter.drawText(QPointF(left, plot.bottom() + metrics.ascent() + 1.0), label);
    for (const Strip& strip : strips_) {
      painter.setPen(QColor(225, 225, 225));
      if (back != 0 && back != spanSeconds) {
        painter.drawLine(QPointF(x, strip.Plot.top() + 1.0), QPointF(x, strip.Plot.bottom() - 2.0));
      }
      painter.setPen(palette().color(QPalette::WindowText));
    }
  }
}

RecorderChart::Readout RecorderChart::ReadoutAt(int pointerX) const {
  Readout readout;
  const QRectF plot = plot_;
  if (pointerX < plot.left() || pointerX > plot.right() || strips_.empty()) return readout;
  const SteadyTime at = TimeAt(pointerX, plot);
  const std::size_t index = ring_.Nearest(at);
  const bool found = index < ring_.Size() && ring_[index].IsReading() &&
                     ring_[index].Time <= end_ &&
                     std::chrono::abs(ring_[index].Time - at) <= kGapThreshold;
  readout.X = found ? XOf(ring_[index].Time, plot) : pointerX;

  const double back = duration<double>(end_ - (found ? ring_[index].Time : at)).count();
  QString when = found ? QDateTime::fromMSecsSinceEpoch(duration_cast<milliseconds>(
                                                            ring_[index].Wall.time_since_epoch())
                                                            .count())
                                 .toString(QStringLiteral("HH:mm:ss.zzz")) +
                             QStringLiteral("  ")
                       : QString();
  when += QStringLiteral("(%1 s)").arg(NumberText(-back, 2));
  readout.Lines << when;
  readout.Colors.push_back(palette().color(QPalette::WindowText));
  if (!found) {
    readout.Lines << tr("no reading");
    readout.Colors.push_back(palette().color(QPalette::WindowText));
    return readout;
  }
  for (std::size_t s = 0; s < kSeriesCount; ++s) {
    if (!visible_[s]) continue;
    readout.Lines << QStringLiteral("%1: %2 %3")
                         .arg(QString::fromLatin1(kSeriesInfo[s].Name.data(),
                                                  static_cast<qsizetype>(kSeriesInfo[s].Name.size())),
                              NumberText(ring_[index].Values[s], kReadoutDecimals[s]),
                              UnitText(kSeriesInfo[s].SeriesUnit));
    readout.Colors.push_back(SeriesColor(static_cast<Series>(s)));
  }
  return readout;
}

QStringList RecorderChart::ReadoutLines() {
  if (!pointerX_) return {};
  Prepare();
  return ReadoutAt(*pointerX_).Lines;
}

void RecorderChart::DrawReadout(QPainter& painter, QRectF plot) {
  if (!pointerX_) return;
  const Readout readout = ReadoutAt(*pointerX_);
  if (readout.Lines.isEmpty()) return;
  const double x = readout.X;
  const QStringList& lines = readout.Lines;
  const std::vector<QColor>& colors = readout.Colors;

  painter.setPen(QPen(QColor(90, 90, 90), 1.0, Qt::DotLine));
  painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));

  const QFontMetricsF metrics(font());
  double boxWidth = 0.0;
  for (const QString& line : lines) boxWidth = std::max(boxWidth, metrics.horizontalAdvance(line));
  boxWidth += 10.0;
  const double lineHeight = metrics.height();
  const double boxHeight = lineHeight * static_cast<double>(lines.size()) + 6.0;
  double left = x + 8.0;
  if (left + boxWidth > plot.right()) left = x - 8.0 - boxWidth;
  left = std::max(left, plot.left());
  const QRectF box(left, plot.top() + 2.0, boxWidth, std::min(boxHeight, plot.height() - 4.0));
  painter.setPen(QColor(120, 120, 120));
  painter.setBrush(QColor(255, 255, 240, 235));
  painter.drawRect(box);
  painter.setBrush(Qt::NoBrush);
  for (qsizetype i = 0; i < lines.size(); ++i) {
    painter.setPen(colors[static_cast<std::size_t>(i)]);
    painter.drawText(QPointF(box.left() + 5.0, box.top() + 3.0 + metrics.ascent() +
                                                   lineHeight * static_cast<double>(i)),
                     lines[i]);
  }
}

}  // namespace zrv
