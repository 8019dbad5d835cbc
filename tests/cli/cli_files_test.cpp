// zrv-cli's files under conditions a user meets: an output that fails part-way, and settings
// files that are not what they claim to be.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <cstdio>
#include <string>

#include "cli_options.h"
#include "cli_output.h"
#include "output_sink.h"
#include "settings_file.h"

namespace zrv::cli {
namespace {

std::filesystem::path TestPath(const std::string& what) {
  return std::filesystem::temp_directory_path() /
         ("zrv-cli-files-" + std::to_string(QCoreApplication::applicationPid()) + "-" +
          ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-" + what);
}

std::string Contents(const std::filesystem::path& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
    std::fclose(f);
  }
  return text;
}

TEST(CliOutputSink, AShortWriteThenAFullDiskLeavesOnlyWholeWritesInTheFile) {
  const auto path = TestPath("out.csv");
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  // The disk takes 30 bytes more, handed out a few at a time, then is full.
  long long room = 30;
  int calls = 0;
  FdSink sink(fd, [&](int f, const char* data, std::size_t size) -> long long {
    ++calls;
    if (room == 0) {
      errno = ENOSPC;
      return -1;
    }
    const long long n = std::min<long long>({static_cast<long long>(size), room, 7});
    room -= n;
    return ::write(f, data, static_cast<std::size_t>(n));
  });
  EXPECT_TRUE(sink.Write("header\n"));
  EXPECT_TRUE(sink.Write("row 1\n"));
  EXPECT_FALSE(sink.Write("row 2 is longer than the room that is left\n"));
  EXPECT_TRUE(sink.Failed());
  EXPECT_FALSE(sink.ReaderGone());
  EXPECT_EQ(sink.Error(), std::strerror(ENOSPC));
  const int before = calls;
  EXPECT_FALSE(sink.Write("row 3\n")) << "nothing more after a failure";
  EXPECT_EQ(calls, before);
  EXPECT_FALSE(sink.Finish());
  EXPECT_EQ(Contents(path), "header\nrow 1\n") << "the cut row is gone";
  std::filesystem::remove(path);
}

TEST(CliOutputSink, AReaderThatLeftIsNoErrorAndAFullDeviceIs) {
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  ::close(pipeFds[0]);
  FdSink pipeSink(pipeFds[1], [](int f, const char* data, std::size_t size) -> long long {
    // EPIPE as a process that ignores SIGPIPE sees it.
    static_cast<void>(f);
    static_cast<void>(data);
    static_cast<void>(size);
    errno = EPIPE;
    return -1;
  });
  EXPECT_FALSE(pipeSink.Write("x\n"));
  EXPECT_TRUE(pipeSink.ReaderGone());
  ::close(pipeFds[1]);

  const int full = ::open("/dev/full", O_WRONLY);
  if (full < 0) GTEST_SKIP() << "no /dev/full";
  FdSink fullSink(full);
  EXPECT_FALSE(fullSink.Write("{\"baud\":9600}\n"));
  EXPECT_FALSE(fullSink.ReaderGone());
  EXPECT_EQ(fullSink.Error(), std::strerror(ENOSPC));
  ::close(full);
}

TEST(CliSettingsFile, OnlyARegularFileIsReadAndNothingBlocks) {
  ModbusChoice choice;
  std::string error;
  const auto fifo = TestPath("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // No writer ever opens it: reading would block for ever.
  EXPECT_FALSE(ReadSettingsFile(fifo.string(), choice, error));
  EXPECT_NE(error.find("is a FIFO (named pipe), not a regular file"), std::string::npos) << error;
  std::filesystem::remove(fifo);

  EXPECT_FALSE(ReadSettingsFile(std::filesystem::temp_directory_path().string(), choice, error));
  EXPECT_NE(error.find("is a folder, not a regular file"), std::string::npos) << error;
  EXPECT_FALSE(ReadSettingsFile("/dev/null", choice, error));
  EXPECT_NE(error.find("is a device, not a regular file"), std::string::npos) << error;
  EXPECT_FALSE(ReadSettingsFile("/nonexistent/settings.json", choice, error));
  EXPECT_NE(error.find(std::strerror(ENOENT)), std::string::npos) << error;
  EXPECT_FALSE(choice.Baud) << "nothing was taken from any of them";
}

TEST(CliSettingsFile, EachErrorNamesTheKeyAndARepeatedKeyIsRefused) {
  const auto path = TestPath("settings.json");
  auto read = [&](const std::string& text, std::string& error) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    ModbusChoice choice;
    return ReadSettingsFile(path.string(), choice, error);
  };
  std::string error;
  EXPECT_TRUE(read(R"({"baud":9600,"parity":"even","slave_id":3,"note":{"baud":1}})", error)) << error;
  struct Case {
    const char* text;
    const char* message;
  };
  for (const Case& c : {
           Case{R"({"baud":9600,"parity":"none","slave_id":3,"baud":19200})", "\"baud\" is given twice"},
           Case{R"({"slave_id":3,"\u0073lave_id":4,"baud":9600,"parity":"none"})", "\"slave_id\" is given twice"},
           Case{R"({"baud":9600,"slave_id":3})", "has no \"parity\""},
           Case{R"({"baud":9601,"parity":"none","slave_id":3})", "\"baud\" in the settings file: "},
           Case{R"({"baud":9600,"parity":"none","slave_id":300})", "\"slave_id\" in the settings file: "},
           Case{R"({"baud":9600,"parity":"mark","slave_id":3})", "\"parity\" in the settings file: "},
       }) {
    EXPECT_FALSE(read(c.text, error)) << c.text;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.text << "\n" << error;
  }
  ::chmod(path.c_str(), 0);
  if (::geteuid() != 0) {
    ModbusChoice choice;
    EXPECT_FALSE(ReadSettingsFile(path.string(), choice, error));
    EXPECT_NE(error.find(std::strerror(EACCES)), std::string::npos) << error;
  }
  std::filesystem::remove(path);
}

TEST(CliShownText, ControlCharactersReachNoTerminal) {
  EXPECT_EQ(ShownText("--bad\x1b[31mred\n\x7f"), "--bad\\x1b[31mred\\x0a\\x7f");
  EXPECT_EQ(ShownText("a\xc2\x9b" "31m"), "a\\u009b31m") << "C1 CSI in UTF-8";
  EXPECT_EQ(ShownText("Zażółć /dev/hidraw0"), "Zażółć /dev/hidraw0");
}

}  // namespace
}  // namespace zrv::cli
