#include <windows.h>

#include <QWinEventNotifier>
#include <system_error>

#include "link/thread_wakeup.h"

namespace zrv {

struct TThreadWakeup::Impl {
  HANDLE event = nullptr;
  QWinEventNotifier* notifier = nullptr;
};

TThreadWakeup::TThreadWakeup(std::function<void()> handler) : impl_(std::make_unique<Impl>()) {
  // Auto-reset: the notifier's wait resets the event as it sees it set, before the handler runs,
  // so a signal during the handler sets it again and brings another run.
  impl_->event = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (impl_->event == nullptr) {
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), "CreateEvent");
  }
  impl_->notifier = new QWinEventNotifier(impl_->event);
  QObject::connect(impl_->notifier, &QWinEventNotifier::activated,
                   [handler = std::move(handler)] { handler(); });
}

TThreadWakeup::~TThreadWakeup() {
  delete impl_->notifier;
  ::CloseHandle(impl_->event);
}

void TThreadWakeup::Signal() { ::SetEvent(impl_->event); }

}  // namespace zrv
