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
#include <algorithm>

namespace zrv {

namespace {

QLatin1String Latin1(std::string_view text) {
  return QLatin1String(text.data(), static_cast<qsizetype>(text.size()));
}

QColor ToQColor(Rgb color) { return QColor(color.R, color.G, color.B); }

bool SetRoleColor(QWidget* widget, QPalette::ColorRole role, Rgb color) {
  const QColor wanted = ToQColor(color);
  const QPalette& shown = widget->palette();
  if (shown.color(QPalette::Active, role) == wanted && shown.color(QPalette::Inactive, role) == wanted) {
    return false;
  }
  QPalette palette = shown;
  palette.setColor(QPalette::Active, role, wanted);
  palette.setColor(QPalette::Inactive, role, wanted);
  widget->setPalette(palette);
  return true;
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
  // A gauge repaints itself only after a move wider than a chunk of chunked styles (a dozen points
  // on these bars), which leaves a continuous bar behind its reading, and then at once, a flush of
  // its own. Instead it is repainted whole, with the window's next repaint: right under any style.
  gauge->setUpdatesEnabled(false);
  gauge->setValue(clamped);
  gauge->setUpdatesEnabled(true);  // schedules the repaint
  return true;
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
