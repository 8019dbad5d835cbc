// Turns readability of a descriptor (the udev monitor's socket) into at most one call per
// event-loop pass: every pending event is drained, then one 0-ms single-shot calls back, so a
// burst of events gives one rescan. Runs on the thread that makes it, which needs a Qt event
// loop (a QCoreApplication).
#pragma once

#include <functional>
#include <memory>

class QObject;
class QSocketNotifier;

namespace zrv {

class ChangeWatch {
 public:
  // `drain` must consume everything pending on `fd`; `fd` stays owned by the caller and must
  // stay open while this object lives.
  ChangeWatch(int fd, std::function<void()> drain, std::function<void()> onChange);
  ~ChangeWatch();
  ChangeWatch(const ChangeWatch&) = delete;
  ChangeWatch& operator=(const ChangeWatch&) = delete;

  void SetOnChange(std::function<void()> onChange);

 private:
  struct State {
    std::function<void()> Drain;
    std::function<void()> OnChange;
    bool Queued = false;
  };

  // Shared with a queued call, which may outlive this object by one loop pass.
  std::shared_ptr<State> state_;
  QObject* context_ = nullptr;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace zrv
