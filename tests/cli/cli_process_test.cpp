// The installed shape of zrv-cli: a program that needs no display, and whose exit codes a shell
// script sees.
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

struct Output {
  int code = -1;
  std::string text;
};

// Runs a shell command line with no display in the environment; stdout and stderr together.
Output Shell(const std::string& command) {
  const std::string line = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + command + " 2>&1";
  Output out;
  FILE* pipe = ::popen(line.c_str(), "r");
  if (pipe == nullptr) return out;
  std::array<char, 4096> buffer{};
  while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), pipe) != nullptr) out.text += buffer.data();
  const int status = ::pclose(pipe);
  out.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

const std::string kEmulator = ZRV_CLI_EMULATOR;
const std::string kCli = kEmulator.empty() ? std::string(ZRV_CLI_PATH) : kEmulator + " " + ZRV_CLI_PATH;

// The libraries the program loads, as ldd lists them; under an emulator, the target's own dynamic
// loader (the program's interpreter) lists them the same way.
Output ListLibraries() {
  const std::string program = ZRV_CLI_PATH;
  if (kEmulator.empty()) return Shell("ldd " + program);
  return Shell(kEmulator + " \"$(readelf -l " + program +
               " | sed -n 's/.*interpreter: \\([^]]*\\)]/\\1/p')\" --list " + program);
}

TEST(CliProcess, LinksNoWindowingLibrary) {
  const Output ldd = ListLibraries();
  ASSERT_EQ(ldd.code, 0) << ldd.text;
  EXPECT_NE(ldd.text.find("libQt6Core"), std::string::npos) << ldd.text;
  for (const char* library : {"libQt6Gui", "libQt6Widgets", "libX11", "libxcb", "libGL", "libEGL", "libwayland"}) {
    EXPECT_EQ(ldd.text.find(library), std::string::npos) << library << " in\n" << ldd.text;
  }
}

TEST(CliProcess, StartsWithoutADisplayAndReportsThroughItsExitCode) {
  Output r = Shell(kCli + " status --json --simulate");
  EXPECT_EQ(r.code, 0) << r.text;
  EXPECT_EQ(r.text.rfind("{\"driver_state\":", 0), 0u) << r.text;

  r = Shell(kCli + " --help");
  EXPECT_EQ(r.code, 0);
  for (const char* line : {"0  success", "1  bad usage", "2  no driver", "3  several drivers", "4  no read/write",
                           "5  no answer", "6  the settings read back", "7  the output could not be written"}) {
    EXPECT_NE(r.text.find(line), std::string::npos) << line;
  }
  r = Shell(kCli + " --version");
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.text.find("zrv-cli 1.02 (Qt "), std::string::npos) << r.text;
  EXPECT_EQ(Shell(kCli).code, 1);
  EXPECT_EQ(Shell(kCli + " info --simulate=none").code, 2);
  EXPECT_EQ(Shell(kCli + " info --simulate=two").code, 3);
  EXPECT_EQ(Shell(kCli + " info --simulate=nonsense").code, 1);
}

// The output fails: the script is told, and a watch stops at once instead of polling for ever.
TEST(CliProcess, AnOutputThatCannotBeWrittenEndsWithStatus7AndOneLine) {
  for (const char* command : {" status --simulate", " modbus get --json --simulate",
                              " status --watch --interval 40 --csv --simulate"}) {
    Output r = Shell("sh -c 'timeout 20 " + kCli + command + " 2>&1 > /dev/full'");
    EXPECT_EQ(r.code, 7) << command << "\n" << r.text;
    EXPECT_EQ(r.text, "zrv-cli: cannot write the output: No space left on device; what was written is incomplete\n")
        << command;
  }
  const Output closed = Shell("sh -c '" + kCli + " info --simulate 2>&1 >&-'");
  EXPECT_EQ(closed.code, 7) << closed.text;
  EXPECT_NE(closed.text.find("Bad file descriptor"), std::string::npos) << closed.text;

  // A reader that has seen enough is no failure: quiet, as before.
  const Output head = Shell("timeout 20 " + kCli + " status --watch --interval 10 --simulate | head -n 3");
  EXPECT_EQ(head.code, 0);
  EXPECT_EQ(head.text.find("zrv-cli:"), std::string::npos) << head.text;
}

// A full file system: the settings file saved for a later restore is not left looking whole.
TEST(CliProcess, AFullDiskLeavesNoFileThatLooksComplete) {
  const std::filesystem::path mountPoint =
      std::filesystem::temp_directory_path() / ("zrv-cli-full-" + std::to_string(::getpid()));
  std::filesystem::create_directories(mountPoint);
  if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=16k") != 0) {
    std::filesystem::remove(mountPoint);
    GTEST_SKIP() << "cannot mount a tmpfs here; the short write is simulated in CliOutputSink";
  }
  {
    std::ofstream fill(mountPoint / "fill", std::ios::binary);
    const std::string block(4096, 'x');
    while (fill.write(block.data(), static_cast<std::streamsize>(block.size())) && fill.flush()) {
    }
  }
  const std::string json = (mountPoint / "settings.json").string();
  const Output get = Shell(kCli + " modbus get --json --simulate > " + json);
  EXPECT_EQ(get.code, 7) << get.text;
  EXPECT_EQ(std::filesystem::file_size(json), 0u);
  const std::string csv = (mountPoint / "run.csv").string();
  const Output watch = Shell("timeout 20 " + kCli + " status --watch --interval 10 --csv --simulate > " + csv);
  EXPECT_EQ(watch.code, 7) << watch.text;
  std::string text;
  if (FILE* f = std::fopen(csv.c_str(), "rb")) {
    for (int c; (c = std::fgetc(f)) != EOF;) text.push_back(static_cast<char>(c));
    std::fclose(f);
  }
  EXPECT_TRUE(text.empty() || text.back() == '\n') << "no row cut in half";
  ::umount(mountPoint.c_str());
  std::filesystem::remove(mountPoint);
}

// A FIFO for --from: refused at once, not a program waiting for a writer that never comes.
TEST(CliProcess, SettingsFromAFifoAreRefusedWithoutBlocking) {
  const std::string fifo =
      (std::filesystem::temp_directory_path() / ("zrv-cli-fifo-" + std::to_string(::getpid()))).string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const Output r = Shell("timeout 10 " + kCli + " modbus set --from " + fifo + " --simulate");
  EXPECT_EQ(r.code, 1) << r.text;
  EXPECT_NE(r.text.find("is a FIFO (named pipe), not a regular file; nothing was sent"), std::string::npos) << r.text;
  std::filesystem::remove(fifo);

  const Output escaped = Shell(kCli + " \"$(printf '%s\\033[31m' --bad)\"");
  EXPECT_EQ(escaped.code, 1);
  EXPECT_NE(escaped.text.find("unknown option --bad\\x1b[31m"), std::string::npos) << escaped.text;
}

}  // namespace
