#include "support/manual_time_source.h"

#include <algorithm>

namespace zrv {

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
    if (OnTick) OnTick(now_, arm->interval_);
    TimeSource::Tick(arm->timer_);
  }
  now_ = std::max(now_, target);
}

}  // namespace zrv
