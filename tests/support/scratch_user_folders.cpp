#include "support/scratch_user_folders.h"

#include <QFile>
#include <QtGlobal>

namespace zrv::test {

ScratchUserFolders::ScratchUserFolders() {
  if (!dir_.isValid()) qFatal("no scratch folder for the user's folders");
  qputenv("XDG_DATA_HOME", QFile::encodeName(dir_.filePath(QStringLiteral("data"))));
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.filePath(QStringLiteral("config"))));
}

}  // namespace zrv::test
