// A minimal stand-in for the tool's connection handling, for the guest scenarios: on every device
// change it releases all devices, claims every attached one, and gives the one whose product
// string matches a data handler that keeps the reports it receives.
#pragma once

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/hid_device.h"
#include "link/hid_device_controller.h"

namespace zrv::vmtest {

struct ReceivedInput {
  std::uint8_t ReportId = 0;
  std::vector<std::uint8_t> Data;
  bool OnOwnerThread = false;
};

class Connector {
 public:
  Connector(IHidPlatform& platform, std::u16string product);
  ~Connector();

  THidDeviceController& Controller() { return controller_; }
  THidDevice* Driver() const { return driver_; }
  int Changes() const { return changes_; }
  int Unplugs() const { return unplugs_; }
  int DataErrors() const { return dataErrors_; }
  // Product strings of every device listed at the latest change.
  const std::vector<std::string>& Listed() const { return listed_; }
  std::vector<ReceivedInput>& Received() { return received_; }

  // The driver's reader has its own file open, so the scenarios' round trips do not also test
  // the reader's start (connect-send does that).
  bool ReaderListening() const {
    return driver_ != nullptr && driver_->ReaderRunning() && driver_->ReadHandle() != kInvalidHidHandle;
  }

  // A command written right after the data handler is installed, as the tool does on connecting.
  void SetCommandOnConnect(std::uint8_t code) { commandOnConnect_ = code; }
  int CommandsOnConnect() const { return commandsOnConnect_; }

  // Writes one command (report ID first) framed to the driver's output report length.
  bool Send(std::uint8_t reportId, const std::uint8_t* payload, std::size_t length);

 private:
  void OnDeviceChange(QObject* sender);
  bool OnEnumerate(THidDevice* device, int index);
  void OnData(THidDevice* device, std::uint8_t reportId, const std::uint8_t* data, std::uint16_t size);
  void OnUnplug(THidDevice* device);
  void OnDataError(THidDevice* device, std::uint32_t error);

  THidDeviceController controller_;
  std::u16string product_;
  std::thread::id ownerThread_;
  std::vector<std::unique_ptr<THidDevice>> claimed_;
  THidDevice* driver_ = nullptr;
  std::vector<std::string> listed_;
  std::vector<ReceivedInput> received_;
  int changes_ = 0;
  int unplugs_ = 0;
  int dataErrors_ = 0;
  std::uint8_t commandOnConnect_ = 0;
  int commandsOnConnect_ = 0;
};

}  // namespace zrv::vmtest
