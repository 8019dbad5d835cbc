#include "session/driver_session.h"

#include <algorithm>

#include "protocol/report_framing.h"

namespace zrv {

namespace {

// A bare status or register request: the next tick asks again, so it may be dropped.
THidReportWriter::Kind KindOf(const std::uint8_t* payload, std::uint32_t length) {
  const bool poll = length == 1 && (payload[0] == static_cast<std::uint8_t>(CommandCode::ReadStatus) ||
                                    payload[0] == static_cast<std::uint8_t>(CommandCode::ReadRegisters));
  return poll ? THidReportWriter::Kind::Poll : THidReportWriter::Kind::Kept;
}

}  // namespace

DriverSession::DriverSession(TimeSource& time, IHidPlatform& platform, Choice choice)
    : platform_(platform),
      choice_(choice),
      ReadDataTimer(time, kPollIntervalMs, false),
      TimerTimeout(time, kPauseMs, false),
      AnswerWatch(time, kNoAnswerAfterMs, true) {
  ReadDataTimer.OnTimer = [this] { ReadDataTimerTimer(); };
  TimerTimeout.OnTimer = [this] { TimerTimeoutTimer(); };
  AnswerWatch.OnTimer = [this] { AnswerWatchTimer(); };
  controller_ = std::make_unique<THidDeviceController>(platform_);
  // Assigned while loading, so assigning does not scan; the forced first scan comes from the
  // event loop.
  controller_->SetLoading(true);
  controller_->SetOnEnumerate(THidEnumerateEvent(this, &DriverSession::HidDeviceController1Enumerate));
  controller_->SetOnDeviceChange(TNotifyEvent(this, &DriverSession::HidDeviceController1DeviceChange));
  controller_->SetLoading(false);
}

DriverSession::~DriverSession() {
  // Nothing may be sent from here on; the controller stops every reader (a report already handed
  // over may still be decoded meanwhile). Gone first, it takes no device back, so none is opened
  // again only to be closed.
  connected_ = false;
  currentDevice_ = nullptr;
  controller_.reset();
  held_.clear();
}

void DriverSession::ShowConnected() {
  emit ConnectionChanged(ConnectionShown::Connected);
  SendCommand(CommandCode::ReadIdentity);
}

void DriverSession::ShowNoConnection() {
  emit ConnectionChanged(ConnectionShown::NoConnection);
  ReadDataTimer.SetEnabled(false);
}

void DriverSession::ShowDisconnected() {
  emit ConnectionChanged(ConnectionShown::Disconnected);
  ReadDataTimer.SetEnabled(false);
}

bool DriverSession::HidDeviceController1Enumerate(THidDevice* HidDev, int Idx) {
  ListedDevice entry;
  entry.Index = static_cast<int>(devices_.size());
  entry.Node = HidDev->PlugInfo() != nullptr ? HidDev->PlugInfo()->InterfacePath : std::string();
  entry.VendorID = HidDev->HidAttributes().VendorID;
  entry.ProductID = HidDev->HidAttributes().ProductID;
  entry.Product = HidDev->GetProductString();
  entry.IsDriver = entry.Product.size() == kDriverProductString.size() &&
                   std::equal(entry.Product.begin(), entry.Product.end(), kDriverProductString.begin());
  entry.ReadWrite = HidDev->ReadWriteAccess();
  std::unique_ptr<THidDevice> claimed;
  // The window holds every device until the next change; a chosen-driver front end only drivers.
  if (choice_ == Choice::Rebuild || entry.IsDriver) controller_->ClaimByIndex(claimed, Idx);
  devices_.push_back(std::move(entry));
  held_.push_back(std::move(claimed));
  emit DeviceListed(devices_.back().Index);
  if (choice_ == Choice::Rebuild) {
    ShowDisconnected();
    connected_ = false;
  }
  return true;
}

void DriverSession::HidDeviceController1DeviceChange(QObject* /*Sender*/) {
  if (choice_ == Choice::Chosen) {
    // Only the first scan builds the list; later plug events are seen through the chosen device.
    if (scanned_) return;
    controller_->EnumerateDevices();
    scanned_ = true;
    emit ScanEnded(QString());
    return;
  }
  // Cleared before the release, so nothing can reach a device object while it is destroyed.
  currentDevice_ = nullptr;
  // Taken out first: stopping a reader may decode reports meanwhile, inside this handler.
  std::vector<std::unique_ptr<THidDevice>> released = std::move(held_);
  held_.clear();
  devices_.clear();
  released.clear();
  emit DevicesCleared();
  AnswerWatch.Restart();

  controller_->EnumerateDevices();
  scanned_ = true;

  if (devices_.empty()) {
    connected_ = false;
    ShowNoConnection();
    emit ScanEnded(QString());
    return;
  }
  QString refusedNode;
  // Each driver in turn: the last one found is the one written to.
  for (std::size_t index = 0; index < devices_.size(); ++index) {
    THidDevice* device = held_[index].get();
    if (!devices_[index].IsDriver || device == nullptr) continue;
    currentDevice_ = device;
    if (device->ReadWriteAccess()) {
      Connect(device);
      connected_ = true;
      refusedNode.clear();
      ShowConnected();
    } else {
      device->SetOnData(nullptr);
      connected_ = false;
      refusedNode = QString::fromStdString(devices_[index].Node);
      ShowNoConnection();
    }
  }
  emit ScanEnded(refusedNode);
}

void DriverSession::Connect(THidDevice* device) {
  device->SetReadSliceTime(readSliceMs_);
  device->SetOnWriteDone(THidWriteDoneEvent(this, &DriverSession::WriteDone));
  device->SetOnData(THidDataEvent(this, &DriverSession::HandleReply));
}

bool DriverSession::Use(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= held_.size()) return false;
  THidDevice* device = held_[static_cast<std::size_t>(index)].get();
  if (device == nullptr || !devices_[static_cast<std::size_t>(index)].IsDriver || !device->ReadWriteAccess()) {
    return false;
  }
  if (currentDevice_ != nullptr && currentDevice_ != device) currentDevice_->SetOnData(nullptr);
  currentDevice_ = device;
  Connect(device);
  connected_ = device->ReaderRunning();
  return connected_;
}

bool DriverSession::Send(const std::uint8_t* payload, std::uint32_t length, THidReportWriter::Kind kind,
                         std::uint32_t tag) {
  if (!connected_ || currentDevice_ == nullptr) {
    return false;
  }
  try {
    OutputReport report;
    const THidCaps caps = currentDevice_->GetCapabilities();
    // An unknown or oversized report length: nothing sensible can be written.
    if (!FrameReport(payload, length, caps.OutputReportByteLength, report)) {
      return false;
    }
    if (choice_ == Choice::Chosen) {
      // A front end that waits for every answer gains nothing from the writer thread but a
      // hand-off per request: the write is made here, and its outcome is the result.
      std::uint32_t written = 0;
      return currentDevice_->WriteReport(report.Buffer.data(), report.Length, written);
    }
    return currentDevice_->PostReport(report.Buffer.data(), report.Length, kind, tag) ==
           THidPostResult::Taken;
  } catch (...) {
    // A device that went away a moment ago: the report is lost, the connection stays until the
    // next device change.
    return false;
  }
}

void DriverSession::SendReport(const std::uint8_t* payload, std::uint32_t length) {
  static_cast<void>(Send(payload, length, KindOf(payload, length), 0));
}

void DriverSession::SendCommand(CommandCode code) {
  const auto byte = static_cast<std::uint8_t>(code);
  SendReport(&byte, 1);
}

bool DriverSession::SendTagged(const std::uint8_t* payload, std::uint32_t length, std::uint32_t tag) {
  return Send(payload, length, THidReportWriter::Kind::Kept, tag);
}

bool DriverSession::SaveModbusSettings(const ModbusSettings& chosen, std::uint32_t tag) {
  state_.Modbus = chosen;
  PausePolling();
  const auto payload = BuildWriteModbusSettingsPayload(state_.Modbus);
  // A report that cannot carry the whole record with room to spare would cut the settings:
  // better none than a wrong one.
  constexpr std::uint16_t kShortestSettingsReport = 9;
  if (!connected_ || currentDevice_ == nullptr ||
      currentDevice_->GetCapabilities().OutputReportByteLength < kShortestSettingsReport) {
    return false;
  }
  return SendTagged(payload.data(), static_cast<std::uint32_t>(payload.size()), tag);
}

void DriverSession::ReadModbusSettings() {
  PausePolling();
  SendCommand(CommandCode::ReadModbusSettings);
}

void DriverSession::WriteDone(std::uint32_t Tag, bool Written) { emit ReportWritten(Tag, Written); }

void DriverSession::HandleReply(THidDevice* /*HidDev*/, std::uint8_t ReportID, const std::uint8_t* Data,
                                std::uint16_t Size) {
  lastReportId_ = ReportID;
  lastReply_.assign(Data, Data + Size);
  AnswerWatch.Restart();
  emit ReplyArrived();
  const DecodedReply reply = DecodeReply(state_, Data, Size);
  if (reply.kind != DecodedReply::Kind::None) ++replies_[Data[0]];
  switch (reply.kind) {
    case DecodedReply::Kind::Identity: {
      // Only while connected: after a later driver that refused access has left "No connection",
      // an earlier one's reply must not start polling.
      const bool ofThisConnection = connected_;
      emit IdentityDecoded(ofThisConnection);
      // A chosen-driver front end asks for every reply itself: no polling besides its own.
      if (ofThisConnection && choice_ == Choice::Rebuild) StartPolling();
      break;
    }
    case DecodedReply::Kind::Status:
      emit StatusDecoded();
      break;
    case DecodedReply::Kind::Registers:
      goodFrames_ = reply.GoodFrames;
      emit RegistersDecoded();
      break;
    case DecodedReply::Kind::ModbusSettings:
      emit ModbusSettingsDecoded();
      break;
    case DecodedReply::Kind::SettingsSaved:
      emit SettingsSaved();
      break;
    case DecodedReply::Kind::None:
      break;
  }
}

void DriverSession::ReadDataTimerTimer() {
  if (!connected_) {
    return;
  }
  SendCommand(polled_);
}

void DriverSession::TimerTimeoutTimer() {
  StartPolling();
  TimerTimeout.SetEnabled(false);
}

void DriverSession::StartPolling() {
  if (ReadDataTimer.Enabled()) return;
  ReadDataTimer.SetEnabled(true);
  emit PollingStarted();
}

void DriverSession::PausePolling() {
  ReadDataTimer.SetEnabled(false);
  TimerTimeout.SetEnabled(true);
}

void DriverSession::AnswerWatchTimer() { emit AnswerWatchExpired(); }

}  // namespace zrv
