// For test programs that run the window: the user's data and configuration folders point at a
// folder of the run's own, removed when the program ends, so that a recording or a fault capture
// made by a test never lands in the real home folder.
#pragma once

#include <QTemporaryDir>

namespace zrv::test {

class ScratchUserFolders {
 public:
  // Before the application object exists: Qt reads the variables when a folder is first asked for.
  ScratchUserFolders();

 private:
  QTemporaryDir dir_;
};

}  // namespace zrv::test
