// The link side of the window: the send path, the connection manager (the controller's two
// handlers) and the polling scheduler.
#include <QListWidget>
#include <QString>
#include <QTabWidget>
#include <cstdio>

#include "protocol/reply_decoder.h"
#include "protocol/report_framing.h"
#include "ui/form1.h"
#include "ui_form1.h"

namespace zrv {

std::string DeviceItemText(const std::u16string& product, std::uint16_t vendorId,
                           std::uint16_t productId) {
  if (product.empty()) {
    char text[32];
    std::snprintf(text, sizeof text, "Device VID=%04X PID=%04X", static_cast<unsigned>(vendorId),
                  static_cast<unsigned>(productId));
    return text;
  }
  std::string text;
  text.reserve(product.size());
  for (const char16_t c : product) {
    text.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
  }
  return text;
}

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

void TForm1::SendReport(const std::uint8_t* payload, std::uint32_t length) {
  if (!connected_ || currentDevice_ == nullptr) {
    return;
  }
  try {
    OutputReport report;
    const THidCaps caps = currentDevice_->GetCapabilities();
    // An unknown or oversized report length: nothing sensible can be written.
    if (!FrameReport(payload, length, caps.OutputReportByteLength, report)) {
      return;
    }
    std::uint32_t written = 0;
    static_cast<void>(currentDevice_->WriteReport(report.Buffer.data(), report.Length, written));
  } catch (...) {
    // A device that went away a moment ago: the report is lost, the connection stays until the
    // next device change.
  }
}

void TForm1::SendCommand(CommandCode code) {
  const auto byte = static_cast<std::uint8_t>(code);
  SendReport(&byte, 1);
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

  controller_->EnumerateDevices();

  if (ui_->ListBox1->count() == 0) {
    connected_ = false;
    ShowNoConnection();
    return;
  }
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
      device->SetOnData(THidDataEvent(this, &TForm1::HandleReply));
      connected_ = true;
      ShowConnected();
    } else {
      device->SetOnData(nullptr);
      connected_ = false;
      ShowNoConnection();
    }
  }
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
      SendCommand(CommandCode::ReadRegisters);
      break;
    default:
      break;
  }
}

void TForm1::TimerTimeoutTimer() {
  ReadDataTimer.SetEnabled(true);
  TimerTimeout.SetEnabled(false);
}

void TForm1::PausePolling() {
  ReadDataTimer.SetEnabled(false);
  TimerTimeout.SetEnabled(true);
}

}  // namespace zrv
