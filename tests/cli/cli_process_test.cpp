// The installed shape of zrv-cli: a program that needs no display, and whose exit codes a shell
// script sees.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
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
                           "5  no answer", "6  the settings read back"}) {
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

}  // namespace
