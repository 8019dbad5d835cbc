#include "ui/widget_setters.h"

#include <QColor>
#include <QComboBox>
#include <QEvent>
#include <QFont>
#include <QFontMetrics>
#include <QMetaObject>
#include <QPainter>
#include <QPixmap>
#include <QLabel>
#include <QLatin1String>
#include <QLineEdit>
#include <QPalette>
#include <QProgressBar>
#include <QTableWidget>
#include <QTableWidgetItem>
#include <algorithm>
#include <array>
#include <cstddef>

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

class Backdrop final : public QObject {
 public:
  explicit Backdrop(QWidget* widget) : QObject(widget), widget_(widget) {
    widget->installEventFilter(this);
    Forget();
  }
  ~Backdrop() override { widget_->setAttribute(Qt::WA_OpaquePaintEvent, false); }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != widget_) {
      return false;
    }
    switch (event->type()) {
      case QEvent::Paint:
        if (taking_) {
          return true;  // the picture shows what is behind, without the widget
        }
        if (!picture_.isNull()) {
          QPainter painter(widget_);
          painter.drawPixmap(0, 0, picture_);
        }
        return false;
      case QEvent::PaletteChange:
      case QEvent::StyleChange:
      case QEvent::FontChange:
      case QEvent::EnabledChange:
      case QEvent::ActivationChange:
      case QEvent::ScreenChangeInternal:
      case QEvent::Move:
      case QEvent::Resize:
      case QEvent::Show:
      case QEvent::Hide:
      case QEvent::ParentChange:
        Forget();
        return false;
      default:
        return false;
    }
  }

 private:
  // See-through from now on, until a new picture has been taken: always right, if dearer.
  void Forget() {
    picture_ = QPixmap();
    widget_->setAttribute(Qt::WA_OpaquePaintEvent, false);
    if (!pending_) {
      pending_ = true;
      QMetaObject::invokeMethod(this, [this] { Take(); }, Qt::QueuedConnection);
    }
  }
  // Runs after every widget has handled the change that made the old picture wrong.
  void Take() {
    pending_ = false;
    if (!widget_->isVisible()) {
      return;  // taken when it is shown
    }
    QWidget* window = widget_->window();
    const QRect area(widget_->mapTo(window, QPoint(0, 0)), widget_->size());
    taking_ = true;
    picture_ = window->grab(area);
    taking_ = false;
    widget_->setAttribute(Qt::WA_OpaquePaintEvent, true);
  }

  QWidget* widget_;
  QPixmap picture_;
  bool taking_ = false;
  bool pending_ = false;
};

// The helper has no meta-object of its own, so findChild() cannot tell it from other children.
template <typename Helper>
Helper* HelperOf(QObject* object) {
  for (QObject* child : object->children()) {
    if (auto* helper = dynamic_cast<Helper*>(child)) {
      return helper;
    }
  }
  return nullptr;
}

// The advances of the Latin-1 characters and the height of one font. Asking the font for each
// character of every changed reading cost more than the rest of fitting it; the readings share
// one font, so the table of the font asked for last is kept, and a change of font (the font
// compares unequal) measures anew.
struct Latin1Metrics {
  QFont Font;
  std::array<int, 256> Advances{};
  int Height = 0;
};

const Latin1Metrics& Latin1MetricsOf(const QFont& font) {
  static Latin1Metrics kept;
  static bool measured = false;
  if (!measured || !(kept.Font == font)) {
    const QFontMetrics metrics(font);
    for (int c = 0; c < 256; ++c) {
      kept.Advances[static_cast<std::size_t>(c)] = metrics.horizontalAdvance(QChar(static_cast<char16_t>(c)));
    }
    kept.Height = metrics.height();
    kept.Font = font;
    measured = true;
  }
  return kept;
}

}  // namespace

void PaintBackdrop(QWidget* widget) {
  if (HelperOf<Backdrop>(widget) == nullptr) {
    new Backdrop(widget);
  }
}

void StopPaintingBackdrop(QWidget* widget) {
  delete HelperOf<Backdrop>(widget);
}

bool SetLabelTextInRoom(QLabel* label, std::string_view text, int room) {
  if (label->text() == Latin1(text)) {
    return false;
  }
  label->setText(Latin1(text));
  // The advances of the characters, and a pixel more for each (kerning never widens a pair by as
  // much), tell that a text fits without laying it out as sizeHint() does.
  const Latin1Metrics& metrics = Latin1MetricsOf(label->font());
  int width = 2 * label->margin();
  for (const char c : text) {
    width += metrics.Advances[static_cast<unsigned char>(c)] + 1;
  }
  if (width <= room && label->width() == room && metrics.Height + 2 * label->margin() <= label->height()) {
    return true;
  }
  const QSize hint = label->sizeHint();
  if (hint.width() > room) {
    StopPaintingBackdrop(label);
    AutoSizeToText(label);
  } else if (label->width() != room || label->height() < hint.height()) {
    label->resize(room, std::max(label->height(), hint.height()));
  }
  return true;
}

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
