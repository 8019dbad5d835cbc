// The gauge paints from pictures: it must show what a plain QProgressBar shows under every look it
// passes through, and the style must draw each look once.
#include "ui/gauge.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPalette>
#include <QProgressBar>
#include <QStyle>
#include <QWidget>
#include <algorithm>
#include <cstdlib>
#include <string>

namespace zrv {
namespace {

QPalette Dark(QColor highlight = QColor(0x2a, 0x82, 0xda)) {
  QPalette dark(QColor(0x40, 0x40, 0x40), QColor(0x35, 0x35, 0x35));
  dark.setColor(QPalette::Highlight, highlight);
  return dark;
}

class GaugeTest : public ::testing::Test {
 protected:
  GaugeTest() : style_(QApplication::style()->name()), palette_(QApplication::palette()) {
    int y = 5;
    for (QProgressBar* bar : {static_cast<QProgressBar*>(&plain_), static_cast<QProgressBar*>(&gauge_)}) {
      bar->setParent(&window_);
      bar->setTextVisible(false);
      bar->setGeometry(10, y, 75, 17);
      y += 25;
    }
  }
  ~GaugeTest() override {
    QApplication::setStyle(style_);
    QApplication::setPalette(palette_);
  }

  // Looks change through posted events. Then both bars are compared across the scale: an edge
  // pixel of a picture is blended once more, which may round a channel by a level or two; more
  // is a wrong picture. The look must differ from the previous sweep's, or the sweep proves nothing.
  void Sweep(const std::string& where, bool lookMustChange = true) {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    for (int value : {0, 1, 2, 37, 50, 98, 99, 100, 3}) {
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
    plain_.setValue(37);
    const QImage look = plain_.grab().toImage();
    if (lookMustChange) {
      EXPECT_FALSE(look == lastLook_) << where << ": the look did not change";
    }
    lastLook_ = look;
  }
  void BothBars(void (QProgressBar::*set)(bool), bool on) {
    (plain_.*set)(on);
    (gauge_.*set)(on);
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
  Sweep("Fusion, light");
  QApplication::setPalette(Dark());
  Sweep("Fusion, dark");
  QApplication::setStyle(QStringLiteral("Windows"));
  Sweep("Windows, dark");
  QApplication::setPalette(palette_);
  Sweep("Windows, light");
  window_.setEnabled(false);
  Sweep("disabled");
  window_.setEnabled(true);
  plain_.resize(120, 20);
  gauge_.resize(120, 20);
  Sweep("wider");
  BothBars(&QProgressBar::setTextVisible, true);
  Sweep("with its text");
  QFont bigger = window_.font();
  bigger.setPointSize(bigger.pointSize() * 2);
  window_.setFont(bigger);
  // Under wine the bar's text keeps its size whatever the font asked for; the gauge must still
  // show what the plain bar shows.
  Sweep("with its text in a bigger font", false);
  BothBars(&QProgressBar::setInvertedAppearance, true);
  Sweep("inverted");
}

TEST_F(GaugeTest, TheStyleDrawsEachLookOnce) {
  const auto sweep = [this] {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    for (int value = 0; value <= 100; value += 5) {
      gauge_.setValue(value);
      static_cast<void>(gauge_.grab());
    }
  };
  QApplication::setStyle(QStringLiteral("Fusion"));
  QApplication::setPalette(Dark(QColor(0x20, 0xa0, 0x20)));  // a look no other test draws
  const int before = TGauge::StyleDrawings();
  sweep();
  EXPECT_EQ(TGauge::StyleDrawings() - before, 21);
  sweep();
  EXPECT_EQ(TGauge::StyleDrawings() - before, 21);
  QApplication::setPalette(Dark(QColor(0xc0, 0x40, 0x40)));
  sweep();
  EXPECT_EQ(TGauge::StyleDrawings() - before, 42);
}

}  // namespace
}  // namespace zrv
