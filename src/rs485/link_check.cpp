#include "rs485/link_check.h"

#include <utility>

#include "protocol/reply_decoder.h"
#include "session/driver_session.h"

namespace zrv {

bool LinkCheckReport::AskedAnotherSlave() const {
  return Result.Verdict == modbus::LinkVerdict::DriverHearsNoAnswer && DriverSlave && *DriverSlave != Slave;
}

LinkCheck::LinkCheck(DriverSession* session, TimeSource& time, std::function<std::uint64_t()> nowUs,
                     QObject* parent)
    : QObject(parent),
      session_(session),
      time_(time),
      nowUs_(std::move(nowUs)),
      usbWait_(time, kUsbAnswerMs, false),
      progress_(time, 100, false) {
  usbWait_.OnTimer = [this] { OnUsbTimeout(); };
  progress_.OnTimer = [this] {
    if (runner_ && runner_->Test() != nullptr) {
      emit Progress(static_cast<int>(runner_->Test()->Sent()), static_cast<int>(runner_->Test()->Planned()));
    }
  };
  if (session_ == nullptr) return;
  connect(session_, &DriverSession::ModbusSettingsDecoded, this, [this] {
    if (phase_ != Phase::Settings) return;
    usbWait_.SetEnabled(false);
    const ModbusSettings own = session_->State().Modbus;
    if (!plan_.Line) plan_.Line = modbus::LineSettings{own.Baudrate, own.Parity};
    if (!plan_.Slave) plan_.Slave = own.SlaveId;
    plan_.DriverSlave = own.SlaveId;
    report_.SettingsFromUsb = true;
    AskRegisters(Phase::CounterBefore);
  });
  connect(session_, &DriverSession::RegistersDecoded, this, &LinkCheck::OnRegisters);
  connect(session_, &DriverSession::ConnectionChanged, this, [this] {
    if (phase_ == Phase::Idle || session_->Connected()) return;
    report_.DriverWentAway = true;
    if (phase_ != Phase::Line) OnUsbTimeout();
  });
}

LinkCheck::~LinkCheck() {
  if (runner_) runner_->OnFinished = nullptr;
}

bool LinkCheck::DriverThere() const { return session_ != nullptr && session_->Connected(); }

bool LinkCheck::Start(ByteTransport& transport, const LinkCheckPlan& plan) {
  if (Running()) return false;
  transport_ = &transport;
  plan_ = plan;
  report_ = LinkCheckReport{};
  usb_ = modbus::UsbView{};
  if (runner_) runner_->OnFinished = nullptr;
  runner_.reset();
  if (plan_.Line && plan_.Slave) {
    AskRegisters(Phase::CounterBefore);
  } else {
    AskSettings();
  }
  return true;
}

void LinkCheck::AskSettings() {
  phase_ = Phase::Settings;
  if (!DriverThere()) {
    OnUsbTimeout();
    return;
  }
  // Only the request: a read through the window's own path would pause its polling.
  session_->SendCommand(CommandCode::ReadModbusSettings);
  usbWait_.SetEnabled(true);
}

void LinkCheck::AskRegisters(Phase phase) {
  phase_ = phase;
  if (!DriverThere()) {
    OnUsbTimeout();
    return;
  }
  // A register reply already on its way (the window polls them on this page) may have been asked
  // before the last frame on the line was counted: after the test, wait for a reply to a request
  // sent from now on.
  const bool polled = session_->Polling() && session_->PolledCommand() == CommandCode::ReadRegisters;
  repliesWanted_ = session_->Replies(CommandCode::ReadRegisters) + (phase == Phase::CounterAfter && polled ? 2 : 1);
  if (!polled) {
    // Kept: a bare register request counts as a poll, which gives way to any report on its way.
    const auto code = static_cast<std::uint8_t>(CommandCode::ReadRegisters);
    session_->SendTagged(&code, 1, 0);
  }
  usbWait_.SetEnabled(true);
}

void LinkCheck::OnRegisters() {
  if (phase_ != Phase::CounterBefore && phase_ != Phase::CounterAfter) return;
  if (session_->Replies(CommandCode::ReadRegisters) < repliesWanted_) return;
  usbWait_.SetEnabled(false);
  if (phase_ == Phase::CounterBefore) {
    usb_.CounterBefore = session_->GoodFrames();
    usb_.RegistersBefore = session_->State().Registers;
    StartLine();
  } else {
    usb_.CounterAfter = session_->GoodFrames();
    usb_.RegistersAfter = session_->State().Registers;
    Finish();
  }
}

void LinkCheck::OnUsbTimeout() {
  usbWait_.SetEnabled(false);
  switch (phase_) {
    case Phase::Settings:
      if (!plan_.Line || !plan_.Slave) {
        report_.Problem = DriverThere() || report_.DriverWentAway
                              ? QStringLiteral("the driver did not tell its Modbus settings over USB")
                              : QStringLiteral("no driver on USB to tell its Modbus settings");
        Finish();
        return;
      }
      AskRegisters(Phase::CounterBefore);
      return;
    case Phase::CounterBefore:
      StartLine();  // the verdicts that need no counter still hold
      return;
    case Phase::CounterAfter:
      Finish();
      return;
    case Phase::Idle:
    case Phase::Line:
      return;
  }
}

void LinkCheck::StartLine() {
  phase_ = Phase::Line;
  report_.Line = *plan_.Line;
  report_.Slave = *plan_.Slave;
  report_.DriverSlave = plan_.DriverSlave;
  runner_ = std::make_unique<LinkTestRunner>(*transport_, time_, nowUs_);
  runner_->OnFinished = [this](const modbus::LinkTest& test) { LineDone(test); };
  progress_.SetEnabled(true);
  runner_->Start({*plan_.Line, *plan_.Slave, plan_.Rounds, plan_.Table});
}

void LinkCheck::LineDone(const modbus::LinkTest& test) {
  progress_.SetEnabled(false);
  emit Progress(static_cast<int>(test.Sent()), static_cast<int>(test.Planned()));
  report_.Table = test.Table();
  report_.Rs485 = test.Registers();
  report_.Cancelled = test.Cancelled();
  // Nothing went out on a port that failed, and a cancel ends at once.
  if (report_.Cancelled || test.Sent() == 0) {
    Finish();
    return;
  }
  AskRegisters(Phase::CounterAfter);
}

void LinkCheck::Cancel() {
  if (!Running()) return;
  report_.Cancelled = true;
  if (phase_ == Phase::Line) {
    runner_->Cancel();  // LineDone finishes
    return;
  }
  Finish();
}

void LinkCheck::Finish() {
  usbWait_.SetEnabled(false);
  progress_.SetEnabled(false);
  if (runner_ && runner_->Test() != nullptr && report_.Problem.isEmpty()) {
    report_.Result = runner_->Test()->Verdict(usb_);
  }
  report_.CounterRead = usb_.CounterBefore.has_value() && usb_.CounterAfter.has_value();
  report_.CounterBefore = usb_.CounterBefore;
  report_.CounterAfter = usb_.CounterAfter;
  if (usb_.RegistersAfter) {
    report_.Usb = usb_.RegistersAfter;
  } else if (usb_.RegistersBefore) {
    report_.Usb = usb_.RegistersBefore;
  }
  phase_ = Phase::Idle;
  emit Finished(report_);
}

}  // namespace zrv
