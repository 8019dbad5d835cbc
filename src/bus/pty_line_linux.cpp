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
  // A master end reads EIO (and polls readable) for as long as no one has the other end open:
  // look again now and then instead of spinning. Soon enough that a tool which opens the port
  // and sends at once is heard well inside its answer's time-out: a request read late comes
  // back late, and its answer then runs into the next request.
  retryTimer_.setInterval(5);
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

void PtyLine::Send(const QByteArray& bytes) {
  if (bytes.isEmpty() || master_ < 0) return;
  const ssize_t written = ::write(master_, bytes.constData(), static_cast<std::size_t>(bytes.size()));
  static_cast<void>(written);
}

void PtyLine::ReadTool() {
  std::array<char, 1024> chunk{};
  QByteArray got;
  for (;;) {
    const ssize_t n = ::read(master_, chunk.data(), chunk.size());
    if (n > 0) {
      got.append(chunk.data(), static_cast<qsizetype>(n));
      continue;
    }
    if (n < 0 && errno == EIO) {
      readable_->setEnabled(false);
      retryTimer_.start();
    }
    break;
  }
  if (!got.isEmpty()) emit Received(got);
}

}  // namespace zrv::bus
