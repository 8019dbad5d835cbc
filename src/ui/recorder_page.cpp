#include "ui/recorder_page.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QStandardPaths>

namespace zrv {
namespace {

using namespace std::chrono;

constexpr std::array<seconds, 3> kSpans{seconds(10), seconds(60), seconds(600)};
constexpr std::array<const char*, 3> kSpanTexts{"10 s", "1 min", "10 min"};
constexpr std::array<const char*, 3> kSpanNames{"Btn_Span10s", "Btn_Span1min", "Btn_Span10min"};
constexpr std::array<const char*, kSeriesCount> kSeriesBoxNames{
    "Chk_Supply", "Chk_Temperature", "Chk_Potentiometer", "Chk_AnalogInput",
    "Chk_CurrentLimit", "Chk_CurrentActual", "Chk_PwmLimit", "Chk_PwmActual"};

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// A swatch of the series' line: solid or dashed, in its colour.
QIcon SeriesIcon(Series series) {
  QPixmap pixmap(16, 12);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  QPen pen(SeriesColor(series), 2.0);
  if (SeriesDashed(series)) pen.setDashPattern({2.0, 1.5});
  painter.setPen(pen);
  painter.drawLine(QPointF(1.0, 6.0), QPointF(15.0, 6.0));
  return QIcon(pixmap);
}

QString ElapsedText(long long totalSeconds) {
  const long long h = totalSeconds / 3600;
  const long long m = totalSeconds / 60 % 60;
  const long long s = totalSeconds % 60;
  return h > 0 ? QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QLatin1Char('0')).arg(s, 2, 10, QLatin1Char('0'))
               : QStringLiteral("%1:%2").arg(m, 2, 10, QLatin1Char('0')).arg(s, 2, 10, QLatin1Char('0'));
}

// Home abbreviated, so a path fits the page and the status line.
QString ShortPath(const QString& path) {
  const QString home = QDir::homePath();
  if (!home.isEmpty() && home != QStringLiteral("/") && path.startsWith(home + QLatin1Char('/'))) {
    return QStringLiteral("~") + path.mid(home.size());
  }
  return path;
}

QString DefaultAskFileName(QWidget* parent, const QString& proposed) {
  return QFileDialog::getSaveFileName(parent, QStringLiteral("Record to"), proposed,
                                      QStringLiteral("CSV files (*.csv);;All files (*)"));
}

}  // namespace

RecorderPage::RecorderPage(TimeSource& time, ConnectedQuery connected, StatusLine statusLine,
                           QWidget* parent)
    : QWidget(parent),
      Timer(time, 40, true),
      recorder_(QFile::encodeName(DefaultCaptureFolder()).toStdString()),
      connected_(std::move(connected)),
      statusLine_(std::move(statusLine)),
      steadyClock_([] { return steady_clock::now(); }),
      wallClock_([] { return system_clock::now(); }),
      askFileName_(DefaultAskFileName) {
  setObjectName(QStringLiteral("TabSheet3"));
  messages_.reserve(16);
  BuildControls();
  Timer.OnTimer = [this] { Tick(); };
}

RecorderPage::~RecorderPage() {
  // The recorder finishes its files as it goes (a recording ends, waiting captures are saved).
  Timer.SetEnabled(false);
}

QString RecorderPage::DefaultCaptureFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/captures");
}

QString RecorderPage::ProposedFileName(WallTime wall) {
  const auto ms = duration_cast<milliseconds>(wall.time_since_epoch()).count();
  return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("'zrv-'yyyyMMdd-HHmmss'.csv'"));
}

void RecorderPage::SetClocks(SteadyClock steady, WallClock wall) {
  steadyClock_ = std::move(steady);
  wallClock_ = std::move(wall);
}

void RecorderPage::SetCaptureFolder(const QString& folder) {
  recorder_.SetCaptureFolder(QFile::encodeName(folder).toStdString());
  recordingLabel_->clear();
  ShowRecordingState();
}

void RecorderPage::BuildControls() {
  // Laid out for the 657 x 251 page: series switches and buttons on the left, the chart right.
  for (std::size_t s = 0; s < kSeriesCount; ++s) {
    const auto series = static_cast<Series>(s);
    const SeriesInfo& info = kSeriesInfo[s];
    auto* box = new QCheckBox(QStringLiteral("%1 [%2]").arg(QString::fromLatin1(info.Name.data(), static_cast<qsizetype>(info.Name.size())),
                                                            QString::fromLatin1(UnitSymbol(info.SeriesUnit).data())),
                              this);
    box->setObjectName(QString::fromLatin1(kSeriesBoxNames[s]));
    box->setIcon(SeriesIcon(series));
    box->setChecked(true);
    box->setGeometry(6, 4 + static_cast<int>(s) * 19, 142, 18);
    connect(box, &QCheckBox::toggled, this, [this, series](bool on) { chart_->SetSeriesVisible(series, on); });
    seriesBoxes_[s] = box;
  }
  for (std::size_t i = 0; i < kSpans.size(); ++i) {
    auto* button = new QPushButton(QString::fromLatin1(kSpanTexts[i]), this);
    button->setObjectName(QString::fromLatin1(kSpanNames[i]));
    button->setCheckable(true);
    button->setAutoExclusive(true);
    button->setGeometry(6 + static_cast<int>(i) * 47, 162, 45, 22);
    const seconds span = kSpans[i];
    connect(button, &QPushButton::toggled, this, [this, span](bool on) {
      if (on) chart_->SetSpan(span);
    });
    spanButtons_[i] = button;
  }
  pauseButton_ = new QPushButton(QStringLiteral("Pause"), this);
  pauseButton_->setObjectName(QStringLiteral("Btn_Pause"));
  pauseButton_->setCheckable(true);
  pauseButton_->setGeometry(6, 190, 68, 26);
  connect(pauseButton_, &QPushButton::toggled, this, [this](bool paused) {
    pauseButton_->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
  });
  recordButton_ = new QPushButton(QStringLiteral("Record"), this);
  recordButton_->setObjectName(QStringLiteral("Btn_Record"));
  recordButton_->setGeometry(79, 190, 68, 26);
  connect(recordButton_, &QPushButton::clicked, this, [this] { RecordClick(); });

  chart_ = new RecorderChart(recorder_.Ring(), this);
  chart_->setObjectName(QStringLiteral("Chart_Recorder"));
  chart_->setGeometry(152, 2, 503, 222);
  spanButtons_[0]->setChecked(true);

  recordingLabel_ = new QLabel(this);
  recordingLabel_->setObjectName(QStringLiteral("Lab_Recording"));
  recordingLabel_->setGeometry(6, 226, 649, 20);
  recordingLabel_->setTextFormat(Qt::PlainText);
  ShowRecordingState();
}

bool RecorderPage::Paused() const { return pauseButton_->isChecked(); }

void RecorderPage::AddStatus(const LiveStatus& status, const DriverLimits& limits) {
  recorder_.Add(MakeSample(status, limits, steadyClock_(), wallClock_()));
  wasConnected_ = true;
}

void RecorderPage::SamplesStopped(GapReason reason) {
  recorder_.SamplesStopped(reason, steadyClock_(), wallClock_());
}

void RecorderPage::Tick() {
  const SteadyTime now = steadyClock_();
  const bool connected = connected_ && connected_();
  if (wasConnected_ && !connected) {
    // The line breaks here, a recording notes it and ends, a capture in progress is cut short.
    recorder_.Add(MakeDisconnectedSample(now, wallClock_()));
  }
  wasConnected_ = connected && wasConnected_;

  messages_.clear();
  recorder_.Tick(now, messages_);
  for (const std::string& message : messages_) {
    Show(message);
  }
  ShowRecordingState();
  chart_->Tick(now, Paused());
}

void RecorderPage::RecordClick() {
  if (recorder_.Recording()) {
    recorder_.StopRecording();
    ShowRecordingState();
    return;
  }
  QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (folder.isEmpty() || !QDir(folder).exists()) folder = QDir::homePath();
  const QString proposed = QDir(folder).filePath(ProposedFileName(wallClock_()));
  const QString path = askFileName_(this, proposed);
  if (path.isEmpty()) return;
  recorder_.StartRecording(QFile::encodeName(path).toStdString(), steadyClock_());
  Show("Recording to " + QFile::encodeName(ShortPath(path)).toStdString());
  shownSecond_ = -1;
  ShowRecordingState();
}

void RecorderPage::Show(const std::string& message) {
  if (statusLine_) {
    QString text = FromUtf8(message);
    const QString home = QDir::homePath();
    if (!home.isEmpty() && home != QStringLiteral("/")) {
      text.replace(home + QLatin1Char('/'), QStringLiteral("~/"));
    }
    statusLine_(text);
  }
}

void RecorderPage::ShowRecordingState() {
  const bool recording = recorder_.Recording();
  if (recording) {
    // Once a second is enough for a count and a clock, and spares a label repaint per sample.
    const long long second = duration_cast<seconds>(steadyClock_() - recorder_.RecordingStart()).count();
    if (shownRecording_ && second == shownSecond_ && shownProblem_ == recorder_.CaptureProblem()) return;
    shownSecond_ = second;
    shownProblem_ = recorder_.CaptureProblem();
    const QString name = QFileInfo(QFile::decodeName(QByteArray::fromStdString(recorder_.RecordingPath()))).fileName();
    // Rows are counted as taken; the status line says how many reached the disk when it ends.
    recordingLabel_->setText(QStringLiteral("Recording %1   %2 rows   %3%4")
                                 .arg(name)
                                 .arg(recorder_.RecordedRows())
                                 .arg(ElapsedText(second))
                                 .arg(shownProblem_.empty() ? QString() : QStringLiteral("   Fault captures cannot be saved")));
  } else if (shownRecording_ || recordingLabel_->text().isEmpty() || shownProblem_ != recorder_.CaptureProblem()) {
    shownProblem_ = recorder_.CaptureProblem();
    // A capture that could not be saved stays said here until one is saved again: the status
    // line's note is soon replaced by the next.
    recordingLabel_->setText(
        shownProblem_.empty()
            ? QStringLiteral("Not recording. Fault captures go to %1")
                  .arg(ShortPath(QFile::decodeName(QByteArray::fromStdString(recorder_.CaptureFolder()))))
            : QStringLiteral("Not recording. Fault captures cannot be saved: %1").arg(ShortPath(FromUtf8(shownProblem_))));
  }
  if (recording != shownRecording_ || recordButton_->text().isEmpty()) {
    recordButton_->setText(recording ? QStringLiteral("Stop") : QStringLiteral("Record"));
  }
  shownRecording_ = recording;
}

}  // namespace zrv
