#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include "bus/serial_port.h"
#include "bus/serial_port_list.h"
#include "bus/serial_port_notifier.h"

namespace zrv::bus {
namespace {

struct Speed {
  std::uint32_t rate;
  speed_t code;
};
constexpr std::array<Speed, 12> kSpeeds = {{{1200, B1200},
                                            {2400, B2400},
                                            {4800, B4800},
                                            {9600, B9600},
                                            {19200, B19200},
                                            {38400, B38400},
                                            {57600, B57600},
                                            {115200, B115200},
                                            {230400, B230400},
                                            {460800, B460800},
                                            {500000, B500000},
                                            {921600, B921600}}};

bool SpeedCode(std::uint32_t rate, speed_t* code) {
  for (const Speed& s : kSpeeds) {
    if (s.rate == rate) {
      *code = s.code;
      return true;
    }
  }
  return false;
}

// Unix 98 pseudo-terminal slaves have majors 136 to 143.
bool IsPseudoTerminal(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

QString SystemText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

}  // namespace

struct SerialPort::Impl {
  int fd = -1;
  QString path;
  LineSettings settings;
  // Children of the port, let go with deleteLater: the port may be released from inside one of
  // their own signals.
  QSocketNotifier* readable = nullptr;
  QSocketNotifier* writable = nullptr;
  QByteArray pending;

  void Release() {
    detail::LetGo(readable);
    detail::LetGo(writable);
    pending.clear();
    if (fd >= 0) {
      ::close(fd);  // also drops the flock
      fd = -1;
    }
  }
};

SerialPort::SerialPort(QObject* parent) : QObject(parent), impl_(std::make_unique<Impl>()) {}
SerialPort::~SerialPort() { impl_->Release(); }

PortError SerialPort::Open(const QString& path, const LineSettings& settings) {
  Close();
  speed_t speed{};
  if (!SpeedCode(settings.Baudrate, &speed)) {
    return {PortProblem::BadSetting, QStringLiteral("%1 baud").arg(settings.Baudrate)};
  }
  const QByteArray native = path.toLocal8Bit();
  const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    return {ProblemFromErrno(error), SystemText(error)};
  }
  auto refuse = [fd](PortError why) {
    ::close(fd);
    return why;
  };
  if (!::isatty(fd)) return refuse({PortProblem::NotSerial, {}});
  // Two programs on one port garble each other's frames. flock holds against our own kind and
  // against root; TIOCEXCL against other programs that don't lock; the holders found under /proc
  // catch the rest (a terminal program, a Modbus master left running).
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const QStringList holders = ProgramsHolding(path);
    return refuse({PortProblem::Busy, holders.join(QStringLiteral(", "))});
  }
  if (const QStringList holders = ProgramsHolding(path); !holders.isEmpty()) {
    return refuse({PortProblem::Busy, holders.join(QStringLiteral(", "))});
  }
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) {
    const int error = errno;
    return refuse({ProblemFromErrno(error), SystemText(error)});
  }
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  if (settings.Parity != kParityNone) tio.c_cflag |= PARENB;
  if (settings.Parity == kParityOdd) tio.c_cflag |= PARODD;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
  // With one character wanted, a non-blocking read of nothing says EAGAIN and 0 means hung up;
  // with none wanted, 0 would mean both.
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  ::cfsetispeed(&tio, speed);
  ::cfsetospeed(&tio, speed);
  // All at once: a pseudo-terminal refuses parity as a change of its own but takes (and ignores)
  // it beside everything else. Opened again with nothing else to change, parity is all it would
  // be asked for: it has none to set, so it is asked for the rest.
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
    const int error = errno;
    termios withoutParity = tio;
    withoutParity.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD);
    if (error != EINVAL || !IsPseudoTerminal(fd) || ::tcsetattr(fd, TCSANOW, &withoutParity) != 0) {
      return refuse({PortProblem::BadSetting, SystemText(error)});
    }
  }
  ::ioctl(fd, TIOCEXCL);
  ::tcflush(fd, TCIOFLUSH);

  impl_->fd = fd;
  impl_->path = path;
  impl_->settings = settings;
  impl_->readable = new QSocketNotifier(fd, QSocketNotifier::Read, this);
  impl_->writable = new QSocketNotifier(fd, QSocketNotifier::Write, this);
  impl_->writable->setEnabled(false);
  connect(impl_->readable, &QSocketNotifier::activated, this, &SerialPort::ReadAvailable);
  connect(impl_->writable, &QSocketNotifier::activated, this, [this] { Write({}); });
  return {};
}

void SerialPort::ReadAvailable() {
  std::array<char, 512> chunk{};
  QByteArray got;
  while (impl_->fd >= 0) {
    const ssize_t n = ::read(impl_->fd, chunk.data(), chunk.size());
    if (n > 0) {
      got.append(chunk.data(), static_cast<qsizetype>(n));
      continue;
    }
    const int error = errno;
    if (n < 0 && (error == EAGAIN || error == EINTR)) break;
    // A non-blocking tty reads 0 only once it has hung up: the adapter is gone.
    if (!got.isEmpty()) emit BytesArrived(got);
    Fail({PortProblem::Lost, n < 0 ? SystemText(error) : QString()});
    return;
  }
  if (!got.isEmpty()) emit BytesArrived(got);
}

void SerialPort::Close() { impl_->Release(); }
bool SerialPort::IsOpen() const { return impl_->fd >= 0; }
QString SerialPort::Path() const { return impl_->path; }
LineSettings SerialPort::Settings() const { return impl_->settings; }
qsizetype SerialPort::PendingWrite() const { return impl_->pending.size(); }

void SerialPort::Discard() {
  impl_->pending.clear();
  if (impl_->fd >= 0) ::tcflush(impl_->fd, TCIOFLUSH);
}

bool SerialPort::Write(const QByteArray& bytes) {
  if (impl_->fd < 0) return false;
  impl_->pending.append(bytes);
  while (!impl_->pending.isEmpty()) {
    const ssize_t n = ::write(impl_->fd, impl_->pending.constData(),
                              static_cast<std::size_t>(impl_->pending.size()));
    if (n > 0) {
      impl_->pending.remove(0, static_cast<qsizetype>(n));
      continue;
    }
    const int error = errno;
    if (n < 0 && (error == EAGAIN || error == EINTR)) break;
    Fail({PortProblem::Lost, SystemText(error)});
    return false;
  }
  if (impl_->writable != nullptr) impl_->writable->setEnabled(!impl_->pending.isEmpty());
  return true;
}

void SerialPort::Fail(PortError why) {
  if (impl_->fd < 0) return;
  impl_->Release();
  emit Lost(why);
}

}  // namespace zrv::bus
