#include "ui/fonts.h"

#include <QCoreApplication>
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
#ifdef _WIN32
  // Windows brings Tahoma; a system without it gets the copy in the program's folder.
  const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/fonts/");
  const QStringList files = {folder + QStringLiteral("tahoma.ttf"), folder + QStringLiteral("tahomabd.ttf")};
#else
  const QStringList files = {QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"),
                             QStringLiteral("/usr/share/wine/fonts/tahomabd.ttf")};
#endif
  for (const QString& file : files) {
    const int id = QFontDatabase::addApplicationFont(file);
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
