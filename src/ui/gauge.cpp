#include "ui/gauge.h"

#include <QPainter>
#include <QPixmap>
#include <QPixmapCache>
#include <QStyle>
#include <QStyleOptionProgressBar>
#include <QStylePainter>

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
  const QString key = QStringLiteral("zrv-gauge/%1/%2/%3/%4x%5@%6/%7..%8=%9/%10/%11/%12/%13")
                          .arg(style()->name())
                          .arg(reinterpret_cast<quintptr>(style()))
                          .arg(option.palette.cacheKey())
                          .arg(option.rect.width())
                          .arg(option.rect.height())
                          .arg(ratio)
                          .arg(option.minimum)
                          .arg(option.maximum)
                          .arg(option.progress)
                          .arg(static_cast<int>(option.state))
                          .arg(static_cast<int>(option.direction))
                          .arg(static_cast<int>(option.invertedAppearance) * 2 + static_cast<int>(option.bottomToTop))
                          .arg(option.textVisible ? option.text + QLatin1Char('/') + font().key() : QString());
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
