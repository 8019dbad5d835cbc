#include "link/ttimer.h"

#include <QTimer>
#include <algorithm>

namespace zrv {

void TimeSource::Tick(TTimer& timer) { timer.Fire(); }

namespace {

class QtTimeSource final : public TimeSource {
 protected:
  class QtArm final : public Arm {
   public:
    explicit QtArm(TTimer& owner) : owner_(owner) {
      timer_.setTimerType(Qt::PreciseTimer);
      QObject::connect(&timer_, &QTimer::timeout, [this] { TimeSource::Tick(owner_); });
    }
    void Start(int intervalMs) override { timer_.start(intervalMs); }
    void Stop() override { timer_.stop(); }

   private:
    TTimer& owner_;
    QTimer timer_;
  };

  std::unique_ptr<Arm> NewArm(TTimer& timer) override { return std::make_unique<QtArm>(timer); }
};

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
