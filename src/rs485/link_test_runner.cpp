#include "rs485/link_test_runner.h"

#include <algorithm>
#include <utility>

namespace zrv {

LinkTestRunner::LinkTestRunner(ByteTransport& transport, TimeSource& time, std::function<std::uint64_t()> nowUs)
    : transport_(transport), timer_(time, 1, false), nowUs_(std::move(nowUs)) {
  timer_.OnTimer = [this] {
    timer_.SetEnabled(false);
    if (running_) Apply(test_->OnWake(nowUs_()));
  };
}

LinkTestRunner::~LinkTestRunner() {
  transport_.OnReceived = nullptr;
  transport_.OnError = nullptr;
  if (running_) transport_.Close();
}

bool LinkTestRunner::Start(const modbus::LinkTestPlan& plan) {
  if (running_) return false;
  test_ = std::make_unique<modbus::LinkTest>(plan);
  running_ = true;
  transport_.OnReceived = [this](std::span<const std::uint8_t> bytes) {
    if (running_) Apply(test_->OnReceived(bytes, nowUs_()));
  };
  transport_.OnError = [this](modbus::PortErrorKind kind) {
    if (running_) Apply(test_->OnPortError(kind));
  };
  const modbus::PortErrorKind opened = transport_.Open(plan.Line);
  if (opened != modbus::PortErrorKind::None) {
    Apply(test_->OnPortError(opened));
    return true;
  }
  Apply(test_->Start(nowUs_()));
  return true;
}

void LinkTestRunner::Cancel() {
  if (!running_) return;
  test_->Cancel();
  Finish();
}

void LinkTestRunner::Apply(const modbus::LinkTestStep& step) {
  if (step.Send && !transport_.Write(*step.Send)) {
    Apply(test_->OnPortError(modbus::PortErrorKind::Other));
    return;
  }
  if (step.Done) {
    Finish();
    return;
  }
  if (step.WakeAtUs) {
    // Timers count whole milliseconds: wake at the first one at or after the deadline.
    const std::uint64_t now = nowUs_();
    const std::uint64_t waitUs = *step.WakeAtUs > now ? *step.WakeAtUs - now : 0;
    timer_.SetEnabled(false);
    timer_.SetInterval(static_cast<int>(std::max<std::uint64_t>(1, (waitUs + 999) / 1000)));
    timer_.SetEnabled(true);
  }
}

void LinkTestRunner::Finish() {
  timer_.SetEnabled(false);
  running_ = false;
  transport_.Close();
  if (OnFinished) OnFinished(*test_);
}

}  // namespace zrv
