// The one main window: layout from form1.ui, window initialisation, the connection status
// routines, the live status view and the reply handler.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "link/ttimer.h"
#include "protocol/device_state.h"
#include "protocol/live_view_model.h"
#include "ui/message_boxes.h"

namespace Ui {
class TForm1;
}

namespace zrv {

class THidDevice;

inline constexpr std::string_view kFormCaption = "Kalvor ZRV-PC - DC motor driver";
inline constexpr std::string_view kVersionText = "1.02";
inline constexpr std::string_view kNoConnectionText = "No connection";
inline constexpr std::string_view kDisconnectedText = "Disconnected";
inline constexpr std::string_view kConnectedText = "Connected";
inline constexpr int kSlaveIdCount = 127;
inline constexpr int kGridRowCount = 16;

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  // Called with the number of each FormCreate step (1..8) before the step runs. Lets a caller
  // observe, or interrupt by throwing, the initialisation.
  using FormCreateStepHook = std::function<void(int step)>;

  // Builds the layout, the timers on `time`, and runs FormCreate. An exception out of FormCreate
  // shows the error box; the window keeps whatever FormCreate completed.
  TForm1(TimeSource& time, IMessageBoxes& boxes, QWidget* parent = nullptr,
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

  // Sends one command byte through SendCommandHook; nothing is sent while the hook is empty.
  void SendCommand(CommandCode code);
  std::function<void(CommandCode)> SendCommandHook;

  bool Connected() const { return connected_; }
  void SetConnected(bool connected) { connected_ = connected; }
  bool FirmwareWarningShown() const { return firmwareWarningShown_; }
  DeviceState& State() { return state_; }
  const DeviceState& State() const { return state_; }
  // The user's decimal separator, ',' or '.'.
  char DecimalSeparator() const { return decimalSeparator_; }
  IMessageBoxes& MessageBoxes() const { return boxes_; }
  Ui::TForm1& Widgets() const { return *ui_; }

 private:
  void BuildWindow();
  void ShowStatus(std::string_view text, Rgb background);

  std::unique_ptr<Ui::TForm1> ui_;
  IMessageBoxes& boxes_;
  DeviceState state_{};
  bool connected_ = false;
  bool firmwareWarningShown_ = false;
  char decimalSeparator_ = '.';
  FormCreateStepHook stepHook_;

 public:
  // The window's timers: the live status view, polling, and the end of a polling pause.
  TTimer DisplayData;
  TTimer ReadDataTimer;
  TTimer TimerTimeout;
};

}  // namespace zrv
