#include "connector.h"

#include <algorithm>

#include "guest_support.h"

namespace zrv::vmtest {

Connector::Connector(IHidPlatform& platform, std::u16string product)
    : controller_(platform), product_(std::move(product)), ownerThread_(std::this_thread::get_id()) {
  // As the window does: handlers are assigned while loading, and the controller's own forced
  // notice makes the first scan once the event loop runs.
  controller_.SetLoading(true);
  controller_.SetOnEnumerate(THidEnumerateEvent(this, &Connector::OnEnumerate));
  controller_.SetOnDeviceChange(TNotifyEvent(this, &Connector::OnDeviceChange));
  controller_.SetLoading(false);
}

Connector::~Connector() {
  driver_ = nullptr;
  claimed_.clear();
  controller_.SetOnDeviceChange(nullptr);
}

void Connector::OnDeviceChange(QObject*) {
  ++changes_;
  driver_ = nullptr;
  claimed_.clear();  // hands every device back; stops the readers
  listed_.clear();
  controller_.EnumerateDevices();
}

bool Connector::OnEnumerate(THidDevice* device, int index) {
  std::unique_ptr<THidDevice> claimed;
  if (!controller_.ClaimByIndex(claimed, index)) return true;
  const std::u16string product = claimed->GetProductString();
  listed_.push_back(Narrow(product));
  if (product == product_) {
    driver_ = claimed.get();
    driver_->SetOnUnplug(THidPlugEvent(this, &Connector::OnUnplug));
    driver_->SetOnDataError(THidDataErrorEvent(this, &Connector::OnDataError));
    driver_->SetOnData(THidDataEvent(this, &Connector::OnData));
    if (commandOnConnect_ != 0 && Send(1, &commandOnConnect_, 1)) ++commandsOnConnect_;
  }
  (void)device;
  claimed_.push_back(std::move(claimed));
  return true;
}

void Connector::OnData(THidDevice*, std::uint8_t reportId, const std::uint8_t* data, std::uint16_t size) {
  received_.push_back(ReceivedInput{reportId, std::vector<std::uint8_t>(data, data + size),
                                    std::this_thread::get_id() == ownerThread_});
}

void Connector::OnUnplug(THidDevice*) { ++unplugs_; }

void Connector::OnDataError(THidDevice*, std::uint32_t) { ++dataErrors_; }

bool Connector::Send(std::uint8_t reportId, const std::uint8_t* payload, std::size_t length) {
  if (driver_ == nullptr) return false;
  const THidCaps caps = driver_->GetCapabilities();
  std::vector<std::uint8_t> report(caps.OutputReportByteLength, 0);
  if (report.empty()) return false;
  report[0] = reportId;
  std::copy_n(payload, std::min(length, report.size() - 1), report.begin() + 1);
  std::uint32_t written = 0;
  return driver_->WriteReport(report.data(), report.size(), written);
}

}  // namespace zrv::vmtest
