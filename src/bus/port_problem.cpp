#include "bus/port_problem.h"

#include <cerrno>

namespace zrv::bus {

QString PortProblemKey(PortProblem problem) {
  switch (problem) {
    case PortProblem::None: return {};
    case PortProblem::Missing: return QStringLiteral("missing");
    case PortProblem::Busy: return QStringLiteral("busy");
    case PortProblem::NoAccess: return QStringLiteral("no-access");
    case PortProblem::NotSerial: return QStringLiteral("not-serial");
    case PortProblem::BadSetting: return QStringLiteral("bad-setting");
    case PortProblem::Lost: return QStringLiteral("lost");
    case PortProblem::Other: break;
  }
  return QStringLiteral("other");
}

QString PortProblemText(const PortError& error, const QString& port) {
  QString text;
  switch (error.problem) {
    case PortProblem::None: return {};
    case PortProblem::Missing:
      text = QStringLiteral("%1 does not exist: plug the adapter in, or choose another port").arg(port);
      break;
    case PortProblem::Busy:
      text = QStringLiteral("%1 is held by another program: close it and try again").arg(port);
      break;
    case PortProblem::NoAccess:
#ifdef _WIN32
      text = QStringLiteral("%1 may not be opened by this user").arg(port);
#else
      text = QStringLiteral(
                 "%1 may not be opened by this user: add the user to the dialout group "
                 "(sudo usermod -aG dialout $USER) and log in again")
                 .arg(port);
#endif
      break;
    case PortProblem::NotSerial:
      text = QStringLiteral("%1 is not a serial port").arg(port);
      break;
    case PortProblem::BadSetting:
      text = QStringLiteral("%1 does not take these line settings").arg(port);
      break;
    case PortProblem::Lost:
      text = QStringLiteral("%1 went away: the adapter was unplugged").arg(port);
      break;
    case PortProblem::Other:
      text = QStringLiteral("%1 cannot be used").arg(port);
      break;
  }
  if (!error.detail.isEmpty()) text += QStringLiteral(" (%1)").arg(error.detail);
  return text;
}

PortProblem ProblemFromErrno(int error) {
  switch (error) {
    case 0: return PortProblem::None;
    case ENOENT:
    case ENODEV:
    case ENXIO: return PortProblem::Missing;
    case EBUSY:
    case EWOULDBLOCK: return PortProblem::Busy;
    case EACCES:
    case EPERM:
    case EROFS: return PortProblem::NoAccess;
    case ENOTTY: return PortProblem::NotSerial;
    case EINVAL: return PortProblem::BadSetting;
    case EIO: return PortProblem::Lost;
    default: return PortProblem::Other;
  }
}

PortProblem ProblemFromWin32Error(unsigned long error) {
  // The few Win32 error codes a COM port gives, by number, so that this sorts on every system.
  switch (error) {
    case 0: return PortProblem::None;
    case 2:     // ERROR_FILE_NOT_FOUND
    case 3:     // ERROR_PATH_NOT_FOUND
    case 1167:  // ERROR_DEVICE_NOT_CONNECTED
      return PortProblem::Missing;
    case 5:   // ERROR_ACCESS_DENIED: what Windows answers for a COM port another program has open
    case 32:  // ERROR_SHARING_VIOLATION
      return PortProblem::Busy;
    case 87:  // ERROR_INVALID_PARAMETER
      return PortProblem::BadSetting;
    case 1:    // ERROR_INVALID_FUNCTION
    case 22:   // ERROR_BAD_COMMAND
    case 995:  // ERROR_OPERATION_ABORTED
      return PortProblem::Lost;
    default: return PortProblem::Other;
  }
}

}  // namespace zrv::bus
