#include "link/ttimer.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimerEvent>
#include <algorithm>
#include <cstdint>
#include <exception>
#include <memory>
#include <utility>
#include <vector>

namespace zrv {

void TimeSource::Tick(TTimer& timer) { timer.Fire(); }

namespace {

class QtTimeSource final : public TimeSource {
 public:
  static void TickTimer(TTimer& timer) { Tick(timer); }

 protected:
  std::unique_ptr<Arm> NewArm(TTimer& timer) override;
};

// A handler's exception, raised again from an event of its own.
class FailureEvent final : public QEvent {
 public:
  explicit FailureEvent(std::exception_ptr failure) : QEvent(Type()), Failure(std::move(failure)) {}
  static QEvent::Type Type() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
  }
  std::exception_ptr Failure;
};

// Raises the failures of the calling thread's timers again; lives as long as the thread.
class FailureReporter final : public QObject {
 public:
  static void Post(std::exception_ptr failure) {
    thread_local const std::unique_ptr<FailureReporter> reporter = std::make_unique<FailureReporter>();
    QCoreApplication::postEvent(reporter.get(), new FailureEvent(std::move(failure)));
  }

 protected:
  void customEvent(QEvent* event) override {
    if (event->type() == FailureEvent::Type()) {
      std::rethrow_exception(static_cast<FailureEvent*>(event)->Failure);
    }
  }
};

// One TTimer on the real clock: a Qt timer of its own. Qt never delivers a timer again while its
// previous event is still being handled, and a handler may wait in a nested event loop (a modal
// box) for as long as the operator likes; the timers of the window tick on meanwhile, and enter
// that handler again. So when the event loop is about to wait while every Qt timer of this arm is
// busy with a tick, a relief timer of the same interval is started, and stopped again once a tick
// has returned and left a free timer.
class QtArm final : public QObject, public TimeSource::Arm {
 public:
  explicit QtArm(TTimer& owner) : owner_(owner) {}
  ~QtArm() override { *alive_ = false; }

  void Start(int intervalMs) override {
    Stop();
    interval_ = intervalMs;
    running_ = true;
    timers_.push_back({startTimer(interval_, Qt::PreciseTimer), false});
    if (!watching_) {
      if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(thread())) {
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] { Relieve(); });
        watching_ = true;
      }
    }
  }
  void Stop() override {
    running_ = false;
    for (const Timer& timer : timers_) killTimer(timer.Id);
    timers_.clear();
  }

 protected:
  void timerEvent(QTimerEvent* event) override {
    const int id = event->timerId();
    SetBusy(id, true);
    ++ticking_;
    // The handler may destroy this arm, its timer, or any other timer.
    const std::shared_ptr<bool> alive = alive_;
    std::exception_ptr failure;
    try {
      QtTimeSource::TickTimer(owner_);
    } catch (...) {
      failure = std::current_exception();
    }
    if (*alive) {
      --ticking_;
      SetBusy(id, false);
      DropSpareTimers();
    }
    // Reported from an event of its own, so that whatever reports it (an error box) holds no
    // timer: this one and the others go on ticking.
    if (failure) FailureReporter::Post(std::move(failure));
  }

 private:
  struct Timer {
    int Id;
    bool Busy;  // its tick is running (waiting in a nested event loop if the loop is about to block)
  };

  void SetBusy(int id, bool busy) {
    for (Timer& timer : timers_) {
      if (timer.Id == id) timer.Busy = busy;
    }
  }
  void Relieve() {
    if (!running_ || ticking_ == 0) return;
    if (std::none_of(timers_.begin(), timers_.end(), [](const Timer& t) { return !t.Busy; })) {
      timers_.push_back({startTimer(interval_, Qt::PreciseTimer), false});
    }
  }
  // One free timer is enough; the first (the oldest) is kept.
  void DropSpareTimers() {
    bool freeSeen = false;
    for (auto it = timers_.begin(); it != timers_.end();) {
      if (!it->Busy && freeSeen) {
        killTimer(it->Id);
        it = timers_.erase(it);
      } else {
        freeSeen = freeSeen || !it->Busy;
        ++it;
      }
    }
  }

  TTimer& owner_;
  int interval_ = 0;
  bool running_ = false;
  bool watching_ = false;
  int ticking_ = 0;  // ticks of this timer running, outer ones waiting in nested event loops
  std::vector<Timer> timers_;
  const std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

std::unique_ptr<TimeSource::Arm> QtTimeSource::NewArm(TTimer& timer) { return std::make_unique<QtArm>(timer); }

}  // namespace

TimeSource& RealTimeSource() {
  static QtTimeSource source;
  return source;
}

// ---------------------------------------------------------------------------------------------

TTimer::TTimer(TimeSource& source, int intervalMs, bool enabled)
    : arm_(source.NewArm(*this)), interval_(intervalMs), enabled_(enabled) {
  Update();
}

TTimer::~TTimer() {
  if (running_) arm_->Stop();
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Update();
}

void TTimer::SetInterval(int ms) {
  if (ms == interval_) return;
  interval_ = ms;
  if (running_ && interval_ > 0) {
    arm_->Start(interval_);
  } else {
    Update();
  }
}

void TTimer::Restart() {
  if (running_) arm_->Start(interval_);
}

void TTimer::Update() {
  const bool wanted = enabled_ && interval_ > 0;
  if (wanted == running_) return;
  running_ = wanted;
  if (wanted) {
    arm_->Start(interval_);
  } else {
    arm_->Stop();
  }
}

void TTimer::Fire() {
  if (!OnTimer) return;
  // A copy, so a handler that replaces OnTimer does not destroy the code it is running.
  const std::function<void()> handler = OnTimer;
  handler();
}

}  // namespace zrv
