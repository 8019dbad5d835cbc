// Decides when a fault capture is taken: at every onset of a fault, that is a reading with a fault
// code right after a reading without one on the same connection. The capture covers the samples
// from kCaptureBefore before the onset to kCaptureAfter after it; it is due once that much time
// has passed (strictly: a reading that arrives at the last moment is still in), or as soon as the
// connection is lost first.
//
// A fault already present at the first reading of a connection is no onset: when it began is not
// known, and a driver that stays faulted would otherwise give a capture at every replug. A gap in
// the replies on a live connection does not reset anything: the first reading after it is
// compared with the last one before.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "record/sample.h"

namespace zrv {

inline constexpr std::chrono::seconds kCaptureBefore{10};
inline constexpr std::chrono::seconds kCaptureAfter{5};

struct FaultCapture {
  SteadyTime Onset{};      // the reading that showed the fault
  WallTime OnsetWall{};
  std::uint8_t FaultCode = 0;
  SteadyTime From{};       // first moment covered
  SteadyTime Until{};      // last moment covered; earlier when the connection was lost
};

class CaptureTrigger {
 public:
  // More onsets while this many captures are still waiting for their after-time are counted in
  // Skipped() instead: a fault flapping at the polling rate must not flood the disk.
  static constexpr std::size_t kMaxPending = 8;

  // Every sample, in order. Returns true when this sample is the onset of a fault.
  bool Feed(const Sample& sample);

  // The oldest capture whose time is over before `now`, removed from the pending ones.
  std::optional<FaultCapture> PopDue(SteadyTime now);

  std::size_t Pending() const { return pendingCount_; }
  std::uint64_t Skipped() const { return skipped_; }

 private:
  std::optional<std::uint8_t> lastFault_;  // empty: no reading yet on this connection
  std::array<FaultCapture, kMaxPending> pending_{};
  std::size_t pendingCount_ = 0;
  std::uint64_t skipped_ = 0;
};

}  // namespace zrv
