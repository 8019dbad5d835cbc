#include "modbus/link_test.h"

namespace zrv::modbus {

LinkTest::LinkTest(const LinkTestPlan& plan) : plan_(plan), table_(plan.Table) {}

LinkTestStep LinkTest::Start(std::uint64_t nowUs) {
  if (done_ || phase_ != Phase::Idle) return Wait();
  if (plan_.Rounds <= 0 || !PreviewRead(table_, plan_.Slave, 0)) {
    done_ = finished_ = true;
    return Wait();
  }
  return SendCurrent(nowUs);
}

LinkTestStep LinkTest::SendCurrent(std::uint64_t nowUs) {
  current_ = PreviewRead(table_, plan_.Slave, read_);
  received_.clear();
  phase_ = Phase::Waiting;
  sentAtUs_ = nowUs;
  deadlineUs_ = nowUs + ResponseTimeoutUs(plan_.Line.Baudrate, *current_);
  ++input_.Sent;
  LinkTestStep step = Wait();
  step.Send = current_->Bytes();
  return step;
}

LinkTestStep LinkTest::Wait() const {
  LinkTestStep step;
  step.Done = done_;
  if (!done_) step.WakeAtUs = deadlineUs_;
  return step;
}

LinkTestStep LinkTest::OnReceived(std::span<const std::uint8_t> bytes, std::uint64_t nowUs) {
  if (done_ || phase_ != Phase::Waiting) return Wait();  // late bytes of an exchange already judged
  received_.insert(received_.end(), bytes.begin(), bytes.end());
  const Reply reply = ParseReply(*current_, received_, false);
  if (!reply.Final()) {
    if (reply.EchoSeen) input_.EchoSeen = true;
    return nowUs >= deadlineUs_ ? OnWake(nowUs) : Wait();
  }
  return Judge(reply, nowUs);
}

LinkTestStep LinkTest::OnWake(std::uint64_t nowUs) {
  if (done_) return Wait();
  if (nowUs < deadlineUs_) return Wait();
  if (phase_ == Phase::Gap) return SendCurrent(nowUs);
  if (phase_ != Phase::Waiting) return Wait();
  return Judge(ParseReply(*current_, received_, true), nowUs);
}

LinkTestStep LinkTest::Judge(const Reply& reply, std::uint64_t nowUs) {
  if (reply.EchoSeen) input_.EchoSeen = true;
  bool retry = false;
  switch (reply.Kind) {
    case ReplyKind::Answer:
    case ReplyKind::Exception:
      ++input_.Answered;
      input_.RoundTripsUs.push_back(nowUs - sentAtUs_);
      if (reply.Kind == ReplyKind::Answer) PlaceAnswer(registers_, *current_, reply);
      if (reply.Kind == ReplyKind::Exception && reply.ExceptionCode == kIllegalFunction &&
          table_ == RegisterTable::Holding) {
        table_ = RegisterTable::Input;  // no holding registers here: the same read of input registers
        retry = true;
      }
      break;
    case ReplyKind::Nothing:
      break;
    case ReplyKind::NeedMore:
      return Wait();  // cannot come from a silent line; wait on
    case ReplyKind::CrcError:
    case ReplyKind::WrongSlave:
    case ReplyKind::WrongFunction:
    case ReplyKind::Short:
    case ReplyKind::Garbage:
      ++input_.Corrupted;
      break;
  }
  if (!retry && ++read_ == kPreviewReadCount) {
    read_ = 0;
    if (++round_ == plan_.Rounds) {
      done_ = finished_ = true;
      phase_ = Phase::Idle;
      return Wait();
    }
  }
  // The next request waits for the frame gap, as the line requires.
  phase_ = Phase::Gap;
  deadlineUs_ = nowUs + FrameGapUs(plan_.Line.Baudrate);
  return Wait();
}

LinkTestStep LinkTest::OnPortError(PortErrorKind kind) {
  input_.Port = kind;
  done_ = finished_ = true;
  return Wait();
}

LinkTestResult LinkTest::Verdict(const UsbView& usb) const {
  LinkTestInput in = input_;
  in.CounterBefore = usb.CounterBefore;
  in.CounterAfter = usb.CounterAfter;
  if (usb.RegistersBefore && usb.RegistersAfter && registers_.Filled != 0) {
    in.Values = CompareWithUsb(registers_, *usb.RegistersBefore, *usb.RegistersAfter);
  }
  return JudgeLinkTest(in);
}

}  // namespace zrv::modbus
