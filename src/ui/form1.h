// The one main window: layout from form1.ui, window initialisation, the connection manager and
// its status routines, polling, the send path, the live status view, the reply handler and the
// Modbus settings page.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "link/hid_device.h"
#include "link/hid_device_controller.h"
#include "link/platform/hid_platform.h"
#include "link/ttimer.h"
#include "protocol/device_state.h"
#include "view/live_view_model.h"
#include "view/reply_view.h"
#include "view/status_line.h"
#include "ui/message_boxes.h"

namespace Ui {
class TForm1;
}

namespace zrv {

class RecorderPage;

inline constexpr std::string_view kFormCaption = "Kalvor ZRV-PC - DC motor driver";
inline constexpr std::string_view kVersionText = "1.02";
inline constexpr int kGridRowCount = 16;
inline constexpr std::string_view kSaveQuestionText = "Zapisać ustawienia?";
inline constexpr std::string_view kSaveQuestionCaption = "Ustawienia";

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  // Called with the number of each FormCreate step (1..8) before the step runs. Lets a caller
  // observe, or interrupt by throwing, the initialisation.
  using FormCreateStepHook = std::function<void(int step)>;

  // Builds the layout, the timers on `time`, the device controller on `platform` (its first scan
  // runs when the event loop runs), and runs FormCreate. An exception out of FormCreate shows the
  // error box; the window keeps whatever FormCreate completed. `platform` must outlive the window.
  TForm1(TimeSource& time, IMessageBoxes& boxes, IHidPlatform& platform, QWidget* parent = nullptr,
         const FormCreateStepHook& stepHook = {});
  ~TForm1() override;

  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Window creation handler: "No connection", versioned caption, slave-id list, register grid.
  void FormCreate();

  // Connection status routines: text and background of ConnectionStatus.
  void ShowConnected();     // also sends the identity request
  void ShowNoConnection();  // also stops polling
  void ShowDisconnected();  // also stops polling

  // One tick of the live status view (DisplayData's handler).
  void DisplayDataTimer();

  // The handler of every input report from the driver: decodes it into DeviceState and shows
  // what the reply carries. Data are the bytes after the report ID.
  void HandleReply(THidDevice* HidDev, std::uint8_t ReportID, const std::uint8_t* Data,
                   std::uint16_t Size);

  // The send path: one output report to CurrentDevice, nothing while not connected. Errors are
  // dropped and the outcome is not looked at; no heap allocation. The report goes to the device's
  // writer thread, so a device that stops taking reports never holds the window; a poll (a bare
  // command 11 or 12) is dropped while an earlier report is still on its way.
  void SendReport(const std::uint8_t* payload, std::uint32_t length);
  void SendCommand(CommandCode code);
  // The settings write of Save: true when the whole report went to the device's writer.
  bool SendModbusSettings();
  // The outcome of a settings report, from the device's writer.
  void WriteDone(std::uint32_t Tag, bool Written);

  // Connection manager: the controller's handlers.
  bool HidDeviceController1Enumerate(THidDevice* HidDev, int Idx);
  void HidDeviceController1DeviceChange(QObject* Sender);

  // Polling scheduler.
  void ReadDataTimerTimer();
  void TimerTimeoutTimer();
  void PausePolling();
  // Turns polling on; the live view's and the recorder's 40 ms timers count again from the same
  // moment, so that the three tick in one wake-up of the event loop instead of three.
  void StartPolling();

  // Modbus settings page.
  void Btn_ReadSettingsClick();
  void Btn_SaveParamsClick();

  // The status line's watch for a driver that stopped answering (AnswerWatch's handler).
  void AnswerWatchTimer();
  const StatusLine& StatusLineState() const { return statusLine_; }

  THidDeviceController& HidDeviceController1() const { return *controller_; }
  THidDevice* CurrentDevice() const { return currentDevice_; }
  // The device objects held for ListBox1's items, in item order.
  const std::vector<std::unique_ptr<THidDevice>>& ListedDevices() const { return listed_; }

  bool Connected() const { return connected_; }
  void SetConnected(bool connected) { connected_ = connected; }
  bool FirmwareWarningShown() const { return firmwareWarningShown_; }
  DeviceState& State() { return state_; }
  const DeviceState& State() const { return state_; }
  // The user's decimal separator, ',' or '.'.
  char DecimalSeparator() const { return decimalSeparator_; }
  IMessageBoxes& MessageBoxes() const { return boxes_; }
  Ui::TForm1& Widgets() const { return *ui_; }
  RecorderPage& Recorder() const { return *recorderPage_; }

 private:
  void BuildWindow();
  void PrepareLiveStatusView();
  void ShowStatus(std::string_view text, Rgb background);
  void WireLink(IHidPlatform& platform);
  void WireModbusPage();
  // Frames the payload for CurrentDevice and posts it; true when the writer took it.
  bool Send(const std::uint8_t* payload, std::uint32_t length, THidReportWriter::Kind kind,
            std::uint32_t tag);
  // Label_Status shows what statusLine_ says.
  void ShowStatusLine();
  void WireRecorderPage(TimeSource& time);

  std::unique_ptr<Ui::TForm1> ui_;
  // The live status view's widgets and what it last showed in them.
  struct LiveViewWidgets;
  std::unique_ptr<LiveViewWidgets> liveView_;
  IMessageBoxes& boxes_;
  DeviceState state_{};
  bool connected_ = false;
  bool firmwareWarningShown_ = false;
  char decimalSeparator_ = '.';
  FormCreateStepHook stepHook_;
  std::unique_ptr<THidDeviceController> controller_;
  std::vector<std::unique_ptr<THidDevice>> listed_;  // parallel to ListBox1's items
  THidDevice* currentDevice_ = nullptr;
  StatusLine statusLine_;
  RecorderPage* recorderPage_ = nullptr;  // owned by PageControl1

 public:
  // The window's timers: the live status view, polling, and the end of a polling pause.
  TTimer DisplayData;
  TTimer ReadDataTimer;
  TTimer TimerTimeout;
  // Runs out one second after the latest reply (or connection change): every reply restarts it.
  TTimer AnswerWatch;
};

}  // namespace zrv
