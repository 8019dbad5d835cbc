// The one main window: layout from form1.ui, window initialisation, the live status view and the
// Modbus settings page. It is a view of a driver session: the session finds, connects, polls and
// decodes the driver, and the window shows what it hears.
#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "link/ttimer.h"
#include "protocol/device_state.h"
#include "session/driver_session.h"
#include "view/live_view_model.h"
#include "view/reply_view.h"
#include "view/status_line.h"
#include "ui/message_boxes.h"

namespace Ui {
class TForm1;
}

namespace zrv {

class RecorderPage;
class Rs485Page;

inline constexpr std::string_view kFormCaption = "Kalvor ZRV-PC - DC motor driver";
inline constexpr int kGridRowCount = 16;
inline constexpr std::string_view kSaveQuestionText = "Zapisać ustawienia?";
inline constexpr std::string_view kSaveQuestionCaption = "Ustawienia";

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  // Builds the layout and the live view's timer on `time`, subscribes to `session` and runs
  // FormCreate. An exception out of FormCreate shows the error box; the window keeps whatever
  // FormCreate completed. `session` and `time` must outlive the window.
  TForm1(DriverSession& session, TimeSource& time, IMessageBoxes& boxes, QWidget* parent = nullptr);
  ~TForm1() override;

  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Window creation handler: "No connection", versioned caption, slave-id list, register grid.
  void FormCreate();

  // One tick of the live status view (DisplayData's handler).
  void DisplayDataTimer();

  // Modbus settings page.
  void Btn_ReadSettingsClick();
  void Btn_SaveParamsClick();

  DriverSession& Session() const { return session_; }
  // The live view ticks (it stops for good after the firmware warning).
  bool LiveViewRunning() const { return DisplayData.Enabled(); }
  bool FirmwareWarningShown() const { return firmwareWarningShown_; }
  // The user's decimal separator, ',' or '.'.
  char DecimalSeparator() const { return decimalSeparator_; }
  Rs485Page& Rs485() const { return *rs485Page_; }

 private:
  void BuildWindow();
  void PrepareLiveStatusView();
  void Subscribe();
  void ShowStatus(std::string_view text, Rgb background);
  void ShowConnection(ConnectionShown shown);
  void ShowIdentity(bool ofThisConnection);
  void ShowModbusSettings();
  void ShowRegisters();
  void ShowSaveWritten(std::uint32_t tag, bool written);
  void WireModbusPage();
  // The command the session polls follows the page shown.
  void FollowPage(int page);
  // Label_Status shows what statusLine_ says.
  void ShowStatusLine();
  void WireRecorderPage(TimeSource& time);
  void WireRs485Page(TimeSource& time);

  DriverSession& session_;
  std::unique_ptr<Ui::TForm1> ui_;
  // The live status view's widgets and what it last showed in them.
  struct LiveViewWidgets;
  std::unique_ptr<LiveViewWidgets> liveView_;
  IMessageBoxes& boxes_;
  bool firmwareWarningShown_ = false;
  char decimalSeparator_ = '.';
  StatusLine statusLine_;
  RecorderPage* recorderPage_ = nullptr;  // owned by PageControl1
  Rs485Page* rs485Page_ = nullptr;        // owned by PageControl1
  // The live status view's 40 ms tick.
  TTimer DisplayData;
};

}  // namespace zrv
