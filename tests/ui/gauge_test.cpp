// The gauge paints from pictures: what it shows must be what a plain QProgressBar shows, under
// every look it passes through, and the style draws each look once.
#include "ui/gauge.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QImage>
#include <QPalette>
#include <QProgressBar>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>
#include <memory>
#include <string>
#include <algorithm>
#include <cstdlib>

namespace zrv {
namespace {

// Palette, style and font changes reach the widgets through posted events.
void Settle() {
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
}

QPalette Dark() {
  QPalette dark;
  dark.setColor(QPalette::Window, QColor(0x35, 0x35, 0x35));
  dark.setColor(QPalette::Base, QColor(0x24, 0x24, 0x24));
  dark.setColor(QPalette::Button, QColor(0x40, 0x40, 0x40));
  dark.setColor(QPalette::Text, QColor(0xe6, 0xe6, 0xe6));
  dark.setColor(QPalette::Highlight, QColor(0x2a, 0x82, 0xda));
  return dark;
}

class GaugeTest : public ::testing::Test {
 protected:
  GaugeTest() : style_(QApplication::style()->name()), palette_(QApplication::palette()) {
    window_.resize(200, 60);
    for (QProgressBar* bar : {static_cast<QProgressBar*>(&plain_), static_cast<QProgressBar*>(&gauge_)}) {
      bar->setParent(&window_);
      bar->setRange(0, 100);
      bar->setTextVisible(false);
    }
    plain_.setGeometry(10, 5, 75, 17);
    gauge_.setGeometry(10, 30, 75, 17);
  }
  ~GaugeTest() override {
    QApplication::setStyle(style_);
    QApplication::setPalette(palette_);
  }

  // Both bars at `value`: the gauge's pixels against the plain bar's. A picture's antialiased
  // edges are blended onto what is behind once more, which may round a channel of an edge pixel
  // differently, by a level or two; anything else is a wrong picture.
  void ExpectSameAt(int value, const std::string& where) {
    plain_.setValue(value);
    gauge_.setValue(value);
    const QImage shown = gauge_.grab().toImage();
    const QImage truth = plain_.grab().toImage();
    ASSERT_EQ(shown.size(), truth.size()) << where;
    int most = 0;
    for (int y = 0; y < shown.height(); ++y) {
      for (int x = 0; x < shown.width(); ++x) {
        const QRgb a = shown.pixel(x, y);
        const QRgb b = truth.pixel(x, y);
        most = std::max({most, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                         std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
      }
    }
    EXPECT_LE(most, 2) << where << ", value " << value;
  }
  // Also checks that the look has changed since the previous sweep, so that no sweep passes
  // merely because the gauge and the plain bar both still show the look before.
  void Sweep(const std::string& where) {
    for (int value : {0, 1, 2, 37, 50, 98, 99, 100, 3}) ExpectSameAt(value, where);
    plain_.setValue(50);
    const QImage look = plain_.grab().toImage();
    EXPECT_FALSE(look == lastLook_) << where << ": the look did not change";
    lastLook_ = look;
  }

  const QString style_;
  const QPalette palette_;
  QWidget window_;
  QProgressBar plain_;
  TGauge gauge_;
  QImage lastLook_;
};

TEST_F(GaugeTest, ShowsWhatAPlainBarShowsUnderEveryLookItPassesThrough) {
  QApplication::setStyle(QStringLiteral("Fusion"));
  Settle();
  Sweep("Fusion, light");
  QApplication::setPalette(Dark());
  Settle();
  Sweep("Fusion, dark");
  ASSERT_TRUE(QStyleFactory::keys().contains(QStringLiteral("Windows")));
  QApplication::setStyle(QStringLiteral("Windows"));
  Settle();
  Sweep("Windows, dark");
  QApplication::setPalette(palette_);
  Settle();
  Sweep("Windows, light");
  window_.setEnabled(false);
  Settle();
  Sweep("Windows, light, disabled");
  window_.setEnabled(true);
  plain_.resize(120, 20);
  gauge_.resize(120, 20);
  Settle();
  Sweep("Windows, light, wider");
  plain_.setTextVisible(true);
  gauge_.setTextVisible(true);
  Settle();
  Sweep("Windows, light, with its text");
  QFont bigger = window_.font();
  bigger.setPointSize(bigger.pointSize() + 3);
  window_.setFont(bigger);
  Settle();
  Sweep("Windows, light, with its text in a bigger font");
  plain_.setInvertedAppearance(true);
  gauge_.setInvertedAppearance(true);
  Settle();
  Sweep("Windows, light, inverted");
}

TEST_F(GaugeTest, TheStyleDrawsEachLookOnce) {
  QApplication::setStyle(QStringLiteral("Fusion"));
  QApplication::setPalette(Dark());  // a look no other test has drawn
  Settle();
  const auto sweep = [this] {
    for (int value = 0; value <= 100; value += 5) {
      gauge_.setValue(value);
      static_cast<void>(gauge_.grab());
    }
  };
  const int before = TGauge::StyleDrawings();
  sweep();
  const int first = TGauge::StyleDrawings() - before;
  EXPECT_EQ(first, 21);
  sweep();
  EXPECT_EQ(TGauge::StyleDrawings() - before, first);
  // A new palette is a new look.
  QPalette other = Dark();
  other.setColor(QPalette::Highlight, QColor(0xc0, 0x40, 0x40));
  QApplication::setPalette(other);
  Settle();
  sweep();
  EXPECT_EQ(TGauge::StyleDrawings() - before, 2 * first);
}

}  // namespace
}  // namespace zrv
