// The window scenarios live in their own program, zrv-vm-window, which links the widgets; this
// program runs it for each of them so one run reports everything.
#include <string>

#include "guest_support.h"

namespace zrv::vmtest {
namespace {

void RunWindowProgram(Checks& c, const std::string& scenario) {
  // Bounded at 150 s (naps of 10 ms); the program's own waits are bounded far below that.
  const int status = RunProgram({"zrv-vm-window", "--child", scenario}, 15000);
  c.Equal(status, 0, "zrv-vm-window " + scenario + ": exit status");
}

const ScenarioRegistrar kWindow("window", "the window on the real kernel: connect, poll, Modbus, unplug, replug",
                                [](Checks& c) { RunWindowProgram(c, "window"); });
const ScenarioRegistrar kWindowSecond("window-second",
                                      "the window with another device attached: \"Disconnected\", replug",
                                      [](Checks& c) { RunWindowProgram(c, "window-second"); });
const ScenarioRegistrar kWindowRs485("window-rs485", "the window's RS485 link page through ftdi_sio and the 8250",
                                     [](Checks& c) { RunWindowProgram(c, "window-rs485"); });
const ScenarioRegistrar kWindowNoDriver("window-no-driver", "the window with only another device: \"Disconnected\"",
                                        [](Checks& c) { RunWindowProgram(c, "window-no-driver"); });

}  // namespace
}  // namespace zrv::vmtest
