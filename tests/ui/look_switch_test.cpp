// The desktop's palette or style switched while the window runs: the live view must then look
// exactly as a window started afresh under the new palette or style, on screen and in a rendering,
// while its readings keep moving up and down across the whole scale.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QImage>
#include <QPalette>
#include <QPixmap>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ui_test_support.h"

namespace zrv::test {
namespace {

void Flush() {
  for (int i = 0; i < 5; ++i) {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
  }
}

QPalette DarkPalette() {
  QPalette dark;
  dark.setColor(QPalette::Window, QColor(0x35, 0x35, 0x35));
  dark.setColor(QPalette::WindowText, QColor(0xe6, 0xe6, 0xe6));
  dark.setColor(QPalette::Base, QColor(0x24, 0x24, 0x24));
  dark.setColor(QPalette::AlternateBase, QColor(0x35, 0x35, 0x35));
  dark.setColor(QPalette::Text, QColor(0xe6, 0xe6, 0xe6));
  dark.setColor(QPalette::Button, QColor(0x40, 0x40, 0x40));
  dark.setColor(QPalette::ButtonText, QColor(0xe6, 0xe6, 0xe6));
  dark.setColor(QPalette::Light, QColor(0x60, 0x60, 0x60));
  dark.setColor(QPalette::Midlight, QColor(0x4a, 0x4a, 0x4a));
  dark.setColor(QPalette::Mid, QColor(0x2a, 0x2a, 0x2a));
  dark.setColor(QPalette::Dark, QColor(0x20, 0x20, 0x20));
  dark.setColor(QPalette::Shadow, QColor(0x10, 0x10, 0x10));
  dark.setColor(QPalette::Highlight, QColor(0x2a, 0x82, 0xda));
  dark.setColor(QPalette::HighlightedText, Qt::white);
  return dark;
}

struct Looks {
  QImage Rendered;
  QImage Screen;
};

Looks LooksOf(TForm1& form) {
  // A focused text field blinks its caret: neither window keeps the focus.
  Flush();
  if (QWidget* focused = form.focusWidget()) {
    focused->clearFocus();
  }
  Flush();
  Looks looks{form.grab().toImage().convertToFormat(QImage::Format_RGB32), {}};
  // The X server shows a newly mapped or repainted window only once it has taken the window's
  // pixels, later on a busy machine; a screen that still differs after the wait is compared as it is.
  const auto screen = [&form] {
    return form.screen()->grabWindow(form.winId()).toImage().convertToFormat(QImage::Format_RGB32);
  };
  static_cast<void>(QTest::qWaitForWindowExposed(&form));
  static_cast<void>(QTest::qWaitFor([&] { return (looks.Screen = screen()) == looks.Rendered; }, 3000));
  return looks;
}

// The pixels where two pictures differ, for the failure message.
std::string Differences(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) {
    return "sizes differ";
  }
  int count = 0;
  QRect where;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      if (a.pixel(x, y) != b.pixel(x, y)) {
        ++count;
        where |= QRect(x, y, 1, 1);
      }
    }
  }
  return std::to_string(count) + " pixels differ within " + std::to_string(where.x()) + "," +
         std::to_string(where.y()) + " " + std::to_string(where.width()) + "x" + std::to_string(where.height());
}

class LookSwitch : public ::testing::Test {
 protected:
  LookSwitch() : palette_(QApplication::palette()), style_(QApplication::style()->name()) {}
  ~LookSwitch() override {
    QApplication::setStyle(style_);
    QApplication::setPalette(palette_);
  }

  // The gauges' limits, as the identity reply brings them.
  static void Limits(WindowOnManualTime& w) { w.Reply(IdentityReply(0, "", 0, DriverLimits{30000, 90, 1000, 10000})); }

  // Every reading at `percent` of its scale, each row a little apart, so texts grow and shrink.
  static void Readings(LiveStatus& status, int percent, int step) {
    status.PowerSupply = static_cast<std::uint32_t>(percent * 300);
    status.Temperature = static_cast<std::uint16_t>(percent * 90 / 100 + 1);
    status.Potentiometer = static_cast<std::uint16_t>(3300 - percent * 33);
    status.Ain = static_cast<std::uint16_t>(percent * 50 + 7);
    status.CurLim = percent * 100 - 333;
    status.CurAct = 10000 - percent * 100;
    status.PwmLim = static_cast<std::int16_t>(percent * 10);
    status.PwmAct = static_cast<std::int16_t>(-percent * 10 + 5);
    status.Switches = static_cast<std::uint8_t>(step * 11);
    status.Inputs = static_cast<std::uint8_t>(step * 5);
    status.Outputs = static_cast<std::uint8_t>(step * 8);
    status.DriverState = static_cast<std::uint8_t>(step % 4);
    status.FaultCode = static_cast<std::uint8_t>(step % 6);
    status.WorkMode = static_cast<std::uint8_t>(step % 7);
  }

  // Starts a window under the look `before`, moves its readings, switches to the look `after` and
  // moves them on, comparing the window at every tick after the switch with a fresh one.
  // Keeps the window's background colour before and after the switch in background_.
  void Run(const std::function<void()>& before, const std::function<void()>& after,
                            const std::vector<int>& sweep = {0, 100, 35, 80, 5, 60, 20, 100, 0, 55, 99, 1}) {
    before();
    WindowOnManualTime running;
    Limits(running);
    ASSERT_TRUE(running.Connect());
    LiveStatus status{};
    // Every reading so far: the fresh window gets them all, so that its status line tells of the
    // same fault onsets.
    std::vector<LiveStatus> history;
    running.Form->show();
    constexpr int kSwitchAt = 4;
    int compared = 0;
    for (int step = 0; step < static_cast<int>(sweep.size()); ++step) {
      if (step == kSwitchAt) {
        background_.first = LooksOf(*running.Form).Screen.pixel(2, 2);
        after();
      }
      Readings(status, sweep[static_cast<std::size_t>(step)], step);
      running.Reply(StatusReply(status));
      running.Ticks(1);
      history.push_back(status);
      if (step < kSwitchAt) {
        Flush();
        continue;
      }
      const Looks shown = LooksOf(*running.Form);
      // The fresh window stands below the running one, so both are wholly on screen.
      WindowOnManualTime fresh;
      Limits(fresh);
      ASSERT_TRUE(fresh.Connect());
      fresh.Form->move(0, 480);
      fresh.Form->show();
      for (const LiveStatus& earlier : history) {
        fresh.Reply(StatusReply(earlier));
        fresh.Ticks(1);
      }
      const Looks expected = LooksOf(*fresh.Form);
      ASSERT_TRUE(shown.Rendered == expected.Rendered)
          << "rendering, step " << step << ": " << Differences(shown.Rendered, expected.Rendered);
      ASSERT_TRUE(shown.Screen == expected.Screen)
          << "screen, step " << step << ": " << Differences(shown.Screen, expected.Screen);
      background_.second = shown.Screen.pixel(2, 2);
      ++compared;
    }
    EXPECT_EQ(compared, static_cast<int>(sweep.size()) - kSwitchAt);
  }

  void Light() const { QApplication::setPalette(palette_); }
  static void Dark() { QApplication::setPalette(DarkPalette()); }

  const QPalette palette_;
  const QString style_;
  std::pair<QRgb, QRgb> background_{};
};

TEST_F(LookSwitch, LightToDark) {
  Run([this] { Light(); }, [] { Dark(); });
  EXPECT_GT(qGray(background_.first), qGray(background_.second));
}

TEST_F(LookSwitch, DarkToLight) {
  Run([] { Dark(); }, [this] { Light(); });
  EXPECT_LT(qGray(background_.first), qGray(background_.second));
}

TEST_F(LookSwitch, FusionToWindows) {
  ASSERT_TRUE(QStyleFactory::keys().contains(QStringLiteral("Windows")));
  Run([] { QApplication::setStyle(QStringLiteral("Fusion")); },
      [] { QApplication::setStyle(QStringLiteral("Windows")); });
}

// Under the chunked style without any switch, gauges that shrink and grow by a point or two leave
// nothing of their old bar behind.
TEST_F(LookSwitch, WindowsStyleReadingsCreepingUpAndDown) {
  Run([] { QApplication::setStyle(QStringLiteral("Windows")); }, [] {},
      {60, 59, 57, 56, 55, 54, 52, 51, 53, 54, 56, 55, 57, 58, 56, 54, 53});
}

}  // namespace
}  // namespace zrv::test
