// Time that a test moves by hand, for timers that the window and the session run.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "link/ttimer.h"

namespace zrv {

// Time that moves only when a test says so. Single-threaded: use it from one thread.
class ManualTimeSource : public TimeSource {
 public:
  ManualTimeSource();
  ~ManualTimeSource() override;
  ManualTimeSource(const ManualTimeSource&) = delete;
  ManualTimeSource& operator=(const ManualTimeSource&) = delete;

  // Moves time forward by ms, firing every tick that falls due on the way, in time order (ticks due
  // at the same moment fire in the order their timers were armed). A handler may enable, disable or
  // re-interval any timer and may call Advance itself (a nested event loop); nested calls move the
  // same clock and fire every timer that falls due, the one whose handler is waiting included.
  void Advance(int ms);
  std::int64_t NowMs() const { return now_; }
  // Called just before each tick with the moment and the ticking timer's interval: which timers
  // share a wake-up can be seen without reaching into their owners.
  std::function<void(std::int64_t nowMs, int intervalMs)> OnTick;

 protected:
  std::unique_ptr<Arm> NewArm(TTimer& timer) override;

 private:
  class ManualArm;
  friend class ManualArm;
  struct Entry {
    ManualArm* arm;
    std::int64_t due;
    std::uint64_t order;
  };
  void Schedule(ManualArm* arm, std::int64_t due);
  void Unschedule(ManualArm* arm);

  std::int64_t now_ = 0;
  std::uint64_t nextOrder_ = 0;
  std::vector<Entry> entries_;
};

}  // namespace zrv
