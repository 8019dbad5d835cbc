// The recorder's files where the operator or another program gets in the way: a FIFO or folder
// chosen as the file, two recordings on one file, a folder read-only from the start, and samples
// that stop while the driver stays connected.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <sstream>

#include "csv_reader.h"
#include "record/recorder.h"
#include "support/portable_env.h"

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

bool Contains(const std::vector<std::string>& messages, std::string_view part) {
  for (const auto& m : messages) {
    if (m.find(part) != std::string::npos) return true;
  }
  return false;
}

std::string All(const std::vector<std::string>& messages) {
  std::string text;
  for (const auto& m : messages) text += m + "\n";
  return text;
}

class RecorderFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::MakeScratchFolder("zrv-recorder-files");
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override {
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(dir_, ignored)) {
      if (entry.is_directory()) fs::permissions(entry.path(), fs::perms::owner_all, ignored);
    }
    fs::permissions(dir_, fs::perms::owner_all, ignored);
    fs::remove_all(dir_, ignored);
  }

  // Readings every 40 ms from `from` to `until` into each recorder, one tick after each.
  static std::vector<std::string> Poll(std::initializer_list<Recorder*> recorders, std::chrono::milliseconds& now,
                                       std::chrono::milliseconds until) {
    std::vector<std::string> messages;
    for (; now < until; now += 40ms) {
      LiveStatus status{};
      status.PowerSupply = static_cast<std::uint32_t>(now.count());
      for (Recorder* r : recorders) {
        r->Add(MakeSample(status, DriverLimits{30000, 90, 1000, 10000}, SteadyTime(now), WallTime(now)));
        r->Tick(SteadyTime(now), messages);
      }
    }
    return messages;
  }
  static std::vector<std::string> Settle(Recorder& r, std::chrono::milliseconds now) {
    r.Writer().WaitIdle();
    std::vector<std::string> messages;
    r.Tick(SteadyTime(now), messages);
    return messages;
  }

  fs::path dir_;
};

#ifndef _WIN32
TEST_F(RecorderFiles, AFifoOrAFolderIsRefusedAndNothingWaitsOnIt) {
  const fs::path fifo = dir_ / "fifo.csv";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const fs::path& target : {fifo, dir_}) {
    Recorder recorder((dir_ / "captures").string(), 256);
    std::chrono::milliseconds now{0};
    ASSERT_TRUE(recorder.StartRecording(target.string(), SteadyTime(now)));
    // No reader ever opens the FIFO: a blocking open would hang here.
    auto messages = Poll({&recorder}, now, 1s);
    const auto settled = Settle(recorder, now);
    messages.insert(messages.end(), settled.begin(), settled.end());
    EXPECT_FALSE(recorder.Recording()) << "no rows counted for a file that takes none";
    const std::string kind = target == fifo ? "a FIFO (named pipe)" : "a folder";
    EXPECT_TRUE(Contains(messages, "Recording not started: " + target.string() + ": it is " + kind +
                                       ", not a regular file; choose another file"))
        << All(messages);
    EXPECT_FALSE(Contains(messages, "rows kept"));
  }
  EXPECT_TRUE(fs::is_fifo(fifo));
}
#endif

TEST_F(RecorderFiles, ASecondRecordingOnTheSameFileIsRefusedAndTheFirstStaysWhole) {
  const fs::path file = dir_ / "shared.csv";
  Recorder first((dir_ / "captures").string(), 256);
  Recorder second((dir_ / "captures").string(), 256);
  std::chrono::milliseconds now{0};
  ASSERT_TRUE(first.StartRecording(file.string(), SteadyTime(now)));
  Poll({&first}, now, 2s);
  first.Writer().WaitIdle();
  // The operator answered "replace" in the second window's dialog.
  ASSERT_TRUE(second.StartRecording(file.string(), SteadyTime(now)));
  auto messages = Poll({&first, &second}, now, 4s);
  const auto settled = Settle(second, now);
  messages.insert(messages.end(), settled.begin(), settled.end());
  EXPECT_FALSE(second.Recording());
  EXPECT_TRUE(Contains(messages, "Recording not started: " + file.string() +
                                     ": another recording is writing to this file"))
      << All(messages);

  first.StopRecording();
  const auto done = Settle(first, now);
  const std::string text = ReadFile(file);
  EXPECT_EQ(text.find('\0'), std::string::npos) << "nothing written over";
  bool ok = false;
  const auto table = test::ParseCsv(text, ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(table.size() - 1, first.RecordedRows());
  EXPECT_TRUE(Contains(done, "Recording saved: " + file.string() + " (" + std::to_string(table.size() - 1) + " rows)"))
      << All(done);

  // Free again once the first has closed it.
  ASSERT_TRUE(second.StartRecording(file.string(), SteadyTime(now)));
  Poll({&second}, now, 5s);
  second.StopRecording();
  EXPECT_TRUE(Contains(Settle(second, now), "Recording saved: " + file.string()));
}

#ifndef _WIN32
// A real full file system (a small tmpfs, where the test may mount one).
TEST_F(RecorderFiles, AFullFileSystemStopsTheRecordingWithTheRowsOnDiskCounted) {
  const fs::path mountPoint = dir_ / "small";
  fs::create_directory(mountPoint);
  if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here; DiskFillingUpMidway simulates it";
  }
  const fs::path file = mountPoint / "run.csv";
  std::vector<std::string> messages;
  std::uint64_t rows = 0;
  {
    Recorder recorder((dir_ / "captures").string(), 256);
    std::chrono::milliseconds now{0};
    ASSERT_TRUE(recorder.StartRecording(file.string(), SteadyTime(now)));
    messages = Poll({&recorder}, now, 60s);
    const auto settled = Settle(recorder, now);
    messages.insert(messages.end(), settled.begin(), settled.end());
    EXPECT_FALSE(recorder.Recording());
    rows = recorder.RecordedRows();
  }
  bool ok = false;
  const auto table = test::ParseCsv(ReadFile(file), ok);
  EXPECT_TRUE(ok) << "no row cut in half";
  ASSERT_GT(table.size(), 1U);
  EXPECT_LT(table.size() - 1, rows);
  EXPECT_TRUE(Contains(messages, "Recording stopped: run.csv: No space left on device; " +
                                     std::to_string(table.size() - 1) + " rows kept in " + file.string() +
                                     "; free space or choose another folder"))
      << All(messages);
  ::umount(mountPoint.c_str());
}

TEST_F(RecorderFiles, AFolderReadOnlyFromTheStartIsNoChangeToReport) {
  const fs::path folder = dir_ / "readonly";
  fs::create_directory(folder);
  std::ofstream(folder / "r.csv") << "old\n";
  fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
  Recorder recorder((dir_ / "captures").string(), 256);
  std::chrono::milliseconds now{0};
  ASSERT_TRUE(recorder.StartRecording((folder / "r.csv").string(), SteadyTime(now)));
  auto messages = Poll({&recorder}, now, 3s);
  EXPECT_TRUE(recorder.Recording()) << All(messages);
  EXPECT_FALSE(Contains(messages, "made read-only")) << All(messages);
  recorder.StopRecording();
  messages = Settle(recorder, now);
  EXPECT_TRUE(Contains(messages, "Recording saved: ")) << All(messages);
  bool ok = false;
  EXPECT_EQ(test::ParseCsv(ReadFile(folder / "r.csv"), ok).size(), 1U + 75U);
}
#endif

TEST_F(RecorderFiles, SamplesThatStopWhileConnectedAreWrittenDownOnce) {
  const fs::path file = dir_ / "gap.csv";
  Recorder recorder((dir_ / "captures").string(), 256);
  std::chrono::milliseconds now{0};
  ASSERT_TRUE(recorder.StartRecording(file.string(), SteadyTime(now)));
  Poll({&recorder}, now, 1s);
  // The Modbus page is shown: the window says so on every poll it does not make.
  for (int i = 0; i < 10; ++i) recorder.SamplesStopped(GapReason::ModbusPage, SteadyTime(now), WallTime(now));
  now += 5s;
  Poll({&recorder}, now, now + 1s);
  recorder.SamplesStopped(GapReason::NoAnswer, SteadyTime(now), WallTime(now));
  now += 2s;
  Poll({&recorder}, now, now + 200ms);
  EXPECT_TRUE(recorder.Recording()) << "a gap is no disconnection";
  recorder.StopRecording();
  Settle(recorder, now);

  bool ok = false;
  const auto table = test::ParseCsv(ReadFile(file), ok);
  ASSERT_TRUE(ok);
  std::vector<std::string> events;
  for (std::size_t i = 1; i < table.size(); ++i) {
    if (!table[i][2].empty()) events.push_back(table[i][2]);
  }
  EXPECT_EQ(events, (std::vector<std::string>{"no samples: RS485 Modbus page shown",
                                              "no samples: no answer from the driver"}));
  EXPECT_EQ(table.size() - 1, recorder.RecordedRows());
  // The chart breaks its lines at the marker.
  std::size_t markers = 0;
  for (std::size_t i = 0; i < recorder.Ring().Size(); ++i) markers += recorder.Ring()[i].IsReading() ? 0U : 1U;
  EXPECT_EQ(markers, 2U);
}

}  // namespace
}  // namespace zrv
