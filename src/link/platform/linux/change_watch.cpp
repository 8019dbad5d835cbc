#include "link/platform/linux/change_watch.h"

#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

namespace zrv {

ChangeWatch::ChangeWatch(int fd, std::function<void()> drain, std::function<void()> onChange)
    : state_(std::make_shared<State>()) {
  state_->Drain = std::move(drain);
  state_->OnChange = std::move(onChange);
  context_ = new QObject();
  notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, context_);
  QObject::connect(notifier_, &QSocketNotifier::activated, context_, [state = state_, this] {
    if (state->Drain) state->Drain();
    if (state->Queued) return;
    state->Queued = true;
    QTimer::singleShot(0, context_, [state] {
      state->Queued = false;
      // A copy, so the callback may replace or clear the watch while it runs.
      const std::function<void()> callback = state->OnChange;
      if (callback) callback();
    });
  });
}

ChangeWatch::~ChangeWatch() {
  state_->OnChange = nullptr;
  state_->Drain = nullptr;
  notifier_->setEnabled(false);
  // This may run inside the context's own queued call; let the loop delete it afterwards.
  if (QCoreApplication::instance() != nullptr) {
    context_->deleteLater();
  } else {
    delete context_;
  }
}

void ChangeWatch::SetOnChange(std::function<void()> onChange) {
  state_->OnChange = std::move(onChange);
}

}  // namespace zrv
