#include "session_watch.h"

#include <cstring>

#include "guest_support.h"

namespace zrv::vmtest {

SessionWatch::SessionWatch(DriverSession& session)
    : session_(session), ownerThread_(std::this_thread::get_id()) {
  QObject::connect(&session, &DriverSession::ScanEnded, &context_, [this](const QString& refused) {
    ++scans_;
    refusedNode_ = refused;
    if (THidDevice* device = session_.CurrentDevice()) {
      device->SetOnUnplug([this](THidDevice*) { ++unplugs_; });
    }
  });
  QObject::connect(&session, &DriverSession::ConnectionChanged, &context_,
                   [this](ConnectionShown shown) { shown_.push_back(shown); });
  QObject::connect(&session, &DriverSession::ReplyArrived, &context_, [this] {
    received_.push_back(ReceivedInput{session_.LastReportID(), session_.LastReply(),
                                      std::this_thread::get_id() == ownerThread_});
  });
  QObject::connect(&session, &DriverSession::IdentityDecoded, &context_, [this](bool ofThisConnection) {
    if (ofThisConnection) ++identities_;
  });
  QObject::connect(&session, &DriverSession::SettingsSaved, &context_, [this] { ++settingsSaved_; });
  QObject::connect(&session, &DriverSession::ReportWritten, &context_,
                   [this](std::uint32_t tag, bool written) { written_[tag] = written; });
}

SessionWatch::~SessionWatch() {
  if (THidDevice* device = session_.CurrentDevice()) device->SetOnUnplug(nullptr);
}

std::vector<std::string> SessionWatch::Products() const {
  std::vector<std::string> products;
  for (const ListedDevice& d : session_.Devices()) products.push_back(Narrow(d.Product));
  return products;
}

bool SessionWatch::ReaderListening() const {
  const THidDevice* driver = session_.CurrentDevice();
  return session_.Connected() && driver != nullptr && driver->ReaderRunning() &&
         driver->ReadHandle() != kInvalidHidHandle;
}

bool SameState(const DeviceState& a, const DeviceState& b) {
  return a.Identity.DeviceName == b.Identity.DeviceName && a.Identity.FirmwareVer == b.Identity.FirmwareVer &&
         a.Identity.HardwareVer == b.Identity.HardwareVer &&
         std::memcmp(&a.Limits, &b.Limits, sizeof a.Limits) == 0 &&
         std::memcmp(&a.Modbus, &b.Modbus, sizeof a.Modbus) == 0 &&
         std::memcmp(&a.Status, &b.Status, sizeof a.Status) == 0 && a.Registers.Bytes == b.Registers.Bytes;
}

}  // namespace zrv::vmtest
