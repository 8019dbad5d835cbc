#include "rs485/link_test_runner.h"

#include <algorithm>
#include <utility>

namespace zrv {

LinkTestRunner::LinkTestRunner(ByteTransport& transport, TimeSource& time, std::function<std::uint64_t()> nowUs)
    : transport_(transport), timer_(time, 1, false), nowUs_(std::move(nowUs)) {
  timer_.OnTimer = [this] {
    timer_.SetEnabled(false);
    if (!running_) return;
    // An answer may wait unread while the loop was held up elsewhere: it came in time.
    const std::uint64_t now = nowUs_();
    transport_.TakePending();
    if (!running_ || timer_.Enabled()) return;
    if (settling_) {
      settling_ = false;
      Apply(test_->Start(now));
      return;
    }
    Apply(test_->OnWake(now));
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
    if (running_ && !settling_) Apply(test_->OnReceived(bytes, nowUs_()));
  };
  transport_.OnError = [this](modbus::PortErrorKind kind) {
    if (running_) Apply(test_->OnPortError(kind));
  };
  const modbus::PortErrorKind opened = transport_.Open(plan.Line);
  if (opened != modbus::PortErrorKind::None) {
    Apply(test_->OnPortError(opened));
    return true;
  }
  // The tail of an earlier master's exchange (a test cancelled a moment ago) may still be on its
  // way: the first request goes out once a whole answer's time has passed, and what comes in
  // until then is no answer of ours.
  settling_ = true;
  const std::optional<modbus::Request> first = modbus::PreviewRead(modbus::RegisterTable::Holding, plan.Slave, 0);
  // The wire time of an exchange, and an adapter's own latency beside it.
  constexpr std::uint64_t kAdapterLatencyUs = 10000;
  const std::uint64_t settleUs =
      first ? modbus::ResponseTimeoutUs(plan.Line.Baudrate, *first) - modbus::kTurnaroundAllowanceUs + kAdapterLatencyUs
            : 0;
  timer_.SetEnabled(false);
  timer_.SetInterval(static_cast<int>(std::max<std::uint64_t>(1, (settleUs + 999) / 1000)));
  timer_.SetEnabled(true);
  return true;
}

void LinkTestRunner::Cancel() {
  if (!running_) return;
  settling_ = false;
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
