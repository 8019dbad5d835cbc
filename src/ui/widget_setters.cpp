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
#include <QFontMetricsF>
#include <QBrush>
#include <QEvent>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QRect>
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

constexpr int kUnitsPerPixel = 64;
// Rounding and a glyph's overhang beyond its advance never reach this far.
constexpr int kSlackPixels = 2;

// The part of a horizontal gauge that differs between two positions: from the old end of the bar
// to the new one, widened for rounding, the edge's anti-aliasing and a rounded or lit end. Styles
// that draw the bar across the whole groove differently (vertical bars, a value text, a busy
// bar) get the whole gauge.
QRect GaugeStrip(const QProgressBar* gauge, int from, int to) {
  const int span = gauge->maximum() - gauge->minimum();
  if (gauge->orientation() != Qt::Horizontal || gauge->isTextVisible() || span <= 0 ||
      gauge->invertedAppearance() || gauge->layoutDirection() == Qt::RightToLeft) {
    return gauge->rect();
  }
  constexpr int kEdgePixels = 4;
  const auto at = [&](int value) {
    return static_cast<int>(static_cast<long long>(value - gauge->minimum()) * gauge->width() / span);
  };
  const int left = std::max(0, std::min(at(from), at(to)) - kEdgePixels);
  const int right = std::min(gauge->width(), std::max(at(from), at(to)) + kEdgePixels);
  return QRect(left, 0, right - left, gauge->height());
}

void AutoSizeToText(QLabel* label) {
  // Auto-size: the width follows the text both ways, the height never drops below the layout's.
  const QSize hint = label->sizeHint();
  const QSize wanted(hint.width(), std::max(label->height(), hint.height()));
  if (wanted != label->size()) {
    label->resize(wanted);
  }
}

// Paints a reserved label's one line of plain text as the label's own painting does, without the
// line layout that painting runs through: the text is shaped and drawn straight at its baseline,
// which is where the label's layout puts it (one line, left-aligned, centred vertically).
class OneLineText final : public QObject {
 public:
  explicit OneLineText(QLabel* label) : QObject(label), label_(label) { label->installEventFilter(this); }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != label_ || event->type() != QEvent::Paint || !label_->autoFillBackground() ||
        !label_->isEnabled()) {
      return false;
    }
    const QString text = label_->text();
    // Mnemonics, tabs and line breaks are the label's own business.
    for (const QChar c : text) {
      if (c == QLatin1Char('&') || c == QLatin1Char('\t') || c == QLatin1Char('\n')) {
        return false;
      }
    }
    if (text.isEmpty()) {
      return true;
    }
    QPainter painter(label_);
    const QFontMetricsF metrics(painter.font());
    const QRect area = label_->contentsRect();
    painter.setPen(label_->palette().color(label_->foregroundRole()));
    const qreal top = area.y() + (area.height() - (metrics.ascent() + metrics.descent())) / 2;
    painter.drawText(QPointF(area.x(), top + metrics.ascent()), text);
    return true;
  }

 private:
  QLabel* label_;
};

// Keeps what a gauge looks like at each position it has shown, drawn once by the gauge itself:
// a gauge that comes back to a position repaints by copying that picture instead of drawing its
// groove and bar again. Anything that may change the look drops all pictures.
class GaugeLooks final : public QObject {
 public:
  explicit GaugeLooks(QProgressBar* gauge) : QObject(gauge), gauge_(gauge) { gauge->installEventFilter(this); }

  // Called with the gauge at its new position, outside any paint.
  void Remember() {
    const int index = Index();
    if (index < 0 || !looks_[static_cast<std::size_t>(index)].isNull() || !gauge_->isVisible()) {
      return;
    }
    QPixmap look(gauge_->size() * gauge_->devicePixelRatio());
    look.setDevicePixelRatio(gauge_->devicePixelRatio());
    drawing_ = true;
    gauge_->render(&look, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    drawing_ = false;
    looks_[static_cast<std::size_t>(index)] = look;
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != gauge_ || drawing_) {
      return false;
    }
    switch (event->type()) {
      case QEvent::Paint:
        break;
      case QEvent::PaletteChange:
      case QEvent::StyleChange:
      case QEvent::Resize:
      case QEvent::EnabledChange:
      case QEvent::FontChange:
      case QEvent::LayoutDirectionChange:
      case QEvent::ScreenChangeInternal:
      case QEvent::ActivationChange:
        Forget();
        return false;
      default:
        return false;
    }
    const int index = Index();
    if (index < 0 || looks_[static_cast<std::size_t>(index)].isNull() ||
        looks_[static_cast<std::size_t>(index)].devicePixelRatio() != gauge_->devicePixelRatio()) {
      return false;
    }
    QPainter painter(gauge_);
    painter.drawPixmap(0, 0, looks_[static_cast<std::size_t>(index)]);
    return true;
  }

 private:
  // Only a plain gauge of at most 100 steps, whose look follows its position alone.
  int Index() const {
    const int span = gauge_->maximum() - gauge_->minimum();
    if (span <= 0 || span >= kMaxLooks || gauge_->isTextVisible() || gauge_->hasFocus()) {
      return -1;
    }
    return gauge_->value() - gauge_->minimum();
  }
  void Forget() {
    for (QPixmap& look : looks_) {
      look = QPixmap();
    }
  }

  static constexpr int kMaxLooks = 101;
  QProgressBar* gauge_;
  std::array<QPixmap, kMaxLooks> looks_;
  bool drawing_ = false;
};

}  // namespace

void KeepGaugeLooks(QProgressBar* gauge) {
  if (gauge->findChild<GaugeLooks*>(QString(), Qt::FindDirectChildrenOnly) == nullptr) {
    new GaugeLooks(gauge);
  }
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

void ReservedLabel::Reserve(QLabel* label, int width) {
  label_ = label;
  const QSize hint = label->sizeHint();
  const QSize reserved(std::max({width, label->width(), hint.width()}),
                       std::max(label->height(), hint.height()));
  // A bare spot inside the reserved room, right of the present text.
  const int sampleX = std::min(label->x() + std::max(label->width(), hint.width()) + 1,
                               label->x() + reserved.width() - 1);
  PaintOwnBackground(label, QPoint(sampleX, label->y() + reserved.height() / 2));
  // A fixed size spares every text change a geometry request to the parent.
  label->setFixedSize(reserved);
  // Readings are never rich text; this spares every change the check for markup.
  label->setTextFormat(Qt::PlainText);
  const QFontMetricsF metrics(label->font());
  for (int code = 0; code < 256; ++code) {
    advance64_[static_cast<std::size_t>(code)] = static_cast<std::int32_t>(
        std::lround(metrics.horizontalAdvance(QChar(static_cast<char16_t>(code))) * kUnitsPerPixel));
  }
  kerning64_.clear();
  if (label->alignment() == (Qt::AlignLeft | Qt::AlignVCenter) && label->indent() <= 0 && label->margin() == 0 &&
      label->frameWidth() == 0 && !label->wordWrap()) {
    new OneLineText(label);
  }
  reserved_ = true;
}

std::int64_t ReservedLabel::Offset64(std::string_view text, std::size_t index) {
  std::int64_t offset = 0;
  for (std::size_t i = 0; i < index && i < text.size(); ++i) {
    const auto first = static_cast<unsigned char>(text[i]);
    offset += advance64_[first];
    if (i + 1 >= text.size()) {
      break;
    }
    // The kerning of a pair, measured once: what the two together take beyond their advances.
    const auto second = static_cast<unsigned char>(text[i + 1]);
    const auto pair = static_cast<std::uint16_t>(first << 8 | second);
    auto known = kerning64_.find(pair);
    if (known == kerning64_.end()) {
      const QChar both[] = {QChar(static_cast<char16_t>(first)), QChar(static_cast<char16_t>(second))};
      const double together = QFontMetricsF(label_->font()).horizontalAdvance(QString(both, 2));
      known = kerning64_
                  .emplace(pair, static_cast<std::int32_t>(std::lround(together * kUnitsPerPixel)) -
                                     advance64_[first] - advance64_[second])
                  .first;
    }
    offset += known->second;
  }
  return offset;
}

bool ReservedLabel::SetText(std::string_view text) {
  QLabel* label = label_;
  const QString shown = label->text();
  if (shown == Latin1(text)) {
    return false;
  }
  if (reserved_) {
    const std::int64_t width = Offset64(text, text.size());
    if ((width + kUnitsPerPixel - 1) / kUnitsPerPixel + kSlackPixels > label->width()) {
      // Too long for the room reserved: from now on the label is a plain self-sizing text again,
      // drawn over whatever lies beyond its room, as any other static text.
      reserved_ = false;
      label->setAutoFillBackground(false);
      label->setMinimumSize(0, 0);
      label->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
  }
  const bool leftAligned = (label->alignment() & Qt::AlignHorizontal_Mask & ~Qt::AlignAbsolute) ==
                           Qt::AlignLeft;
  if (!reserved_ || !leftAligned || !label->updatesEnabled()) {
    label->setText(Latin1(text));
    if (!reserved_) {
      AutoSizeToText(label);
    }
    return true;
  }
  // The characters before the first change stay where they were and look as they did, so only
  // the rest of the label is repainted. The one just before the change is repainted too, in case
  // the shaping joins it with the next.
  const std::size_t common = std::min(static_cast<std::size_t>(shown.size()), text.size());
  std::size_t same = 0;
  while (same < common && shown[static_cast<qsizetype>(same)] == QLatin1Char(text[same])) {
    ++same;
  }
  same = same > 0 ? same - 1 : 0;
  const int left = std::max<int>(0, static_cast<int>(Offset64(text, same) / kUnitsPerPixel) - kSlackPixels);
  // The label would ask for a repaint of all of itself.
  label->setAttribute(Qt::WA_UpdatesDisabled, true);
  label->setText(Latin1(text));
  label->setAttribute(Qt::WA_UpdatesDisabled, false);
  label->update(QRect(left, 0, label->width() - left, label->height()));
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
  // The bar's own repaint skips moves smaller than a chunk of chunked styles (a dozen points on
  // these bars), which leaves a continuous bar that far behind its reading; and it repaints at
  // once, a flush of its own. So its own repaint is held back, and the strip between the old and
  // the new end of the bar joins the window's one repaint of the tick.
  const int before = gauge->value();
  const bool updates = !gauge->testAttribute(Qt::WA_UpdatesDisabled);
  gauge->setAttribute(Qt::WA_UpdatesDisabled, true);
  gauge->setValue(clamped);
  gauge->setAttribute(Qt::WA_UpdatesDisabled, !updates);
  if (updates) {
    if (auto* looks = gauge->findChild<GaugeLooks*>(QString(), Qt::FindDirectChildrenOnly)) {
      looks->Remember();
    }
    gauge->update(GaugeStrip(gauge, before, clamped));
  }
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

void PaintOwnBackgroundPicture(QWidget* widget) {
  QWidget* window = widget->window();
  const QRect area(widget->mapTo(window, QPoint(0, 0)), widget->size());
  const bool hidden = widget->isHidden();
  widget->hide();
  const QImage behind = window->grab(area).toImage().convertToFormat(QImage::Format_RGB32);
  widget->setVisible(!hidden);
  // Styles derive their frame colours from the window and button roles, so the picture goes into
  // a role that nothing of the widget's own painting reads.
  widget->setBackgroundRole(QPalette::ToolTipBase);
  QPalette palette = widget->palette();
  palette.setBrush(QPalette::ToolTipBase, QBrush(QPixmap::fromImage(behind)));
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
