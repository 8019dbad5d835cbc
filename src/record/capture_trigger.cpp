#include "record/capture_trigger.h"

namespace zrv {

bool CaptureTrigger::Feed(const Sample& sample) {
  if (!sample.IsReading()) {
    lastFault_.reset();
    // What was captured so far is all there will be.
    for (std::size_t i = 0; i < pendingCount_; ++i) {
      if (pending_[i].Until > sample.Time) {
        pending_[i].Until = sample.Time;
      }
    }
    return false;
  }
  const std::uint8_t fault = sample.Status.FaultCode;
  const bool onset = fault != 0 && lastFault_ == std::uint8_t{0};
  lastFault_ = fault;
  if (!onset) {
    return false;
  }
  if (pendingCount_ == kMaxPending) {
    ++skipped_;
    return true;
  }
  FaultCapture& capture = pending_[pendingCount_++];
  capture.Onset = sample.Time;
  capture.OnsetWall = sample.Wall;
  capture.FaultCode = fault;
  capture.From = sample.Time - kCaptureBefore;
  capture.Until = sample.Time + kCaptureAfter;
  return true;
}

std::optional<FaultCapture> CaptureTrigger::PopDue(SteadyTime now) {
  // Pending captures are in onset order and a cut shortens them all alike, so the first is due
  // first.
  if (pendingCount_ == 0 || pending_[0].Until >= now) {
    return std::nullopt;
  }
  const FaultCapture due = pending_[0];
  for (std::size_t i = 1; i < pendingCount_; ++i) {
    pending_[i - 1] = pending_[i];
  }
  --pendingCount_;
  return due;
}

}  // namespace zrv
