#include "link/platform/linux/hidraw_channel.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

namespace zrv {

HidrawChannel::HidrawChannel(int fd, bool numberedReports)
    : fd_(fd), numberedReports_(numberedReports) {
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
  const std::uint64_t one = 1;
  // The counter only ever needs to be non-zero; a full counter (EAGAIN) is just as good.
  [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void HidrawChannel::DrainWake() {
  std::uint64_t value = 0;
  [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &value, sizeof value);
}

void HidrawChannel::FinishLocked(bool ok, std::uint32_t bytes) {
  state_ = ReadState::Done;
  resultOk_ = ok;
  resultBytes_ = ok ? bytes : 0;
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
  DrainWake();  // a cancel of an earlier read must not end this one
  state_ = ReadState::Pending;
  buffer_ = buffer;
  length_ = length;
  resultOk_ = false;
  resultBytes_ = 0;
  return true;
}

void HidrawChannel::ReadReportLocked() {
  std::uint8_t* target = buffer_;
  std::size_t room = length_;
  if (!numberedReports_) {
    target[0] = 0;
    ++target;
    --room;
  }
  ssize_t n = 0;
  do {
    n = ::read(fd_, target, room);
  } while (n < 0 && errno == EINTR);
  if (n > 0) {
    const auto count = static_cast<std::uint32_t>(n) + (numberedReports_ ? 0u : 1u);
    FinishLocked(true, count);
    return;
  }
  if (n < 0 && errno == EAGAIN) return;  // someone else took it; the read stays pending
  // EIO/ENODEV after an unplug, or end of file: nothing more will come from this descriptor.
  gone_ = true;
  FinishLocked(false, 0);
}

HidWaitResult HidrawChannel::WaitRead(int sliceMs) {
  bool watchDevice = true;
  {
    std::lock_guard lock(mutex_);
    if (state_ != ReadState::Pending) return HidWaitResult::Completed;
    // A gone device would report POLLHUP at once forever; waiting on the wake-up alone keeps a
    // reader that starts read after read from spinning until it is cancelled or closed.
    watchDevice = !gone_;
  }
  pollfd fds[2] = {{watchDevice ? fd_ : -1, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
  const int ready = ::poll(fds, 2, sliceMs < 0 ? 0 : sliceMs);

  std::lock_guard lock(mutex_);
  if (state_ != ReadState::Pending) return HidWaitResult::Completed;  // cancelled or closed
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
  return state_ == ReadState::Pending ? HidWaitResult::Pending : HidWaitResult::Completed;
}

bool HidrawChannel::GetReadResult(std::uint32_t& bytesRead) {
  std::lock_guard lock(mutex_);
  if (state_ != ReadState::Done) {
    bytesRead = 0;
    return false;
  }
  bytesRead = resultBytes_;
  return resultOk_;
}

void HidrawChannel::CancelRead() {
  std::lock_guard lock(mutex_);
  if (state_ == ReadState::Pending) {
    FinishLocked(false, 0);
    Wake();
  }
}

void HidrawChannel::Shutdown() {
  std::lock_guard lock(mutex_);
  shutdown_ = true;
  if (state_ == ReadState::Pending) FinishLocked(false, 0);
  Wake();
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
