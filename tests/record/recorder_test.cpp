// The recorder with its file thread on real files, including the ways files go wrong.
#include "record/recorder.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/portable_env.h"
#include "csv_reader.h"
#include "record/csv_row.h"

namespace zrv {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

test::CsvTable ReadCsv(const fs::path& path) {
  bool ok = false;
  auto table = test::ParseCsv(ReadFile(path), ok);
  EXPECT_TRUE(ok) << path;
  return table;
}

bool Contains(const std::vector<std::string>& messages, std::string_view part) {
  for (const auto& m : messages) {
    if (m.find(part) != std::string::npos) return true;
  }
  return false;
}

class RecorderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::MakeScratchFolder("zrv-recorder-test");
    ASSERT_FALSE(dir_.empty());
    recorder_ = std::make_unique<Recorder>((dir_ / "captures").string(), 2048);
  }
  void TearDown() override {
    recorder_.reset();
    std::error_code ignored;
    fs::permissions(dir_, fs::perms::owner_all, ignored);
    fs::remove_all(dir_, ignored);
  }

  // Readings every 40 ms up to `until`, one tick after each; the messages of the ticks.
  std::vector<std::string> Poll(std::chrono::milliseconds until, std::uint8_t fault = 0) {
    std::vector<std::string> messages;
    for (; now_ < until; now_ += 40ms) {
      LiveStatus status{};
      status.FaultCode = fault;
      status.PowerSupply = static_cast<std::uint32_t>(now_.count());
      recorder_->Add(MakeSample(status, DriverLimits{30000, 90, 1000, 10000}, SteadyTime(now_),
                                WallTime(now_)));
      recorder_->Tick(SteadyTime(now_), messages);
    }
    return messages;
  }
  // Ticks after the file thread has done everything asked so far.
  std::vector<std::string> Settle() {
    recorder_->Writer().WaitIdle();
    std::vector<std::string> messages;
    recorder_->Tick(SteadyTime(now_), messages);
    return messages;
  }

  fs::path dir_;
  std::unique_ptr<Recorder> recorder_;
  std::chrono::milliseconds now_{0};
};

TEST_F(RecorderTest, RecordingWritesEveryRowAndReachesTheDiskWithinASecond) {
  const fs::path file = dir_ / "run.csv";
  Poll(1s);
  ASSERT_TRUE(recorder_->StartRecording(file.string(), SteadyTime(now_)));
  EXPECT_FALSE(recorder_->StartRecording((dir_ / "other.csv").string(), SteadyTime(now_)));
  Poll(3s);
  EXPECT_EQ(recorder_->RecordedRows(), 50U);

  // Without stopping: no more than the last second is still in memory.
  recorder_->Writer().WaitIdle();
  const auto partial = ReadCsv(file);
  EXPECT_GE(partial.size(), 1U + 50U - 25U);

  recorder_->StopRecording();
  EXPECT_FALSE(recorder_->Recording());
  const auto messages = Settle();
  EXPECT_TRUE(Contains(messages, "Recording saved: " + file.string() + " (50 rows)"));
  const auto table = ReadCsv(file);
  ASSERT_EQ(table.size(), 51U);
  EXPECT_EQ(table[1][1], "0.000");
  EXPECT_EQ(table[1][3], "1.000");   // supply of the reading at 1 s, in V
  EXPECT_EQ(table[50][1], "1.960");
}

// /dev/full is a device: refused before anything is written, and the ring goes on.
TEST_F(RecorderTest, AFullDeviceIsRefusedAndPollingGoesOn) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no device that is always full";
#endif
  ASSERT_TRUE(recorder_->StartRecording("/dev/full", SteadyTime(now_)));
  auto messages = Poll(2s);
  const auto settled = Settle();
  messages.insert(messages.end(), settled.begin(), settled.end());
  EXPECT_FALSE(recorder_->Recording());
  EXPECT_TRUE(Contains(messages, "Recording not started: /dev/full: it is a device, not a regular file"))
      << (messages.empty() ? "" : messages.back());
  // The ring goes on filling; a new recording may start.
  const auto before = recorder_->Ring().Pushed();
  Poll(3s);
  EXPECT_EQ(recorder_->Ring().Pushed(), before + 25U);
  EXPECT_TRUE(recorder_->StartRecording((dir_ / "next.csv").string(), SteadyTime(now_)));
}

TEST_F(RecorderTest, DiskFillingUpMidwayKeepsEveryWholeRowWrittenBefore) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no file size limit of the process to stand in for a full disk";
#else
  const fs::path file = dir_ / "filling.csv";
  ASSERT_TRUE(recorder_->StartRecording(file.string(), SteadyTime(now_)));
  Poll(2s);
  recorder_->Writer().WaitIdle();
  const auto sizeBefore = fs::file_size(file);

  // A file size limit makes the next write fail part way, as a full disk does.
  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = saved;
  limited.rlim_cur = sizeBefore + 300;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  auto messages = Poll(4s);
  const auto settled = Settle();
  messages.insert(messages.end(), settled.begin(), settled.end());
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(recorder_->Recording());
  ASSERT_TRUE(Contains(messages, "Recording stopped: filling.csv: File too large"))
      << (messages.empty() ? "(none)" : messages.back());
  const auto table = ReadCsv(file);
  EXPECT_EQ(fs::file_size(file), sizeBefore);
  EXPECT_TRUE(Contains(messages, "; " + std::to_string(table.size() - 1) + " rows kept"));
#endif
}

TEST_F(RecorderTest, FileRemovedOrMadeReadOnlyStopsTheRecording) {
  for (const bool remove : {true, false}) {
    SCOPED_TRACE(remove ? "removed" : "read-only");
    if (remove && test::UnderWine()) {
      // wine keeps a file deleted while open, name and all, until its last handle closes, and
      // reports no pending deletion; Windows does neither.
      continue;
    }
    const fs::path file = dir_ / (remove ? "gone.csv" : "locked.csv");
    ASSERT_TRUE(recorder_->StartRecording(file.string(), SteadyTime(now_)));
    Poll(now_ + 2s);
    recorder_->Writer().WaitIdle();
    const auto rowsOnDisk = ReadCsv(file).size() - 1;
    ASSERT_GT(rowsOnDisk, 0U);
    if (remove) {
      fs::remove(file);
    } else {
      fs::permissions(file, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                      fs::perm_options::remove);
    }
    auto messages = Poll(now_ + 2s);
    const auto settled = Settle();
    messages.insert(messages.end(), settled.begin(), settled.end());
    EXPECT_FALSE(recorder_->Recording());
    EXPECT_TRUE(Contains(messages, remove ? "the file was removed" : "the file was made read-only"))
        << (messages.empty() ? "(none)" : messages.back());
    // Rows that went with a removed file are not called kept.
    EXPECT_TRUE(Contains(messages, remove ? "no rows kept" : std::to_string(rowsOnDisk) + " rows kept"));
    if (!remove) {
      EXPECT_EQ(ReadCsv(file).size() - 1, rowsOnDisk);
      fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
    }
  }
}

TEST_F(RecorderTest, FolderRemovedOrMadeReadOnlyStopsTheRecording) {
#ifdef _WIN32
  GTEST_SKIP() << "on Windows a folder with an open file cannot be removed, and its read-only "
                  "attribute does not stop writing";
#endif
  for (const bool remove : {true, false}) {
    SCOPED_TRACE(remove ? "removed" : "read-only");
    const fs::path folder = dir_ / (remove ? "gone" : "locked");
    fs::create_directory(folder);
    ASSERT_TRUE(recorder_->StartRecording((folder / "r.csv").string(), SteadyTime(now_)));
    Poll(now_ + 2s);
    recorder_->Writer().WaitIdle();
    const auto rowsOnDisk = ReadCsv(folder / "r.csv").size() - 1;
    ASSERT_GT(rowsOnDisk, 0U);
    if (remove) {
      fs::remove_all(folder);
    } else {
      fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    }
    auto messages = Poll(now_ + 2s);
    const auto settled = Settle();
    messages.insert(messages.end(), settled.begin(), settled.end());
    EXPECT_FALSE(recorder_->Recording());
    EXPECT_TRUE(Contains(messages, remove ? "the file was removed" : "the folder was made read-only"));
    EXPECT_TRUE(Contains(messages, remove ? "no rows kept" : std::to_string(rowsOnDisk) + " rows kept"));
    if (!remove) {
      EXPECT_EQ(ReadCsv(folder / "r.csv").size() - 1, rowsOnDisk);
      fs::permissions(folder, fs::perms::owner_all);
    }
  }
}

TEST_F(RecorderTest, UnplugWritesADisconnectionRowAndEndsTheRecording) {
  const fs::path file = dir_ / "unplug.csv";
  ASSERT_TRUE(recorder_->StartRecording(file.string(), SteadyTime(now_)));
  Poll(400ms);
  recorder_->Add(MakeDisconnectedSample(SteadyTime(now_), WallTime(now_)));
  EXPECT_FALSE(recorder_->Recording());
  const auto messages = Settle();
  EXPECT_TRUE(Contains(messages, "Recording stopped: driver disconnected; 11 rows saved in " + file.string()));
  const auto table = ReadCsv(file);
  ASSERT_EQ(table.size(), 12U);
  EXPECT_EQ(table.back()[2], "disconnected");
}

TEST_F(RecorderTest, EachFaultGetsItsOwnCaptureOfTheTenSecondsBeforeAndFiveAfter) {
  Poll(20s);
  auto messages = Poll(21s, 2);
  EXPECT_TRUE(Contains(messages, "Fault \"Over temperature\""));
  Poll(22s);
  Poll(23s, 1);
  messages = Poll(30s);
  const auto settled = Settle();
  messages.insert(messages.end(), settled.begin(), settled.end());

  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir_ / "captures")) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  ASSERT_EQ(files.size(), 2U);
  for (const auto& file : files) {
    EXPECT_TRUE(Contains(messages, "Fault capture saved: " + file.string()));
  }
  const auto first = ReadCsv(files[0]);
  ASSERT_EQ(first.size(), 1U + 10 * 25 + 5 * 25 + 1);  // onset and 5 s after included
  EXPECT_EQ(first[1][1], "-10.000");
  EXPECT_EQ(first.back()[1], "5.000");
  EXPECT_EQ(first[1 + 250][15], "2");  // the fault column at the onset
  EXPECT_EQ(first[250][15], "0");
}

TEST_F(RecorderTest, CaptureFolderThatCannotBeWrittenIsReportedOnceNotRetried) {
  const fs::path blocker = dir_ / "file";
  std::ofstream(blocker) << "x";
  recorder_->SetCaptureFolder((blocker / "captures").string());
  Poll(2s);
  Poll(3s, 1);
  auto messages = Poll(9s);
  const auto settled = Settle();
  messages.insert(messages.end(), settled.begin(), settled.end());
  EXPECT_TRUE(Contains(messages, "Fault capture not saved: cannot write to " + (blocker / "captures").string()));
  EXPECT_EQ(recorder_->Trigger().Pending(), 0U);
  messages = Poll(20s);
  const auto later = Settle();
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(later.empty());
  // Said until a capture is saved again.
  EXPECT_NE(recorder_->CaptureProblem().find("cannot write to " + (blocker / "captures").string()), std::string::npos);
  recorder_->SetCaptureFolder((dir_ / "captures").string());
  Poll(21s, 1);
  Poll(28s);
  const auto saved = Settle();
  EXPECT_TRUE(Contains(saved, "Fault capture saved: "));
  EXPECT_EQ(recorder_->CaptureProblem(), "");
}

TEST_F(RecorderTest, ClosingSavesWhatARecordingAndAWaitingCaptureHave) {
  const fs::path file = dir_ / "closing.csv";
  Poll(1s);
  ASSERT_TRUE(recorder_->StartRecording(file.string(), SteadyTime(now_)));
  Poll(3s);
  Poll(4s, 5);  // a fault 1 s before the end: its capture is still waiting
  recorder_.reset();
  bool ok = false;
  EXPECT_EQ(test::ParseCsv(ReadFile(file), ok).size(), 1U + 75U);
  EXPECT_TRUE(ok);
  std::vector<fs::path> captures;
  for (const auto& entry : fs::directory_iterator(dir_ / "captures")) captures.push_back(entry.path());
  ASSERT_EQ(captures.size(), 1U);
  EXPECT_EQ(ReadCsv(captures[0]).size(), 1U + 75U + 25U);  // the 3 s before (all there is), 1 s after
}

TEST(CaptureFileName, IsLocalTimeWithMilliseconds) {
  test::SetEnv("TZ", "UTC");
  test::ReadZoneAgain();
  FaultCapture capture;
  capture.OnsetWall = WallTime(std::chrono::seconds(1772600767) + 89ms);
  EXPECT_EQ(CaptureFileName(capture), "zrv-fault-20260304-050607-089.csv");
  test::UnsetEnv("TZ");
  test::ReadZoneAgain();
}

}  // namespace
}  // namespace zrv
