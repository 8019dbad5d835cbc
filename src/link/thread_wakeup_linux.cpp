#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <cstdint>
#include <system_error>

#include "link/thread_wakeup.h"

namespace zrv {

struct TThreadWakeup::Impl {
  int fd = -1;
  QSocketNotifier* notifier = nullptr;
};

TThreadWakeup::TThreadWakeup(std::function<void()> handler) : impl_(std::make_unique<Impl>()) {
  impl_->fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (impl_->fd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  impl_->notifier = new QSocketNotifier(impl_->fd, QSocketNotifier::Read);
  QObject::connect(impl_->notifier, &QSocketNotifier::activated,
                   [fd = impl_->fd, handler = std::move(handler)] {
                     // Emptied before the handler runs: a signal during the handler wakes again.
                     std::uint64_t count = 0;
                     [[maybe_unused]] const ssize_t n = ::read(fd, &count, sizeof count);
                     handler();
                   });
}

TThreadWakeup::~TThreadWakeup() {
  delete impl_->notifier;
  ::close(impl_->fd);
}

void TThreadWakeup::Signal() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(impl_->fd, &one, sizeof one);
}

}  // namespace zrv
