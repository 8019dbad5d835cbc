// The bookkeeping of the one read a channel has outstanding: idle, started and pending until the
// system answers (or the read is cancelled or the channel shut down), then done with its outcome
// until the next start. The channel keeps it under its own mutex. How a read is waited for and
// how it is cancelled is each system's own and stays in the channel.
#pragma once

#include <cstdint>

#include "link/platform/hid_platform.h"

namespace zrv {

class HidReadState {
 public:
  bool Pending() const { return state_ == State::Pending; }
  // What a waiter is told: Completed also when no read was started (nothing to wait for).
  HidWaitResult Progress() const {
    return Pending() ? HidWaitResult::Pending : HidWaitResult::Completed;
  }

  void Start() {
    state_ = State::Pending;
    ok_ = false;
    bytes_ = 0;
  }
  // The read could not be started after all: there is nothing to wait for nor an outcome.
  void Abandon() { state_ = State::Idle; }
  // A failed read delivers no bytes.
  void Finish(bool ok, std::uint32_t bytes) {
    state_ = State::Done;
    ok_ = ok;
    bytes_ = ok ? bytes : 0;
  }

  // GetReadResult of the platform interface: false with 0 bytes until the read is done.
  bool Result(std::uint32_t& bytesRead) const {
    bytesRead = state_ == State::Done ? bytes_ : 0;
    return state_ == State::Done && ok_;
  }

 private:
  enum class State { Idle, Pending, Done };
  State state_ = State::Idle;
  bool ok_ = false;
  std::uint32_t bytes_ = 0;
};

}  // namespace zrv
