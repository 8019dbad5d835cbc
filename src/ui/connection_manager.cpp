// The link side of the window: the send path, the connection manager (the controller's two
// handlers) and the polling scheduler.
#include <QListWidget>
#include <QString>
#include <QTabWidget>

#include "protocol/reply_decoder.h"
#include "protocol/report_framing.h"
#include "ui/form1.h"
#include "ui/recorder_page.h"
#include "ui_form1.h"

namespace zrv {

void TForm1::WireLink(IHidPlatform& platform) {
  controller_ = std::make_unique<THidDeviceController>(platform);
  // Assigned while loading, so assigning does not scan; the forced first scan comes from the
  // event loop.
  controller_->SetLoading(true);
  controller_->SetOnEnumerate(THidEnumerateEvent(this, &TForm1::HidDeviceController1Enumerate));
  controller_->SetOnDeviceChange(TNotifyEvent(this, &TForm1::HidDeviceController1DeviceChange));
  controller_->SetLoading(false);

  ReadDataTimer.OnTimer = [this] { ReadDataTimerTimer(); };
  TimerTimeout.OnTimer = [this] { TimerTimeoutTimer(); };
}

namespace {

// A bare status or register request: the next tick asks again, so it may be dropped.
THidReportWriter::Kind KindOf(const std::uint8_t* payload, std::uint32_t length) {
  const bool poll = length == 1 && (payload[0] == static_cast<std::uint8_t>(CommandCode::ReadStatus) ||
                                    payload[0] == static_cast<std::uint8_t>(CommandCode::ReadRegisters));
  return poll ? THidReportWriter::Kind::Poll : THidReportWriter::Kind::Kept;
}

}  // namespace

bool TForm1::Send(const std::uint8_t* payload, std::uint32_t length, THidReportWriter::Kind kind,
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
    return currentDevice_->PostReport(report.Buffer.data(), report.Length, kind, tag) ==
           THidPostResult::Taken;
  } catch (...) {
    // A device that went away a moment ago: the report is lost, the connection stays until the
    // next device change.
    return false;
  }
}

void TForm1::SendReport(const std::uint8_t* payload, std::uint32_t length) {
  static_cast<void>(Send(payload, length, KindOf(payload, length), 0));
}

void TForm1::SendCommand(CommandCode code) {
  const auto byte = static_cast<std::uint8_t>(code);
  SendReport(&byte, 1);
}

bool TForm1::SendModbusSettings() {
  const auto payload = BuildWriteModbusSettingsPayload(state_.Modbus);
  // A report that cannot carry the whole record with room to spare would cut the settings:
  // better none than a wrong one.
  constexpr std::uint16_t kShortestSettingsReport = 9;
  if (!connected_ || currentDevice_ == nullptr ||
      currentDevice_->GetCapabilities().OutputReportByteLength < kShortestSettingsReport) {
    return false;
  }
  return Send(payload.data(), static_cast<std::uint32_t>(payload.size()), THidReportWriter::Kind::Kept,
              statusLine_.SaveSent());
}

void TForm1::WriteDone(std::uint32_t Tag, bool Written) {
  statusLine_.SaveWritten(Tag, Written);
  ShowStatusLine();
}

bool TForm1::HidDeviceController1Enumerate(THidDevice* HidDev, int Idx) {
  const std::string text =
      DeviceItemText(HidDev->GetProductString(), HidDev->HidAttributes().VendorID,
                     HidDev->HidAttributes().ProductID);
  ui_->ListBox1->addItem(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
  std::unique_ptr<THidDevice> claimed;
  controller_->ClaimByIndex(claimed, Idx);
  listed_.push_back(std::move(claimed));
  ShowDisconnected();
  connected_ = false;
  return true;
}

void TForm1::HidDeviceController1DeviceChange(QObject* /*Sender*/) {
  // Cleared before the release, so nothing can reach a device object while it is destroyed.
  currentDevice_ = nullptr;
  // Taken out first: stopping a reader may decode reports meanwhile, inside this handler.
  std::vector<std::unique_ptr<THidDevice>> released = std::move(listed_);
  listed_.clear();
  released.clear();
  ui_->ListBox1->clear();
  statusLine_.ConnectionRebuilt();
  AnswerWatch.Restart();

  controller_->EnumerateDevices();

  if (ui_->ListBox1->count() == 0) {
    connected_ = false;
    ShowNoConnection();
    statusLine_.SetNoAccess({});
    ShowStatusLine();
    return;
  }
  std::string_view refusedNode;
  const QString driverName = QString::fromLatin1(kDriverProductString.data(),
                                                 static_cast<qsizetype>(kDriverProductString.size()));
  for (int item = 0; item < ui_->ListBox1->count(); ++item) {
    const auto index = static_cast<std::size_t>(item);
    if (ui_->ListBox1->item(item)->text() != driverName || index >= listed_.size() ||
        !listed_[index]) {
      continue;
    }
    THidDevice* device = listed_[index].get();
    currentDevice_ = device;
    if (device->ReadWriteAccess()) {
      device->SetOnWriteDone(THidWriteDoneEvent(this, &TForm1::WriteDone));
      device->SetOnData(THidDataEvent(this, &TForm1::HandleReply));
      connected_ = true;
      refusedNode = {};
      ShowConnected();
    } else {
      device->SetOnData(nullptr);
      connected_ = false;
      refusedNode = device->PlugInfo()->InterfacePath;
      ShowNoConnection();
    }
  }
  statusLine_.SetNoAccess(refusedNode);
  ShowStatusLine();
}

void TForm1::ReadDataTimerTimer() {
  if (!connected_) {
    return;
  }
  switch (ui_->PageControl1->currentIndex()) {
    case 0:
    case 2:  // "Recorder" charts the status, as "IO Status" shows it
      SendCommand(CommandCode::ReadStatus);
      break;
    case 1:
      // The Modbus page's register preview: no status replies while it is shown.
      recorderPage_->SamplesStopped(GapReason::ModbusPage);
      SendCommand(CommandCode::ReadRegisters);
      break;
    default:
      break;
  }
}

void TForm1::TimerTimeoutTimer() {
  StartPolling();
  TimerTimeout.SetEnabled(false);
}

void TForm1::StartPolling() {
  if (ReadDataTimer.Enabled()) return;
  ReadDataTimer.SetEnabled(true);
  DisplayData.Restart();
  recorderPage_->Timer.Restart();
}

void TForm1::PausePolling() {
  if (connected_) recorderPage_->SamplesStopped(GapReason::PollingPaused);
  ReadDataTimer.SetEnabled(false);
  TimerTimeout.SetEnabled(true);
}

}  // namespace zrv
