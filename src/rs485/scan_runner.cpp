#include "rs485/scan_runner.h"

#include <algorithm>
#include <utility>

#include "modbus/response.h"

namespace zrv {

namespace {

// A USB adapter's own latency on top of the wire when a port has just been (re)opened: what the
// last probe at other settings drew may still be on its way in, and is no answer of ours.
constexpr std::uint64_t kSettleUs = 20000;

}  // namespace

ScanRunner::ScanRunner(ByteTransport& transport, TimeSource& time, std::function<std::uint64_t()> nowUs)
    : transport_(transport), timer_(time, 1, false), nowUs_(std::move(nowUs)) {
  timer_.OnTimer = [this] {
    timer_.SetEnabled(false);
    if (!running_) return;
    if (!awaiting_) {
      SendProbe();
      return;
    }
    // An answer may wait unread while the loop was held up elsewhere: it came in time.
    transport_.TakePending();
    if (!running_ || !awaiting_ || timer_.Enabled()) return;
    if (nowUs_() >= deadlineUs_) {
      Judge(true);
    } else {
      WakeAt(deadlineUs_);
    }
  };
}

ScanRunner::~ScanRunner() {
  transport_.OnReceived = nullptr;
  transport_.OnError = nullptr;
  if (running_) transport_.Close();
}

std::vector<modbus::ScanProbe> ScanRunner::Probes(const ScanPlan& plan) {
  std::vector<modbus::ScanProbe> probes = modbus::ScanOrder(plan.Usb);
  probes.erase(std::remove_if(probes.begin(), probes.end(),
                              [&plan](const modbus::ScanProbe& p) {
                                return (plan.Baudrate && p.Line.Baudrate != *plan.Baudrate) ||
                                       (plan.Parity && p.Line.Parity != *plan.Parity) ||
                                       (plan.Slave && p.Slave != *plan.Slave);
                              }),
               probes.end());
  return probes;
}

bool ScanRunner::Start(const ScanPlan& plan) {
  if (running_) return false;
  probes_ = Probes(plan);
  report_ = ScanReport{};
  report_.Total = probes_.size();
  all_ = plan.All;
  index_ = 0;
  openLine_.reset();
  awaiting_ = false;
  running_ = true;
  transport_.OnReceived = [this](std::span<const std::uint8_t> bytes) {
    if (!running_ || !awaiting_) return;  // between probes: a late tail, no answer of ours
    received_.insert(received_.end(), bytes.begin(), bytes.end());
    Judge(false);
  };
  transport_.OnError = [this](modbus::PortErrorKind kind) {
    if (running_) PortFailed(kind);
  };
  Next();
  return true;
}

void ScanRunner::Cancel() {
  if (!running_) return;
  report_.Cancelled = true;
  Finish();
}

void ScanRunner::Next() {
  if (index_ >= probes_.size()) {
    Finish();
    return;
  }
  const modbus::LineSettings line = probes_[index_].Line;
  if (openLine_ == line) {
    SendProbe();
    return;
  }
  if (openLine_) transport_.Close();
  openLine_.reset();
  const modbus::PortErrorKind opened = transport_.Open(line);
  if (opened != modbus::PortErrorKind::None) {
    PortFailed(opened);
    return;
  }
  openLine_ = line;
  WakeAt(nowUs_() + modbus::FrameGapUs(line.Baudrate) + kSettleUs);
}

void ScanRunner::SendProbe() {
  const modbus::ScanProbe& probe = probes_[index_];
  const std::optional<modbus::Request> request = modbus::ProbeRequest(probe.Slave);
  if (!request) {  // no address a slave can have: nothing to ask
    ProbeDone(0);
    return;
  }
  received_.clear();
  awaiting_ = true;
  deadlineUs_ = nowUs_() + modbus::ResponseTimeoutUs(probe.Line.Baudrate, *request);
  if (!transport_.Write(request->Bytes())) {
    PortFailed(modbus::PortErrorKind::Other);
    return;
  }
  if (running_) WakeAt(deadlineUs_);
}

void ScanRunner::Judge(bool lineSilent) {
  const modbus::ScanProbe probe = probes_[index_];
  const std::optional<modbus::Request> request = modbus::ProbeRequest(probe.Slave);
  const modbus::Reply reply = modbus::ParseReply(*request, received_, lineSilent);
  if (!reply.Final()) {
    if (lineSilent) ProbeDone(0);
    return;
  }
  if (!reply.FromSlave()) {
    // Something else answered, or a damaged frame: whatever else comes belongs to this probe.
    if (lineSilent) ProbeDone(0);
    return;
  }
  ScanFind found{probe.Line, probe.Slave, request->Function(), std::nullopt};
  if (reply.Kind == modbus::ReplyKind::Exception) {
    found.Function = static_cast<std::uint8_t>(request->Function() | modbus::kExceptionFlag);
    found.Exception = reply.ExceptionCode;
  }
  report_.Found.push_back(found);
  if (OnFound) OnFound(found);
  if (!running_) return;
  if (!all_) {
    ++report_.Done;
    if (OnProgress) OnProgress(report_.Done, report_.Total);
    if (running_) Finish();
    return;
  }
  // The next request waits out a frame gap, so the slave sees two frames.
  ProbeDone(modbus::FrameGapUs(probe.Line.Baudrate));
}

void ScanRunner::ProbeDone(std::uint64_t pauseUs) {
  awaiting_ = false;
  received_.clear();
  ++index_;
  ++report_.Done;
  if (OnProgress) OnProgress(report_.Done, report_.Total);
  if (!running_) return;
  if (index_ >= probes_.size()) {
    Finish();
    return;
  }
  if (openLine_ != probes_[index_].Line) {
    Next();
  } else if (pauseUs == 0) {
    SendProbe();
  } else {
    WakeAt(nowUs_() + pauseUs);
  }
}

void ScanRunner::WakeAt(std::uint64_t atUs) {
  // Timers count whole milliseconds: wake at the first one at or after the deadline.
  const std::uint64_t now = nowUs_();
  const std::uint64_t waitUs = atUs > now ? atUs - now : 0;
  timer_.SetEnabled(false);
  timer_.SetInterval(static_cast<int>(std::max<std::uint64_t>(1, (waitUs + 999) / 1000)));
  timer_.SetEnabled(true);
}

void ScanRunner::PortFailed(modbus::PortErrorKind kind) {
  report_.Port = kind == modbus::PortErrorKind::None ? modbus::PortErrorKind::Other : kind;
  Finish();
}

void ScanRunner::Finish() {
  if (!running_) return;
  timer_.SetEnabled(false);
  running_ = false;
  awaiting_ = false;
  transport_.Close();
  openLine_.reset();
  if (OnFinished) OnFinished(report_);
}

}  // namespace zrv
