// A reserved label draws its one line of text itself and repaints only from its first changed
// character. It must look exactly as a plain label with the same text; where the changed character
// starts is estimated without laying the text out, and in a typeface that kerns many pairs the
// estimate must still cover every pixel that changes.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFont>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QString>
#include <QWidget>
#include <string>
#include <tuple>
#include <vector>

#include "ui/fonts.h"
#include "ui/widget_setters.h"

namespace zrv::test {
namespace {

class ReservedLabelRepaint : public ::testing::TestWithParam<std::tuple<bool, int>> {
 protected:
  ReservedLabelRepaint() {
    // The window's typeface, and one that kerns many pairs, at the window's font sizes.
    QFont font(std::get<0>(GetParam()) ? WindowFontFamily() : QStringLiteral("DejaVu Sans"));
    font.setPixelSize(std::get<1>(GetParam()));
    window.setFont(font);
    window.resize(1400, 40);
    raw = new QLabel(QStringLiteral("0"), &window);
    raw->move(4, 4);
    raw->resize(raw->sizeHint());
    label.Reserve(raw, 1380);
    // The twin paints itself as any label does, on the same background.
    twin = new QLabel(&window);
    twin->setPalette(raw->palette());
    twin->setAutoFillBackground(true);
    twin->move(raw->pos());
    twin->hide();
    window.show();
    Flush();
  }

  static void Flush() {
    for (int i = 0; i < 5; ++i) {
      QCoreApplication::sendPostedEvents();
      QCoreApplication::processEvents();
    }
  }

  // The window as its repaints left it, against a full rendering of it.
  bool ShowsAsAFullRendering() {
    const QImage shown =
        window.screen()->grabWindow(window.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    const QImage full = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    return shown.copy(full.rect()) == full;
  }

  // Shows `text` in both and compares their renderings.
  bool LooksLikeAPlainLabel(const std::string& text) {
    label.SetText(text);
    twin->setText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    twin->setFixedSize(raw->size());
    return raw->grab().toImage() == twin->grab().toImage();
  }

  QWidget window;
  QLabel* raw = nullptr;
  QLabel* twin = nullptr;
  ReservedLabel label;
};

TEST_P(ReservedLabelRepaint, EveryTextLooksAsAPlainLabelDrawsIt) {
  std::vector<std::string> texts;
  for (int i = -1230; i <= 1230; i += 37) {
    const std::string number = std::to_string(i / 10) + "." + std::to_string((i < 0 ? -i : i) % 10);
    texts.push_back(number + " % ");
    texts.push_back(std::to_string(i) + " V ");
    texts.push_back("Speed (PWM) set by potentiometer (" + number + " % )   Current limit max (10.00 A )");
    texts.push_back("Speed (PWM) set by 0-5V input (" + number + " V )   Current limit set by 0-10V input (" +
                    std::to_string(i) + "E03 A )");
  }
  for (const char* text : {"AVAVA To Ty Te Wa Yo LT P. r, 7.", "", " ", "Speed (PWM) and current limit set by Modbus",
                           "Current set by Modbus", "\xb5\xe9\xff ,;|"}) {
    texts.push_back(text);
  }
  int differing = 0;
  for (const std::string& text : texts) {
    if (!LooksLikeAPlainLabel(text)) {
      ADD_FAILURE() << '"' << text << "\" in " << raw->font().family().toStdString() << " at "
                    << std::get<1>(GetParam()) << " px";
      if (++differing == 5) {
        break;
      }
    }
  }
  EXPECT_TRUE(raw->autoFillBackground());
}

TEST_P(ReservedLabelRepaint, OnlyTheChangedEndIsRepaintedAndNothingStaleIsLeft) {
  // Long runs of kerned pairs before the change, changes of every length after it, texts that are
  // prefixes of one another, shorter after longer.
  const std::string kerned = "AVAVAVAVAVAVAVAVAVAV To Ty Te Wa Yo LT P. r, ";
  const char* const tails[] = {"1", "7.", "AV", "", "-0.00 A ", "12.30 A )", "1E3 V ", "W", "Tj", "7.5 % )"};
  int checked = 0;
  for (const std::string& head : {kerned, std::string("Speed (PWM) set by potentiometer ("), kerned + kerned}) {
    for (const char* tail : tails) {
      label.SetText(head + tail);
      Flush();
      ASSERT_TRUE(ShowsAsAFullRendering()) << '"' << head << tail << '"';
      ++checked;
    }
  }
  // Every text fitted: the label stayed reserved and repainted partly throughout.
  EXPECT_TRUE(raw->autoFillBackground());
  EXPECT_EQ(checked, 30);
}

INSTANTIATE_TEST_SUITE_P(FontsAndSizes, ReservedLabelRepaint,
                         ::testing::Combine(::testing::Bool(), ::testing::Values(11, 13, 19)));

}  // namespace
}  // namespace zrv::test
