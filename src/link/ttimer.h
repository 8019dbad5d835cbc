// Millisecond timers of the window. Enabling an enabled timer changes nothing (its interval is not
// restarted); disabling a disabled one changes nothing; an enabled timer ticks once per interval on
// the thread that owns its time source (the UI thread).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace zrv {

class TTimer;

// Where ticks come from: real time (QTimer) or time that a test advances by hand.
class TimeSource {
 public:
  virtual ~TimeSource() = default;

  // What a TTimer asks of its source. Start (re)arms periodic ticks, the first one no sooner than
  // intervalMs from now; Stop disarms.
  class Arm {
   public:
    virtual ~Arm() = default;
    virtual void Start(int intervalMs) = 0;
    virtual void Stop() = 0;
  };

 protected:
  friend class TTimer;
  virtual std::unique_ptr<Arm> NewArm(TTimer& timer) = 0;
  static void Tick(TTimer& timer);
};

// The real clock, ticking on the thread that created the TTimer, each timer on its own: its first
// tick comes one interval after it was enabled. A handler that waits in a nested event loop (a
// modal box) does not stop its timer: the ticks that fall due meanwhile enter the handler again,
// as they do on time that a test moves by hand. An exception from a handler is raised again from an event of its
// own, so that whatever reports it holds up no timer.
TimeSource& RealTimeSource();

class TTimer {
 public:
  // The source must outlive the timer.
  TTimer(TimeSource& source, int intervalMs, bool enabled);
  ~TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  void SetEnabled(bool enabled);
  bool Enabled() const { return enabled_; }
  // An enabled timer counts its interval again from now (a deadline moved on); a disabled one
  // stays disabled.
  void Restart();
  // A new interval restarts the count of an enabled timer; an interval of 0 or less never ticks.
  void SetInterval(int ms);
  int Interval() const { return interval_; }

  std::function<void()> OnTimer;

 private:
  friend class TimeSource;
  void Update();
  void Fire();

  std::unique_ptr<TimeSource::Arm> arm_;
  int interval_;
  bool enabled_;
  bool running_ = false;
};

}  // namespace zrv
