// A worker thread's knock on the UI thread's door: Signal() from any thread, and the handler runs
// on the thread that made the object, from its event loop. Signals that arrive before the handler
// runs are merged into one run; a signal after the handler has started always brings another run,
// so no hand-over is ever left waiting.
//
// Linux: an eventfd watched by a QSocketNotifier. Windows: an auto-reset event watched by a
// QWinEventNotifier (the wait that sees the event set also resets it).
#pragma once

#include <functional>
#include <memory>

namespace zrv {

class TThreadWakeup {
 public:
  // Made on the thread whose event loop runs `handler`.
  explicit TThreadWakeup(std::function<void()> handler);
  // On the same thread, after every thread that signals has ended.
  ~TThreadWakeup();
  TThreadWakeup(const TThreadWakeup&) = delete;
  TThreadWakeup& operator=(const TThreadWakeup&) = delete;

  // Any thread; never blocks.
  void Signal();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zrv
