// The end-to-end tests run the real window, so they need the real application object.
#include <gtest/gtest.h>

#include <QtGlobal>

#include "e2e_support.h"
#include "support/scratch_user_folders.h"
#include "ui/application.h"

int main(int argc, char** argv) {
  qputenv("QT_FONT_DPI", "96");
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  ::testing::InitGoogleTest(&argc, argv);
  const zrv::test::ScratchUserFolders userFolders;
  zrv::test::ScriptedBoxes appBoxes;
  zrv::TApplication app(argc, argv, appBoxes);
  const int result = RUN_ALL_TESTS();
  // An error that escaped a handler anywhere in the run is a failure of the run.
  if (!appBoxes.Boxes.empty()) {
    std::fprintf(stderr, "error box shown: %s\n", appBoxes.Boxes.front().Text.c_str());
    return 1;
  }
  return result;
}
