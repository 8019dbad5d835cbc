// The program entry: the application, the one window, the event loop; exit code 0 in every case.
#include <QtGlobal>
#include <memory>

#include "link/platform/linux/linux_hid_platform.h"
#include "link/ttimer.h"
#include "ui/application.h"
#include "ui/form1.h"
#include "ui/message_boxes.h"

namespace {

void RunWindow(zrv::QtMessageBoxes& boxes) {
  // Outlives the window and every device object the window holds.
  zrv::LinuxHidPlatform platform;
  zrv::TForm1 form(zrv::RealTimeSource(), boxes, platform);
  boxes.SetParent(&form);
  form.show();
  zrv::TApplication::exec();
  boxes.SetParent(nullptr);
}

}  // namespace

int main(int /*argc*/, char** /*argv*/) {
  // The command line is ignored, Qt's own options included.
  static char programName[] = "zrv-pc";
  static char* qtArgv[] = {programName, nullptr};
  int qtArgc = 1;

  // The layout is in pixels at 96 DPI; text is sized to match unless the user chose otherwise.
  if (!qEnvironmentVariableIsSet("QT_FONT_DPI")) {
    qputenv("QT_FONT_DPI", "96");
  }

  zrv::QtMessageBoxes boxes;
  std::unique_ptr<zrv::TApplication> app;
  try {
    app = std::make_unique<zrv::TApplication>(qtArgc, qtArgv, boxes);
    RunWindow(boxes);
  } catch (...) {
    if (app) {
      try {
        zrv::ShowCurrentException(boxes);
      } catch (...) {
        // Nothing is left to report to.
      }
    }
  }
  return 0;
}
