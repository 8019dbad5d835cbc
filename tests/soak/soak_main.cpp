// The soak run drives the real window, so it needs the real application object; an error that
// escapes a handler anywhere in the run fails it.
#include <gtest/gtest.h>

#include <QtGlobal>
#include <cstdio>

#include "soak_support.h"
#include "support/scratch_user_folders.h"
#include "ui/application.h"

int main(int argc, char** argv) {
  qputenv("QT_FONT_DPI", "96");
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  ::testing::InitGoogleTest(&argc, argv);
  const zrv::test::ScratchUserFolders userFolders;
  zrv::soak::ScriptedBoxes appBoxes;
  zrv::TApplication app(argc, argv, appBoxes);
  const int result = RUN_ALL_TESTS();
  if (!appBoxes.Errors.empty()) {
    std::fprintf(stderr, "error box shown: %s\n", appBoxes.Errors.front().c_str());
    return 1;
  }
  return result;
}
