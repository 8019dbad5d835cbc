// The program entry: the application, the one window, the event loop; exit code 0 in every case.
// The operating system's HID backend. The Windows one lives in src/link/platform/win32/.
#ifdef _WIN32
#include "link/platform/win32/win32_hid_platform.h"
#else
#include "link/platform/linux/linux_hid_platform.h"
#endif
#include "link/ttimer.h"
#include "session/driver_session.h"
#include "ui/application.h"
#include "ui/form1.h"
#include "ui/message_boxes.h"

namespace {

void RunWindow(zrv::QtMessageBoxes& boxes) {
  // Outlives the window and every device object the window holds.
#ifdef _WIN32
  zrv::Win32HidPlatform platform;
#else
  zrv::LinuxHidPlatform platform;
#endif
  // The window is a view of the session, which outlives it.
  zrv::DriverSession session(zrv::RealTimeSource(), platform);
  zrv::TForm1 form(session, zrv::RealTimeSource(), boxes);
  boxes.SetParent(&form);
  form.show();
  zrv::TApplication::exec();
  boxes.SetParent(nullptr);
}

}  // namespace

int main(int /*argc*/, char** /*argv*/) { return zrv::RunProgram("zrv-pc", RunWindow); }
