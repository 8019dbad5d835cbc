#include "ui/widget_setters.h"

#include <QColor>
#include <QComboBox>
#include <QLabel>
#include <QLatin1String>
#include <QLineEdit>
#include <QPalette>
#include <QProgressBar>
#include <QTableWidget>
#include <QTableWidgetItem>
#include <QByteArray>
#include <QFontMetricsF>
#include <QImage>
#include <QPixmap>
#include <QVariant>
#include <algorithm>
#include <cmath>

namespace zrv {

namespace {

QLatin1String Latin1(std::string_view text) {
  return QLatin1String(text.data(), static_cast<qsizetype>(text.size()));
}

QColor ToQColor(Rgb color) { return QColor(color.R, color.G, color.B); }

bool SetRoleColor(QWidget* widget, QPalette::ColorRole role, Rgb color) {
  const QColor wanted = ToQColor(color);
  QPalette palette = widget->palette();
  if (palette.color(QPalette::Active, role) == wanted && palette.color(QPalette::Inactive, role) == wanted) {
    return false;
  }
  palette.setColor(QPalette::Active, role, wanted);
  palette.setColor(QPalette::Inactive, role, wanted);
  widget->setPalette(palette);
  return true;
}

// Per-character advances of a reserved label's font, for all 256 Latin-1 codes, in quarter pixels
// rounded up. Summed over a text they bound its width without laying the text out.
constexpr const char* kAdvancesProperty = "zrvLatin1Advances";
constexpr int kAdvanceUnitsPerPixel = 4;
// Kerning and rounding never add this much to a line of a few dozen characters.
constexpr int kAdvanceSlack = 2;

QByteArray Latin1Advances(const QFont& font) {
  const QFontMetricsF metrics(font);
  QByteArray advances(256, '\0');
  for (int code = 0; code < 256; ++code) {
    const double advance =
        std::ceil(metrics.horizontalAdvance(QChar(static_cast<char16_t>(code))) * kAdvanceUnitsPerPixel);
    advances[code] = static_cast<char>(std::clamp(advance, 0.0, 255.0));
  }
  return advances;
}

void AutoSizeToText(QLabel* label) {
  // Auto-size: the width follows the text both ways, the height never drops below the layout's.
  const QSize hint = label->sizeHint();
  const QSize wanted(hint.width(), std::max(label->height(), hint.height()));
  if (wanted != label->size()) {
    label->resize(wanted);
  }
}

}  // namespace

void FitLabelToText(QLabel* label) {
  const QSize hint = label->sizeHint();
  const QSize now = label->size();
  const QSize wanted(std::max(now.width(), hint.width()), std::max(now.height(), hint.height()));
  if (wanted != now) {
    label->resize(wanted);
  }
}

bool SetLabelText(QLabel* label, std::string_view text) {
  if (label->text() == Latin1(text)) {
    return false;
  }
  label->setText(Latin1(text));
  AutoSizeToText(label);
  return true;
}

void ReserveLabelWidth(QLabel* label, int width) {
  const QSize hint = label->sizeHint();
  const QSize reserved(std::max({width, label->width(), hint.width()}),
                       std::max(label->height(), hint.height()));
  // A bare spot inside the reserved room, right of the present text.
  const int sampleX = std::min(label->x() + std::max(label->width(), hint.width()) + 1,
                               label->x() + reserved.width() - 1);
  PaintOwnBackground(label, QPoint(sampleX, label->y() + reserved.height() / 2));
  // A fixed size spares every text change a geometry request to the parent.
  label->setFixedSize(reserved);
  label->setProperty(kAdvancesProperty, Latin1Advances(label->font()));
}

bool SetReservedLabelText(QLabel* label, std::string_view text) {
  if (label->text() == Latin1(text)) {
    return false;
  }
  if (label->autoFillBackground()) {
    const QByteArray advances = label->property(kAdvancesProperty).toByteArray();
    int bound = label->width() + 1;
    if (advances.size() == 256) {
      int units = 0;
      for (const char c : text) {
        units += static_cast<unsigned char>(advances[static_cast<unsigned char>(c)]);
      }
      bound = (units + kAdvanceUnitsPerPixel - 1) / kAdvanceUnitsPerPixel + kAdvanceSlack;
    }
    if (bound <= label->width()) {
      label->setText(Latin1(text));
      return true;
    }
    // Too long for the room reserved: from now on the label is a plain self-sizing text again,
    // drawn over whatever lies beyond its room, as any other static text.
    label->setAutoFillBackground(false);
    label->setMinimumSize(0, 0);
    label->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  }
  label->setText(Latin1(text));
  AutoSizeToText(label);
  return true;
}

bool SetLabelFontColor(QLabel* label, Rgb color) {
  return SetRoleColor(label, QPalette::WindowText, color);
}

bool SetEditText(QLineEdit* edit, std::string_view text) {
  if (edit->text() == Latin1(text)) {
    return false;
  }
  edit->setText(Latin1(text));
  return true;
}

bool SetEditBackground(QLineEdit* edit, Rgb color) {
  return SetRoleColor(edit, QPalette::Base, color);
}

bool SetGauge(QProgressBar* gauge, int position) {
  // QProgressBar ignores values outside its range instead of pinning them, so clamp here.
  const int clamped = std::clamp(position, gauge->minimum(), gauge->maximum());
  if (gauge->value() == clamped) {
    return false;
  }
  // Left to the bar itself: it skips repaints for changes too small to show, which saves more than
  // holding its repaints back to join the window's one would.
  gauge->setValue(clamped);
  return true;
}

void PaintOwnBackground(QWidget* widget, QPoint bareSpot) {
  QWidget* window = widget->window();
  const QPoint spot = widget->parentWidget()->mapTo(window, bareSpot);
  const QColor behind = window->grab(QRect(spot, QSize(1, 1))).toImage().pixelColor(0, 0);
  QPalette palette = widget->palette();
  palette.setColor(widget->backgroundRole(), behind);
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

void SetIndicator(QLineEdit* edit, std::string_view onText, bool flag, std::string_view offText) {
  SetEditText(edit, flag ? onText : offText);
  SetEditBackground(edit, flag ? IndicatorOnColor : IndicatorOffColor);
}

bool SetCellText(QTableWidget* grid, int row, int column, std::string_view text) {
  QTableWidgetItem* cell = grid->item(row, column);
  if (cell == nullptr) {
    if (text.empty()) {
      return false;
    }
    grid->setItem(row, column, new QTableWidgetItem(Latin1(text)));
    return true;
  }
  if (cell->text() == Latin1(text)) {
    return false;
  }
  cell->setText(Latin1(text));
  return true;
}

bool SelectIndex(QComboBox* list, int index) {
  if (list->currentIndex() == index) {
    return false;
  }
  list->setCurrentIndex(index);
  return true;
}

}  // namespace zrv
