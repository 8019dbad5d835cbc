// The window tests need a real application object: the one that shows escaping exceptions.
#include <gtest/gtest.h>

#include <QtGlobal>

#include "support/scratch_user_folders.h"
#include "ui/application.h"
#include "ui_test_support.h"

namespace zrv::test {

FakeMessageBoxes& AppBoxes() {
  static FakeMessageBoxes boxes;
  return boxes;
}

}  // namespace zrv::test

int main(int argc, char** argv) {
  // Font sizes are checked in pixels at the layout's 96 DPI.
  qputenv("QT_FONT_DPI", "96");
  // Also when the test list is read at build time, outside the test environment.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  ::testing::InitGoogleTest(&argc, argv);
  const zrv::test::ScratchUserFolders userFolders;
  zrv::TApplication app(argc, argv, zrv::test::AppBoxes());
  return RUN_ALL_TESTS();
}
