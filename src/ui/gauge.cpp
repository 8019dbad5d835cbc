#include "ui/gauge.h"

#include <QPainter>
#include <QPixmap>
#include <QPixmapCache>
#include <QStyle>
#include <QStyleOptionProgressBar>
#include <QStylePainter>
#include <cmath>
#include <iterator>

namespace zrv {

int TGauge::styleDrawings_ = 0;

TGauge::TGauge(QWidget* parent) : QProgressBar(parent) {}

void TGauge::paintEvent(QPaintEvent* /*event*/) {
  QStyleOptionProgressBar option;
  initStyleOption(&option);
  const qreal ratio = devicePixelRatioF();
  if (option.minimum == option.maximum) {
    QStylePainter painter(this);
    painter.drawControl(QStyle::CE_ProgressBar, option);
    ++styleDrawings_;
    return;
  }
  // The key holds the numbers as they are, sixteen bits to a character: formatting them cost
  // more than drawing the picture.
  const quint64 parts[] = {
      static_cast<quint64>(reinterpret_cast<quintptr>(style())),
      static_cast<quint64>(option.palette.cacheKey()),
      (static_cast<quint64>(static_cast<quint32>(option.rect.width())) << 32) | static_cast<quint32>(option.rect.height()),
      static_cast<quint64>(std::llround(ratio * 1000.0)),
      (static_cast<quint64>(static_cast<quint32>(option.minimum)) << 32) | static_cast<quint32>(option.maximum),
      static_cast<quint64>(static_cast<quint32>(option.progress)),
      (static_cast<quint64>(static_cast<quint32>(option.state.toInt())) << 32) |
          (static_cast<quint64>(option.direction) << 8) | (static_cast<quint64>(option.invertedAppearance) << 2) |
          (static_cast<quint64>(option.bottomToTop) << 1) | static_cast<quint64>(option.textVisible),
  };
  QString key;
  key.reserve(static_cast<qsizetype>(std::size(parts) * 4 + 16));
  for (const quint64 part : parts) {
    for (int shift = 0; shift < 64; shift += 16) key.append(QChar(static_cast<char16_t>(part >> shift)));
  }
  key.append(style()->name());
  if (option.textVisible) key.append(QLatin1Char('/') + option.text + QLatin1Char('/') + font().key());
  QPixmap picture;
  if (!QPixmapCache::find(key, &picture)) {
    picture = QPixmap(option.rect.size() * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::transparent);
    {
      QPainter painter(&picture);
      painter.setFont(font());
      style()->drawControl(QStyle::CE_ProgressBar, &option, &painter, this);
    }
    ++styleDrawings_;
    QPixmapCache::insert(key, picture);
  }
  QPainter painter(this);
  painter.drawPixmap(option.rect.topLeft(), picture);
}

}  // namespace zrv
