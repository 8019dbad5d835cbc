// A label that draws its one line of text itself must look exactly as a plain label with the same
// text, in the window's typeface and in one that kerns many pairs, at the window's font sizes, under
// both styles.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QFont>
#include <QImage>
#include <QLabel>
#include <QStyle>
#include <QWidget>
#include <tuple>

#include "ui/fonts.h"
#include "ui/widget_setters.h"

namespace zrv::test {
namespace {

class OneLineTextLooks : public ::testing::TestWithParam<std::tuple<bool, int>> {};

TEST_P(OneLineTextLooks, SameAsAPlainLabel) {
  const QString style = QApplication::style()->name();
  for (const char* styleName : {"Fusion", "Windows"}) {
    QApplication::setStyle(QString::fromLatin1(styleName));
    QWidget window;
    QFont font(std::get<0>(GetParam()) ? WindowFontFamily() : QStringLiteral("DejaVu Sans"));
    font.setPixelSize(std::get<1>(GetParam()));
    window.setFont(font);
    window.resize(900, 100);
    auto* own = new QLabel(&window);
    auto* plain = new QLabel(&window);
    for (QLabel* label : {own, plain}) {
      label->setTextFormat(Qt::PlainText);
      label->resize(860, 30);
    }
    own->move(4, 4);
    plain->move(4, 50);
    DrawAsOneLine(own);
    window.show();
    for (const char* text : {"24.5 V ", "-2.15E06 A ", "0 C", "100 %", "Stop on limit ", "AVAWAy.,To 7/1",
                             "Speed (PWM) set by 0-5V input (4.6 V )   Current limit max (12.30 A )"}) {
      own->setText(QString::fromLatin1(text));
      plain->setText(QString::fromLatin1(text));
      for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
      const QImage all = window.grab().toImage();
      EXPECT_TRUE(all.copy(own->geometry()) == all.copy(plain->geometry())) << styleName << " " << text;
    }
  }
  QApplication::setStyle(style);
}

INSTANTIATE_TEST_SUITE_P(FontsAndSizes, OneLineTextLooks,
                         ::testing::Combine(::testing::Bool(), ::testing::Values(11, 13, 19)));

}  // namespace
}  // namespace zrv::test
