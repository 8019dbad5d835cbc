// Why a serial port could not be used, in words a technician can act on.
#pragma once

#include <QString>

namespace zrv::bus {

enum class PortProblem {
  None,
  Missing,     // no such port: unplugged, or a wrong name
  Busy,        // another program holds it
  NoAccess,    // the user may not open it (on Linux: not in the dialout group)
  NotSerial,   // the path is not a serial port
  BadSetting,  // the port refused the baud rate or parity
  Lost,        // it went away while open (the adapter was unplugged)
  Other,
};

struct PortError {
  PortProblem problem = PortProblem::None;
  QString detail;  // the system's own message, or who holds the port
  explicit operator bool() const { return problem != PortProblem::None; }
};

// A stable word for scripts: "missing", "busy", "no-access", "not-serial", "bad-setting", "lost",
// "other" ("" for none).
QString PortProblemKey(PortProblem problem);
// One sentence: what is wrong with `port` and how to fix it.
QString PortProblemText(const PortError& error, const QString& port);

// The operating system's error numbers, sorted into the problems above.
PortProblem ProblemFromErrno(int error);
PortProblem ProblemFromWin32Error(unsigned long error);

}  // namespace zrv::bus
