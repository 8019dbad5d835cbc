#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <cstring>

#include "bus/pty_line.h"

namespace zrv::bus {

PtyLine::PtyLine(QObject* parent) : QObject(parent) {
  clock_.start();
  paceTimer_.setSingleShot(true);
  paceTimer_.setTimerType(Qt::PreciseTimer);
  connect(&paceTimer_, &QTimer::timeout, this, &PtyLine::Pace);
  // A master end reads EIO (and polls readable) for as long as no one has the other end open:
  // look again now and then instead of spinning.
  retryTimer_.setInterval(100);
  retryTimer_.setSingleShot(true);
  connect(&retryTimer_, &QTimer::timeout, this, [this] {
    if (readable_ != nullptr) readable_->setEnabled(true);
  });
}

PtyLine::~PtyLine() {
  if (readable_ != nullptr) readable_->setEnabled(false);
  if (master_ >= 0) ::close(master_);
  if (!link_.isEmpty() && QFileInfo(link_).isSymLink()) QFile::remove(link_);
}

bool PtyLine::Open(const QString& link, QString* error) {
  const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 || ::grantpt(fd) != 0 || ::unlockpt(fd) != 0) {
    if (error != nullptr) *error = QStringLiteral("cannot make a pseudo-terminal: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
    if (fd >= 0) ::close(fd);
    return false;
  }
  std::array<char, 128> name{};
  ::ptsname_r(fd, name.data(), name.size());
  termios raw{};
  ::tcgetattr(fd, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(fd, TCSANOW, &raw);
  if (!link.isEmpty()) {
    const QFileInfo existing(link);
    if (existing.exists() || existing.isSymLink()) {
      if (!existing.isSymLink() || !QFile::remove(link)) {
        if (error != nullptr) *error = QStringLiteral("%1 exists and is not a link of ours").arg(link);
        ::close(fd);
        return false;
      }
    }
    if (!QFile::link(QString::fromLocal8Bit(name.data()), link)) {
      if (error != nullptr) *error = QStringLiteral("cannot make the link %1").arg(link);
      ::close(fd);
      return false;
    }
    link_ = link;
  }
  master_ = fd;
  ptsPath_ = QString::fromLocal8Bit(name.data());
  readable_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
  connect(readable_, &QSocketNotifier::activated, this, &PtyLine::ReadTool);
  return true;
}

QString PtyLine::PortPath() const { return link_.isEmpty() ? ptsPath_ : link_; }

void PtyLine::SetBaudrate(std::uint32_t baudrate) {
  out_.SetBaudrate(baudrate);
  in_.SetBaudrate(baudrate);
}

void PtyLine::Send(const QByteArray& bytes) {
  if (bytes.isEmpty() || master_ < 0) return;
  outbound_.append(bytes);
  out_.Queue(static_cast<std::size_t>(bytes.size()), NowUs());
  Pace();
}

void PtyLine::ReadTool() {
  std::array<char, 1024> chunk{};
  for (;;) {
    const ssize_t n = ::read(master_, chunk.data(), chunk.size());
    if (n > 0) {
      inbound_.append(chunk.data(), static_cast<qsizetype>(n));
      in_.Queue(static_cast<std::size_t>(n), NowUs());
      continue;
    }
    if (n < 0 && errno == EIO) {
      readable_->setEnabled(false);
      retryTimer_.start();
    }
    break;
  }
  Pace();
}

void PtyLine::Pace() {
  const std::uint64_t now = NowUs();
  if (const std::size_t due = out_.Take(now); due > 0) {
    const qsizetype n = static_cast<qsizetype>(due);
    // What nobody takes (the tool's end not open, or its buffer full because the tool does not
    // read) is lost, as on a line without a listener.
    const ssize_t written = ::write(master_, outbound_.constData(), static_cast<std::size_t>(n));
    static_cast<void>(written);
    outbound_.remove(0, n);
  }
  if (const std::size_t due = in_.Take(now); due > 0) {
    const qsizetype n = static_cast<qsizetype>(due);
    const QByteArray arrived = inbound_.left(n);
    inbound_.remove(0, n);
    emit Received(arrived);
  }
  std::uint64_t next = 0;
  if (out_.Waiting() > 0) next = out_.NextDueUs();
  if (in_.Waiting() > 0 && (next == 0 || in_.NextDueUs() < next)) next = in_.NextDueUs();
  if (next == 0) return;
  const std::uint64_t later = NowUs();
  const int ms = next > later ? static_cast<int>((next - later + 999) / 1000) : 0;
  paceTimer_.start(ms);
}

}  // namespace zrv::bus
