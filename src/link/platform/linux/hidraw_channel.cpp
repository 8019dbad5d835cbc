#include "link/platform/linux/hidraw_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

namespace zrv {

HidrawChannel::HidrawChannel(int fd, bool numberedReports)
    : fd_(fd), numberedReports_(numberedReports) {
  // A reader may share the blocking open file of a write handle; its flags are left as they are.
  if (fd_ >= 0) {
    const int flags = ::fcntl(fd_, F_GETFL);
    nonBlocking_ = flags >= 0 && (flags & O_NONBLOCK) != 0;
  }
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

HidrawChannel::~HidrawChannel() {
  if (fd_ >= 0) ::close(fd_);
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

bool HidrawChannel::IsGone() const {
  std::lock_guard lock(mutex_);
  return gone_;
}

void HidrawChannel::Wake() {
  wakePending_ = true;
  const std::uint64_t one = 1;
  // The counter only ever needs to be non-zero; a full counter (EAGAIN) is just as good.
  [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void HidrawChannel::DrainWake() {
  wakePending_ = false;
  std::uint64_t value = 0;
  [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &value, sizeof value);
}

void HidrawChannel::FinishLocked(bool ok, std::uint32_t bytes) {
  read_.Finish(ok, bytes);
  buffer_ = nullptr;
  length_ = 0;
}

bool HidrawChannel::StartRead(std::uint8_t* buffer, std::size_t length, std::uint32_t& error) {
  std::lock_guard lock(mutex_);
  if (shutdown_ || !IsUsable()) {
    error = EBADF;
    return false;
  }
  // Without report IDs one byte of the buffer goes to the 0 put in front.
  const std::size_t minimum = numberedReports_ ? 1 : 2;
  if (buffer == nullptr || length < minimum) {
    error = EINVAL;
    return false;
  }
  if (wakePending_) DrainWake();  // a cancel of an earlier read must not end this one
  read_.Start();
  buffer_ = buffer;
  length_ = length;
  return true;
}

HidrawChannel::ReadOutcome HidrawChannel::ReadOnceLocked(std::uint8_t* buffer, std::size_t length,
                                                         std::uint32_t& bytes) {
  std::uint8_t* target = buffer;
  std::size_t room = length;
  if (!numberedReports_) {
    target[0] = 0;
    ++target;
    --room;
  }
  // Only after poll() found a report, or on a non-blocking descriptor: it never waits.
  ssize_t n = 0;
  do {
    n = ::read(fd_, target, room);
  } while (n < 0 && errno == EINTR);
  if (n > 0) {
    bytes = static_cast<std::uint32_t>(n) + (numberedReports_ ? 0u : 1u);
    return ReadOutcome::Report;
  }
  if (n < 0 && errno == EAGAIN) return ReadOutcome::Empty;
  // EIO/ENODEV after an unplug, or end of file: nothing more will come from this descriptor.
  gone_ = true;
  return ReadOutcome::Gone;
}

void HidrawChannel::ReadReportLocked() {
  std::uint32_t bytes = 0;
  switch (ReadOnceLocked(buffer_, length_, bytes)) {
    case ReadOutcome::Report:
      FinishLocked(true, bytes);
      break;
    case ReadOutcome::Empty:  // someone else took it; the read stays pending
      break;
    case ReadOutcome::Gone:
      FinishLocked(false, 0);
      break;
  }
}

HidWaitResult HidrawChannel::WaitRead(int sliceMs) {
  bool watchDevice = true;
  {
    std::lock_guard lock(mutex_);
    if (!read_.Pending()) return HidWaitResult::Completed;
    // A gone device would report POLLHUP at once forever; waiting on the wake-up alone keeps a
    // reader that starts read after read from spinning until it is cancelled or closed.
    watchDevice = !gone_;
    polling_ = true;
  }
  pollfd fds[2] = {{watchDevice ? fd_ : -1, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
  const int ready = ::poll(fds, 2, sliceMs < 0 ? 0 : sliceMs);

  std::lock_guard lock(mutex_);
  polling_ = false;
  if (!read_.Pending()) return HidWaitResult::Completed;  // cancelled or closed
  if (ready < 0) {
    if (errno == EINTR) return HidWaitResult::Pending;
    FinishLocked(false, 0);
    return HidWaitResult::Completed;
  }
  if (fds[1].revents != 0) DrainWake();  // stale wake-up from an earlier cancel
  const short revents = fds[0].revents;
  if ((revents & POLLIN) != 0) {
    ReadReportLocked();
  } else if ((revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
    gone_ = true;
    FinishLocked(false, 0);
  }
  return read_.Progress();
}

bool HidrawChannel::GetReadResult(std::uint32_t& bytesRead) {
  std::lock_guard lock(mutex_);
  return read_.Result(bytesRead);
}

void HidrawChannel::CancelRead() {
  std::lock_guard lock(mutex_);
  if (read_.Pending()) {
    FinishLocked(false, 0);
    if (polling_) Wake();  // nobody waits otherwise: spares a write now and a drain later
  }
}

void HidrawChannel::Shutdown() {
  std::lock_guard lock(mutex_);
  shutdown_ = true;
  if (read_.Pending()) FinishLocked(false, 0);
  Wake();
}

bool HidrawChannel::ReadQueued(std::uint8_t* buffer, std::size_t length,
                              std::uint32_t& bytesRead) {
  bytesRead = 0;
  std::lock_guard lock(mutex_);
  const std::size_t minimum = numberedReports_ ? 1 : 2;
  if (shutdown_ || gone_ || !IsUsable() || read_.Pending() || buffer == nullptr ||
      length < minimum) {
    return false;
  }
  if (!nonBlocking_) {
    // Only a report already there may be read: ask first rather than block the caller.
    pollfd fd = {fd_, POLLIN, 0};
    int ready = 0;
    do {
      ready = ::poll(&fd, 1, 0);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) return false;
    if ((fd.revents & POLLIN) == 0) {
      if ((fd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) gone_ = true;
      return false;
    }
  }
  return ReadOnceLocked(buffer, length, bytesRead) == ReadOutcome::Report;
}

bool HidrawChannel::Write(const std::uint8_t* buffer, std::size_t length,
                          std::uint32_t& written) {
  written = 0;
  if (buffer == nullptr || length == 0 || !IsUsable()) return false;
  {
    std::lock_guard lock(mutex_);
    if (shutdown_) return false;
  }
  // hidraw takes the report ID as the first byte, 0 for a device without numbered reports, and
  // takes the whole report in one write or refuses it.
  ssize_t n = 0;
  do {
    n = ::write(fd_, buffer, length);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return false;
  written = static_cast<std::uint32_t>(n);
  return static_cast<std::size_t>(n) == length;
}

}  // namespace zrv
