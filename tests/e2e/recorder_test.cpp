// The Recorder page in the real window on the simulated platform: what it polls, what it keeps,
// how often it paints, and its files, including the ways they go wrong.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "../record/csv_reader.h"
#include "support/portable_env.h"
#include "e2e_support.h"
#include "record/csv_row.h"
#include "ui/recorder_page.h"

namespace zrv::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class RecorderPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeScratchFolder("zrv-page");
    ASSERT_FALSE(dir_.empty());
    page_ = b.Form->findChild<RecorderPage*>();
    ASSERT_NE(page_, nullptr);
    // The page's clocks follow the test's time, so 5 s after a fault is 125 ticks, not a wait.
    page_->SetClocks([this] { return SteadyTime(std::chrono::milliseconds(b.Time.NowMs())); },
                     [this] { return WallTime(std::chrono::seconds(1'800'000'000) +
                                              std::chrono::milliseconds(b.Time.NowMs())); });
    page_->SetCaptureFolder(QString::fromStdString((dir_ / "captures").string()));
    page_->SetAskFileName([this](QWidget*, const QString& proposed) {
      proposedName_ = proposed;
      return answer_;
    });
    ASSERT_TRUE(b.FirstScan());
  }
  void TearDown() override {
    b.Close();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  void PlugDriver(bool lively) {
    driver_ = b.PlugDriver(u"ZRVXXX", [&](SimHidDeviceConfig&, sim::SimulatedDriver& sim) {
      sim.SetLively(lively, 7);
    });
    ASSERT_TRUE(b.Identified());
  }
  // Ticks one by one, each followed by its reply (if one was asked for) and posted paints.
  void Ticks(int count) {
    for (int i = 0; i < count; ++i) {
      driver_.Model->Advance(static_cast<std::uint64_t>(b.Time.NowMs() + 40));
      const auto asked = driver_.Count(CommandCode::ReadStatus);
      b.Ticks(1);
      if (driver_.Count(CommandCode::ReadStatus) > asked) {
        ASSERT_TRUE(RunUntil([&] { return page_->TheRecorder().Ring().Pushed() >= samplesSeen_ + 1; }));
        samplesSeen_ = page_->TheRecorder().Ring().Pushed();
      }
      QCoreApplication::sendPostedEvents();
      QCoreApplication::processEvents();
    }
  }
  QString StatusLine() const { return b.LabelText("Label_Status"); }
  std::string ReadFile(const fs::path& path) const {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  Bench b;
  Driver driver_;
  RecorderPage* page_ = nullptr;
  fs::path dir_;
  QString answer_;
  QString proposedName_;
  std::uint64_t samplesSeen_ = 0;
};

TEST_F(RecorderPageTest, StatusRepliesBecomeSamplesOnEveryPageThatPollsThem) {
  PlugDriver(true);
  b.Form->show();
  b.ShowPage(2);
  const auto asked = driver_.Count(CommandCode::ReadStatus);
  Ticks(25);
  EXPECT_EQ(driver_.Count(CommandCode::ReadStatus) - asked, 25U);
  EXPECT_EQ(driver_.Count(CommandCode::ReadRegisters), 0U);
  const SampleRing& ring = page_->TheRecorder().Ring();
  const std::uint64_t onRecorder = ring.Pushed();
  EXPECT_GE(onRecorder, 25U);
  // The lively driver moves: the potentiometer is not the same all second.
  EXPECT_NE(ring[ring.Size() - 25].Value(Series::Potentiometer), ring.Newest().Value(Series::Potentiometer));

  b.ShowPage(0);
  Ticks(10);
  EXPECT_EQ(ring.Pushed(), onRecorder + 10U);
  // The register page polls no status: no samples, only the one marker of the gap.
  b.ShowPage(1);
  Ticks(10);
  RunRounds(20);
  EXPECT_EQ(ring.Pushed(), onRecorder + 10U + 1U);
  EXPECT_EQ(ring.Newest().Kind, SampleKind::Gap);
}

TEST_F(RecorderPageTest, ChartPaintsAtMostOncePerTickAndNeverHiddenOrPaused) {
  PlugDriver(true);
  b.Form->show();
  b.ShowPage(2);
  Ticks(3);
  const RecorderChart& chart = page_->Chart();
  auto paints = chart.Paints();
  Ticks(50);
  EXPECT_LE(chart.Paints() - paints, 50U);
  EXPECT_GE(chart.Paints() - paints, 25U);

  b.Click("Btn_Pause");
  Ticks(2);
  paints = chart.Paints();
  const auto samples = page_->TheRecorder().Ring().Pushed();
  Ticks(30);
  EXPECT_EQ(chart.Paints(), paints);
  EXPECT_EQ(page_->TheRecorder().Ring().Pushed(), samples + 30U);  // samples keep coming
  // The pointer moving over the frozen picture: its readout is drawn with the next tick, once.
  QMouseEvent move(QEvent::MouseMove, QPointF(300.0, 80.0), QPointF(), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QCoreApplication::sendEvent(&page_->Chart(), &move);
  Ticks(5);
  EXPECT_EQ(chart.Paints(), paints + 1U);
  b.Click("Btn_Pause");

  b.ShowPage(0);
  QCoreApplication::processEvents();
  paints = chart.Paints();
  Ticks(30);
  EXPECT_EQ(chart.Paints(), paints);
}

TEST_F(RecorderPageTest, RecordingThroughTheWindowWritesEveryRowAndStops) {
  PlugDriver(true);
  b.ShowPage(2);
  answer_ = QString::fromStdString((dir_ / "run.csv").string());
  b.Click("Btn_Record");
  EXPECT_TRUE(proposedName_.endsWith(QStringLiteral("/zrv-") +
                                     QDateTime::fromMSecsSinceEpoch(1'800'000'000'000LL + b.Time.NowMs())
                                         .toString(QStringLiteral("yyyyMMdd-HHmmss")) +
                                     QStringLiteral(".csv")))
      << proposedName_.toStdString();
  EXPECT_EQ(b.Find<QPushButton>("Btn_Record")->text(), QStringLiteral("Stop"));
  Ticks(60);
  EXPECT_TRUE(b.LabelText("Lab_Recording").startsWith(QStringLiteral("Recording run.csv   ")));
  EXPECT_TRUE(b.LabelText("Lab_Recording").contains(QStringLiteral("rows   00:02")));
  b.Click("Btn_Record");
  EXPECT_EQ(b.Find<QPushButton>("Btn_Record")->text(), QStringLiteral("Record"));
  page_->TheRecorder().Writer().WaitIdle();
  Ticks(1);
  EXPECT_TRUE(StatusLine().startsWith(QStringLiteral("Recording saved: "))) << StatusLine().toStdString();

  bool ok = false;
  const auto table = ParseCsv(ReadFile(dir_ / "run.csv"), ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(table.size(), 1U + page_->TheRecorder().RecordedRows());
  EXPECT_EQ(table.size(), 61U);
  EXPECT_EQ(table[0].size(), kCsvColumnCount);
  EXPECT_EQ(table[1][1], "0.040");
}

// /dev/full is a device, not a file: refused before anything is written.
TEST_F(RecorderPageTest, ADeviceAsTheFileIsRefusedWithAMessageAndPollingGoesOn) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no device that is always full";
#endif
  PlugDriver(true);
  b.ShowPage(2);
  answer_ = QStringLiteral("/dev/full");
  b.Click("Btn_Record");
  Ticks(30);
  page_->TheRecorder().Writer().WaitIdle();
  Ticks(1);
  EXPECT_EQ(StatusLine(), QStringLiteral("Recording not started: /dev/full: it is a device, not a regular file; "
                                         "choose another file and Record again"));
  EXPECT_EQ(b.Find<QPushButton>("Btn_Record")->text(), QStringLiteral("Record"));
  const auto asked = driver_.Count(CommandCode::ReadStatus);
  Ticks(10);
  EXPECT_EQ(driver_.Count(CommandCode::ReadStatus), asked + 10U);
}

TEST_F(RecorderPageTest, UnplugEndsTheRecordingWithADisconnectionRow) {
  PlugDriver(true);
  b.ShowPage(2);
  answer_ = QString::fromStdString((dir_ / "unplug.csv").string());
  b.Click("Btn_Record");
  Ticks(20);
  b.Unplug(driver_.Device);
  ASSERT_TRUE(b.Scanned);
  b.Ticks(1);
  page_->TheRecorder().Writer().WaitIdle();
  b.Ticks(1);
  EXPECT_TRUE(StatusLine().startsWith(QStringLiteral("Recording stopped: driver disconnected; 21 rows saved in ")))
      << StatusLine().toStdString();
  bool ok = false;
  const auto table = ParseCsv(ReadFile(dir_ / "unplug.csv"), ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(table.size(), 22U);
  EXPECT_EQ(table.back()[2], "disconnected");
}

TEST_F(RecorderPageTest, FaultIsCapturedWithoutAskingAndTheStatusLineSaysWhere) {
  PlugDriver(false);
  b.ShowPage(0);  // captures are taken on any page that polls the status
  Ticks(12 * 25);
  driver_.Sim().Model().Status.FaultCode = 4;
  Ticks(10);
  EXPECT_EQ(StatusLine(), QStringLiteral("Fault \"Over voltage\": saving the 10 s before and the 5 s after it"));
  Ticks(5 * 25);
  page_->TheRecorder().Writer().WaitIdle();
  Ticks(1);
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir_ / "captures")) files.push_back(entry.path());
  ASSERT_EQ(files.size(), 1U);
  EXPECT_TRUE(StatusLine().startsWith(QStringLiteral("Fault capture saved: ")));
  EXPECT_TRUE(StatusLine().endsWith(QString::fromStdString(files[0].filename().string())));
  bool ok = false;
  const auto table = ParseCsv(ReadFile(files[0]), ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(table.size(), 1U + 250U + 1U + 125U);
  EXPECT_EQ(table[1][1], "-10.000");
}

// Two windows, one file: the second is refused, the first's file stays whole and true.
TEST_F(RecorderPageTest, TwoWindowsRecordingToOneFileNeverWriteOverEachOther) {
  PlugDriver(true);
  b.ShowPage(2);
  const fs::path file = dir_ / "shared.csv";
  answer_ = QString::fromStdString(file.string());
  b.Click("Btn_Record");
  Ticks(30);

  Bench other;
  RecorderPage& second = *other.Form->findChild<RecorderPage*>();
  second.SetCaptureFolder(QString::fromStdString((dir_ / "captures2").string()));
  // The operator answered "replace" in the second window's dialog.
  second.SetAskFileName([&](QWidget*, const QString&) { return QString::fromStdString(file.string()); });
  ASSERT_TRUE(other.FirstScan());
  other.ShowPage(2);
  other.Click("Btn_Record");
  other.Ticks(1);
  second.TheRecorder().Writer().WaitIdle();
  other.Ticks(1);
  EXPECT_EQ(other.Find<QLabel>("Label_Status")->toolTip().toStdString(),
            "Recording not started: " + file.string() +
                ": another recording is writing to this file; choose another file and Record again");
  EXPECT_EQ(other.Find<QPushButton>("Btn_Record")->text(), QStringLiteral("Record"));

  Ticks(30);
  b.Click("Btn_Record");
  page_->TheRecorder().Writer().WaitIdle();
  Ticks(1);
  EXPECT_EQ(StatusLine().toStdString(), "Recording saved: " + file.string() + " (60 rows)");
  const std::string text = ReadFile(file);
  EXPECT_EQ(text.find('\0'), std::string::npos);
  bool ok = false;
  EXPECT_EQ(ParseCsv(text, ok).size(), 61U);
  EXPECT_TRUE(ok);
}

// The Modbus page polls registers, not the status: the recording says so where its rows pause.
TEST_F(RecorderPageTest, TheModbusPageLeavesARowSayingWhySamplesStopped) {
  PlugDriver(true);
  b.ShowPage(2);
  answer_ = QString::fromStdString((dir_ / "gap.csv").string());
  b.Click("Btn_Record");
  Ticks(20);
  b.ShowPage(1);
  Ticks(50);
  b.ShowPage(2);
  Ticks(20);
  b.Click("Btn_Record");
  page_->TheRecorder().Writer().WaitIdle();
  Ticks(1);
  bool ok = false;
  const auto table = ParseCsv(ReadFile(dir_ / "gap.csv"), ok);
  ASSERT_TRUE(ok);
  std::vector<std::string> events;
  for (std::size_t i = 1; i < table.size(); ++i) {
    if (!table[i][2].empty()) events.push_back(table[i][2]);
  }
  EXPECT_EQ(events, std::vector<std::string>{"no samples: RS485 Modbus page shown"});
  EXPECT_EQ(table.size(), 1U + 20U + 1U + 20U);
}

// A capture that could not be saved stays said on the page after the status line moved on.
TEST_F(RecorderPageTest, CapturesThatCannotBeSavedAreSaidOnThePageUntilOneIs) {
  const fs::path blocker = dir_ / "file";
  std::ofstream(blocker) << "x";
  page_->SetCaptureFolder(QString::fromStdString((blocker / "captures").string()));
  PlugDriver(false);
  b.ShowPage(2);
  Ticks(12 * 25);
  driver_.Sim().Model().Status.FaultCode = 4;
  Ticks(5 * 25 + 10);
  page_->TheRecorder().Writer().WaitIdle();
  Ticks(1);
  driver_.Sim().Model().Status.FaultCode = 0;
  answer_ = QString::fromStdString((dir_ / "later.csv").string());
  b.Click("Btn_Record");  // another note on the status line
  b.Click("Btn_Record");
  Ticks(5);
  EXPECT_FALSE(StatusLine().startsWith(QStringLiteral("Fault capture not saved")));
  EXPECT_TRUE(b.LabelText("Lab_Recording").startsWith(QStringLiteral("Not recording. Fault captures cannot be saved: cannot write to ")))
      << b.LabelText("Lab_Recording").toStdString();

  page_->SetCaptureFolder(QString::fromStdString((dir_ / "captures").string()));
  Ticks(12 * 25);
  driver_.Sim().Model().Status.FaultCode = 4;
  Ticks(5 * 25 + 10);
  page_->TheRecorder().Writer().WaitIdle();
  Ticks(1);
  EXPECT_TRUE(b.LabelText("Lab_Recording").startsWith(QStringLiteral("Not recording. Fault captures go to ")))
      << b.LabelText("Lab_Recording").toStdString();
}

}  // namespace
}  // namespace zrv::test
