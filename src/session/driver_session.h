// One driver session: the HID device controller, the claiming of every attached device, the
// choice of the driver, the connected flag, the send path, the polling and pause timers, the
// silent-driver deadline and the decoding of every reply into DeviceState. Every front end (the
// window, zrv-cli, the virtual machine's guest programs) sits on one of these and hears what
// happened through its signals. QtCore only; everything runs on the thread that made it.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/hid_device.h"
#include "link/hid_device_controller.h"
#include "link/platform/hid_platform.h"
#include "link/ttimer.h"
#include "protocol/device_state.h"
#include "protocol/reply_decoder.h"

namespace zrv {

// One HID device of the latest scan, as a front end lists it.
struct ListedDevice {
  int Index = 0;  // position in the scan
  std::string Node;
  std::uint16_t VendorID = 0;
  std::uint16_t ProductID = 0;
  std::u16string Product;  // empty when the device gives none
  bool IsDriver = false;   // the product string is exactly the driver's
  bool ReadWrite = false;  // the latest open had read and write access
};

// What the connection status field says.
enum class ConnectionShown { NoConnection, Disconnected, Connected };

class DriverSession : public QObject {
  Q_OBJECT

 public:
  // How the driver is chosen. Rebuild: every change of the attached HID devices releases every
  // device, lists them again and connects the last driver found, sending it the identity request
  // (the window). Chosen: the first scan lists the devices; the front end then takes one with
  // Use(), and later changes only mark a device that went away; an identity reply starts no
  // polling, the front end sends its own requests (zrv-cli).
  enum class Choice { Rebuild, Chosen };

  // Polling: every 40 ms while connected, one request of PolledCommand(); a pause of 500 ms around
  // a settings read or save. The silent-driver deadline: one second after the latest reply.
  static constexpr int kPollIntervalMs = 40;
  static constexpr int kPauseMs = 500;
  static constexpr int kNoAnswerAfterMs = 1000;

  // The controller is made here and posts its forced first scan, which runs when the event loop
  // does. `time` and `platform` must outlive the session.
  DriverSession(TimeSource& time, IHidPlatform& platform, Choice choice = Choice::Rebuild);
  ~DriverSession() override;
  DriverSession(const DriverSession&) = delete;
  DriverSession& operator=(const DriverSession&) = delete;

  const DeviceState& State() const { return state_; }
  bool Connected() const { return connected_; }
  THidDevice* CurrentDevice() const { return currentDevice_; }
  // The devices of the latest scan, in scan order; the drivers among them are claimed.
  const std::vector<ListedDevice>& Devices() const { return devices_; }
  // The device objects held for Devices(), in the same order (null where none is held).
  const std::vector<std::unique_ptr<THidDevice>>& Held() const { return held_; }
  THidDeviceController& HidDeviceController1() const { return *controller_; }
  IHidPlatform& Platform() const { return platform_; }
  // The first scan has run.
  bool Scanned() const { return scanned_; }
  // The driver's count of good Modbus frames from the latest register reply.
  std::uint16_t GoodFrames() const { return goodFrames_; }
  // Replies of each code decoded so far.
  std::uint64_t Replies(CommandCode code) const { return replies_[static_cast<std::uint8_t>(code)]; }
  // The latest input report as the reader gave it: its report ID and the bytes after it, kept
  // until the next one (set before ReplyArrived).
  std::uint8_t LastReportID() const { return lastReportId_; }
  const std::vector<std::uint8_t>& LastReply() const { return lastReply_; }

  // Connection status routines. ShowConnected also sends the identity request; the other two stop
  // polling.
  void ShowConnected();
  void ShowNoConnection();
  void ShowDisconnected();

  // The controller's handlers.
  bool HidDeviceController1Enumerate(THidDevice* HidDev, int Idx);
  void HidDeviceController1DeviceChange(QObject* Sender);

  // Chosen mode: takes the listed driver at `index` for requests and reads its replies; false
  // without read/write access or when it is not a held driver.
  bool Use(int index);
  // Length of one wait of the reader thread for drivers taken from now on.
  void SetReadSliceTime(int ms) { readSliceMs_ = ms; }

  // The send path: one output report to CurrentDevice, nothing while not connected. The report
  // goes to the device's writer thread, so a device that stops taking reports never holds the
  // caller; a poll (a bare command 11 or 12) is dropped while an earlier report is on its way.
  void SendReport(const std::uint8_t* payload, std::uint32_t length);
  void SendCommand(CommandCode code);
  // The same, kept even behind another report, whose written/refused outcome comes as
  // ReportWritten(tag, ...) when `tag` is not 0. False when nothing went to the writer. In the
  // Chosen mode every report is written at once on the calling thread, and the result is whether
  // the device took it.
  bool SendTagged(const std::uint8_t* payload, std::uint32_t length, std::uint32_t tag);
  // Save: stores `chosen` in ModbusSettings, pauses polling and sends the settings write. False
  // when nothing went out (not connected, or a report too short to carry the whole record).
  bool SaveModbusSettings(const ModbusSettings& chosen, std::uint32_t tag);
  // Read: pauses polling and asks for the settings.
  void ReadModbusSettings();

  // The handler of every input report from the driver. Data are the bytes after the report ID.
  void HandleReply(THidDevice* HidDev, std::uint8_t ReportID, const std::uint8_t* Data,
                   std::uint16_t Size);
  // The outcome of a tagged report, from the device's writer.
  void WriteDone(std::uint32_t Tag, bool Written);

  // Polling scheduler.
  void SetPolledCommand(CommandCode code) { polled_ = code; }
  CommandCode PolledCommand() const { return polled_; }
  bool Polling() const { return ReadDataTimer.Enabled(); }
  // A pause of polling is running (polling comes back when it ends).
  bool PollingPaused() const { return TimerTimeout.Enabled(); }
  void ReadDataTimerTimer();
  void TimerTimeoutTimer();
  void PausePolling();
  // Turns polling on and says so (PollingStarted), so that a front end's own 40 ms timers can
  // count again from the same moment and tick in the same wake-up.
  void StartPolling();

  void AnswerWatchTimer();

 signals:
  // A scan begins: the earlier list is gone.
  void DevicesCleared();
  // Devices()[index] was listed.
  void DeviceListed(int index);
  void ConnectionChanged(zrv::ConnectionShown shown);
  // A scan has ended. `refusedNode`: the node of a driver that may not be opened for reading and
  // writing, or empty.
  void ScanEnded(const QString& refusedNode);
  // Any input report at all.
  void ReplyArrived();
  // Reply 10. `ofThisConnection`: the session is connected, so the caption belongs to it.
  void IdentityDecoded(bool ofThisConnection);
  void StatusDecoded();
  void RegistersDecoded();
  void ModbusSettingsDecoded();
  void SettingsSaved();
  void ReportWritten(std::uint32_t tag, bool written);
  void PollingStarted();
  // kNoAnswerAfterMs without a reply or a rebuilt connection.
  void AnswerWatchExpired();

 private:
  bool Send(const std::uint8_t* payload, std::uint32_t length, THidReportWriter::Kind kind,
            std::uint32_t tag);
  void Connect(THidDevice* device);

  IHidPlatform& platform_;
  const Choice choice_;
  DeviceState state_{};
  bool connected_ = false;
  bool scanned_ = false;
  std::unique_ptr<THidDeviceController> controller_;
  std::vector<ListedDevice> devices_;
  std::vector<std::unique_ptr<THidDevice>> held_;  // parallel to devices_
  THidDevice* currentDevice_ = nullptr;
  CommandCode polled_ = CommandCode::ReadStatus;
  std::uint16_t goodFrames_ = 0;
  std::uint64_t replies_[256] = {};
  std::uint8_t lastReportId_ = 0;
  std::vector<std::uint8_t> lastReply_;  // keeps its room: no allocation once reports are this long
  int readSliceMs_ = THidDevice::kDefaultReadSliceTime;

  TTimer ReadDataTimer;
  TTimer TimerTimeout;
  // Runs out one second after the latest reply (or connection change): every reply restarts it.
  TTimer AnswerWatch;
};

}  // namespace zrv
