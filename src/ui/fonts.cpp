#include "ui/fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace zrv {

namespace {

const QString kTahoma = QStringLiteral("Tahoma");

QString ResolveFamily() {
  if (QFontDatabase::families().contains(kTahoma, Qt::CaseInsensitive)) {
    return kTahoma;
  }
  bool loaded = false;
  for (const char* file : {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf"}) {
    const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(file));
    if (id >= 0 && QFontDatabase::applicationFontFamilies(id).contains(kTahoma, Qt::CaseInsensitive)) {
      loaded = true;
    }
  }
  if (loaded) {
    return kTahoma;
  }
  return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

}  // namespace

QString WindowFontFamily() {
  static const QString family = ResolveFamily();
  return family;
}

}  // namespace zrv
