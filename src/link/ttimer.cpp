#include "link/ttimer.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <utility>
#include <vector>

namespace zrv {

void TimeSource::Tick(TTimer& timer) { timer.Fire(); }

namespace {

using Clock = std::chrono::steady_clock;

class QtArm;

class QtTimeSource final : public TimeSource {
 public:
  static void TickTimer(TTimer& timer) { Tick(timer); }

 protected:
  std::unique_ptr<Arm> NewArm(TTimer& timer) override;
};

// A handler's exception, raised again after the beat that caught it.
class FailureEvent final : public QEvent {
 public:
  explicit FailureEvent(std::exception_ptr failure) : QEvent(Type()), Failure(std::move(failure)) {}
  static QEvent::Type Type() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
  }
  std::exception_ptr Failure;
};

// The timers of one interval on one thread tick together, from one QTimer: one wake-up of the
// thread per interval, however many timers share it.
// A QTimer is not fired again while its own timeout is still running, and a handler may run a
// nested event loop (a message box) for as long as the operator likes: when the loop is about to
// wait while beats are being struck, a relief QTimer takes over the beat until those return, so
// the other timers of the beat go on ticking.
class Beat final : public QObject {
 public:
  explicit Beat(int intervalMs) : interval_(intervalMs) {
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { Fire(); });
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(thread())) {
      QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
        while (firing_ > activeReliefs_) StartRelief();
      });
    }
  }

  int Interval() const { return interval_; }
  void Join(QtArm* arm) {
    arms_.push_back(arm);
    if (!timer_.isActive()) {
      timer_.start(interval_);
    }
  }
  void Leave(QtArm* arm) {
    arms_.erase(std::remove(arms_.begin(), arms_.end(), arm), arms_.end());
    if (arms_.empty()) {
      timer_.stop();
    }
  }

 protected:
  void customEvent(QEvent* event) override {
    if (event->type() == FailureEvent::Type()) {
      std::rethrow_exception(static_cast<FailureEvent*>(event)->Failure);
    }
  }

 private:
  void Fire();
  void StartRelief() {
    if (activeReliefs_ == reliefs_.size()) {
      auto relief = std::make_unique<QTimer>();
      relief->setTimerType(Qt::PreciseTimer);
      QObject::connect(relief.get(), &QTimer::timeout, this, [this] { Fire(); });
      reliefs_.push_back(std::move(relief));
    }
    reliefs_[activeReliefs_++]->start(interval_);
  }

  const int interval_;
  QTimer timer_;
  std::vector<QtArm*> arms_;  // in the order they joined
  std::uint64_t beats_ = 0;
  std::size_t firing_ = 0;  // beats being struck, outer ones waiting in nested event loops
  std::vector<std::unique_ptr<QTimer>> reliefs_;
  std::size_t activeReliefs_ = 0;
};

// The beats of the calling thread; they live as long as the thread.
std::vector<std::unique_ptr<Beat>>& ThreadBeats() {
  thread_local std::vector<std::unique_ptr<Beat>> beats;
  return beats;
}

class QtArm final : public TimeSource::Arm {
 public:
  explicit QtArm(TTimer& owner) : owner_(owner), beats_(ThreadBeats()) {}
  ~QtArm() override {
    *alive_ = false;
    Leave();
  }

  // The first tick comes at the first beat at least an interval from now: never early, and the
  // first one at most an interval late.
  void Start(int intervalMs) override {
    Leave();
    Beat* beat = nullptr;
    for (const auto& b : beats_) {
      if (b->Interval() == intervalMs) beat = b.get();
    }
    if (beat == nullptr) {
      beat = beats_.emplace_back(std::make_unique<Beat>(intervalMs)).get();
    }
    notBefore_ = Clock::now() + std::chrono::milliseconds(intervalMs);
    beat_ = beat;
    beat_->Join(this);
  }
  void Stop() override { Leave(); }

  // Whether the beat numbered `beat`, struck at `now`, is due to tick this timer.
  bool Due(std::uint64_t beat, Clock::time_point now) const {
    return lastBeat_ < beat && !ticking_ && notBefore_ <= now;
  }
  // The handler may destroy this arm, its timer, or any other timer.
  void Tick(std::uint64_t beat) {
    lastBeat_ = beat;
    const std::shared_ptr<bool> alive = alive_;
    ticking_ = true;
    struct Done {
      QtArm* arm;
      const std::shared_ptr<bool>& alive;
      ~Done() {
        if (*alive) arm->ticking_ = false;
      }
    } done{this, alive};
    QtTimeSource::TickTimer(owner_);
  }

 private:
  void Leave() {
    if (beat_ != nullptr) {
      beat_->Leave(this);
      beat_ = nullptr;
    }
  }

  TTimer& owner_;
  std::vector<std::unique_ptr<Beat>>& beats_;
  Beat* beat_ = nullptr;
  Clock::time_point notBefore_{};
  std::uint64_t lastBeat_ = 0;
  // A handler still running (in a nested event loop) is not entered again, as with a QTimer.
  bool ticking_ = false;
  const std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

void Beat::Fire() {
  if (arms_.empty()) return;
  const Clock::time_point now = Clock::now();
  const std::uint64_t beat = ++beats_;
  ++firing_;
  struct Done {
    Beat& beat;
    ~Done() {
      --beat.firing_;
      while (beat.activeReliefs_ > beat.firing_) beat.reliefs_[--beat.activeReliefs_]->stop();
    }
  } done{*this};
  // Handlers may start, stop or destroy any timer, and a nested event loop may strike later beats
  // meanwhile: the next timer due is looked up afresh each time. A handler that throws does not
  // keep the others from their tick: its exception is raised again from an event of its own once
  // the beat is over, so whatever reports it (an error box) does not hold the beat's QTimer up
  // either (a second failure in the same beat is dropped).
  std::exception_ptr failure;
  for (;;) {
    QtArm* next = nullptr;
    for (QtArm* arm : arms_) {
      if (arm->Due(beat, now)) {
        next = arm;
        break;
      }
    }
    if (next == nullptr) break;
    try {
      next->Tick(beat);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) {
    QCoreApplication::postEvent(this, new FailureEvent(std::move(failure)));
  }
}

std::unique_ptr<TimeSource::Arm> QtTimeSource::NewArm(TTimer& timer) { return std::make_unique<QtArm>(timer); }

}  // namespace

TimeSource& RealTimeSource() {
  static QtTimeSource source;
  return source;
}

// ---------------------------------------------------------------------------------------------

class ManualTimeSource::ManualArm final : public TimeSource::Arm {
 public:
  ManualArm(ManualTimeSource& source, TTimer& timer) : source_(source), timer_(timer) {}
  ~ManualArm() override { source_.Unschedule(this); }
  void Start(int intervalMs) override {
    interval_ = intervalMs;
    source_.Schedule(this, source_.now_ + intervalMs);
  }
  void Stop() override { source_.Unschedule(this); }

  ManualTimeSource& source_;
  TTimer& timer_;
  int interval_ = 0;
};

ManualTimeSource::ManualTimeSource() = default;
ManualTimeSource::~ManualTimeSource() = default;

std::unique_ptr<TimeSource::Arm> ManualTimeSource::NewArm(TTimer& timer) {
  return std::make_unique<ManualArm>(*this, timer);
}

void ManualTimeSource::Schedule(ManualArm* arm, std::int64_t due) {
  Unschedule(arm);
  entries_.push_back(Entry{arm, due, nextOrder_++});
}

void ManualTimeSource::Unschedule(ManualArm* arm) {
  entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                [arm](const Entry& e) { return e.arm == arm; }),
                 entries_.end());
}

void ManualTimeSource::Advance(int ms) {
  if (ms < 0) return;
  const std::int64_t target = now_ + ms;
  for (;;) {
    // Entries may come and go inside every handler, so the next one is looked up afresh each time.
    auto next = entries_.end();
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->due > target) continue;
      if (next == entries_.end() || it->due < next->due ||
          (it->due == next->due && it->order < next->order)) {
        next = it;
      }
    }
    if (next == entries_.end()) break;
    now_ = std::max(now_, next->due);
    ManualArm* arm = next->arm;
    next->due += std::max(arm->interval_, 1);
    TimeSource::Tick(arm->timer_);
  }
  now_ = std::max(now_, target);
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
