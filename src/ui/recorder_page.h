// The "Recorder" page: a chart of the readings, recording them to a CSV file, and fault captures
// saved without asking. The sample ring, the files and the capture trigger live in the plain
// Recorder; this widget shows them and takes the operator's clicks. The window hands it every
// status reply; its own 40 ms timer on the window's time source drives everything else.
#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "link/ttimer.h"
#include "protocol/device_state.h"
#include "record/recorder.h"
#include "ui/recorder_chart.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace zrv {

inline constexpr std::string_view kRecorderPageTitle = "Recorder";

class RecorderPage : public QWidget {
  Q_OBJECT

 public:
  using ConnectedQuery = std::function<bool()>;
  using StatusLine = std::function<void(const QString& text)>;
  using SteadyClock = std::function<SteadyTime()>;
  using WallClock = std::function<WallTime()>;
  // Asks where to record, proposing `proposed`; an empty answer cancels.
  using AskFileName = std::function<QString(QWidget* parent, const QString& proposed)>;

  // `connected` tells whether the window is connected; `statusLine` shows a text on the window's
  // status line. Fault captures go to the application's data folder, "captures" in it.
  RecorderPage(TimeSource& time, ConnectedQuery connected, StatusLine statusLine,
               QWidget* parent = nullptr);
  ~RecorderPage() override;

  // A status reply has just been decoded into `status` (with `limits` in force).
  void AddStatus(const LiveStatus& status, const DriverLimits& limits);

  // Status samples stopped while connected (another page polls, a pause, no answer): written
  // down in a recording, a break in the chart. Repeated calls until the next reply add nothing.
  void SamplesStopped(GapReason reason);

  // One tick of the page's timer.
  void Tick();

  // Record when not recording, otherwise Stop.
  void RecordClick();

  // For tests and the demo: clocks, the file question, the capture folder.
  void SetClocks(SteadyClock steady, WallClock wall);
  void SetAskFileName(AskFileName ask) { askFileName_ = std::move(ask); }
  void SetCaptureFolder(const QString& folder);
  Recorder& TheRecorder() { return recorder_; }
  RecorderChart& Chart() const { return *chart_; }
  bool Paused() const;

  // The file name proposed for a recording that starts at `wall`: zrv-YYYYMMDD-HHMMSS.csv.
  static QString ProposedFileName(WallTime wall);
  static QString DefaultCaptureFolder();

  TTimer Timer;

 private:
  void BuildControls();
  void ShowRecordingState();
  void Show(const std::string& message);

  Recorder recorder_;
  ConnectedQuery connected_;
  StatusLine statusLine_;
  SteadyClock steadyClock_;
  WallClock wallClock_;
  AskFileName askFileName_;
  bool wasConnected_ = false;
  std::vector<std::string> messages_;

  RecorderChart* chart_ = nullptr;
  std::array<QCheckBox*, kSeriesCount> seriesBoxes_{};
  std::array<QPushButton*, 3> spanButtons_{};
  QPushButton* pauseButton_ = nullptr;
  QPushButton* recordButton_ = nullptr;
  QLabel* recordingLabel_ = nullptr;
  long long shownSecond_ = -1;
  bool shownRecording_ = false;
  std::string shownProblem_;  // the capture problem the label shows
};

}  // namespace zrv
