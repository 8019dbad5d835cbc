#include "guest_support.h"

#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

namespace zrv::vmtest {

std::vector<Scenario>& Scenarios() {
  static std::vector<Scenario> all;
  return all;
}

ScenarioRegistrar::ScenarioRegistrar(std::string name, std::string title, ScenarioFn run, bool internal) {
  Scenarios().push_back(Scenario{std::move(name), std::move(title), std::move(run), internal});
}

void NapMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string SiblingProgram(const std::string& name) {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const auto sibling = self.parent_path() / name;
    if (std::filesystem::exists(sibling)) return sibling.string();
  }
  return name;  // found through PATH
}

namespace {

pid_t Spawn(const std::vector<std::string>& argv, std::uint32_t uid, bool asUser) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (asUser) {
      // Drop root before anything else runs: groups first, then the group, then the user.
      if (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0) _exit(126);
    }
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

int WaitExit(pid_t pid, int rounds) {
  for (int i = 0; i < rounds; ++i) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0) return -1;
    NapMs(10);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

}  // namespace

DriverProcess::DriverProcess(const std::vector<std::string>& args) {
  std::vector<std::string> argv{SiblingProgram("zrv-uhid-driver")};
  argv.insert(argv.end(), args.begin(), args.end());
  pid_ = Spawn(argv, 0, false);
}

DriverProcess::~DriverProcess() { Stop(); }

void DriverProcess::Signal(int signal) const {
  if (pid_ > 0) kill(pid_, signal);
}

int DriverProcess::Stop() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  const int status = WaitExit(pid_, 500);
  pid_ = -1;
  return status;
}

int RunAsUser(std::uint32_t uid, const std::string& scenario) {
  const pid_t pid = Spawn({SiblingProgram("zrv-vm-guest"), "--child", scenario}, uid, true);
  if (pid < 0) return -1;
  return WaitExit(pid, 6000);
}

int RunProgram(std::vector<std::string> argv, int rounds) {
  if (argv.empty()) return -1;
  argv.front() = SiblingProgram(argv.front());
  const pid_t pid = Spawn(argv, 0, false);
  if (pid < 0) return -1;
  return WaitExit(pid, rounds);
}

std::string Narrow(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

std::string ProductStringOf(IHidPlatform& platform, const std::string& path) {
  const HidHandle h = platform.Open(path, HidOpenMode::Identify);
  if (h == kInvalidHidHandle) return {};
  char16_t buffer[254] = {};
  std::u16string product;
  if (platform.GetProductString(h, buffer, sizeof buffer)) product = buffer;
  platform.Close(h);
  return Narrow(product);
}

std::optional<HidInterfaceInfo> WaitForProduct(IHidPlatform& platform, const std::string& product,
                                               int rounds) {
  for (int i = 0; i < rounds; ++i) {
    std::vector<HidInterfaceInfo> interfaces;
    if (platform.EnumerateInterfaces(interfaces)) {
      for (const HidInterfaceInfo& info : interfaces) {
        if (ProductStringOf(platform, info.Path) == product) return info;
      }
    }
    NapMs(10);
  }
  return std::nullopt;
}

bool WaitForUdev(const std::string& nodePath, int rounds) {
  for (int i = 0; i < rounds; ++i) {
    struct stat st {};
    if (stat(nodePath.c_str(), &st) == 0) {
      char entry[64];
      std::snprintf(entry, sizeof entry, "/run/udev/data/c%u:%u", major(st.st_rdev), minor(st.st_rdev));
      if (access(entry, F_OK) == 0) return true;
    }
    NapMs(10);
  }
  return false;
}

int ReadReport(IHidPlatform& platform, HidHandle handle, std::uint8_t* buffer, std::size_t length,
               int slices) {
  std::uint32_t error = 0;
  if (!platform.StartRead(handle, buffer, length, error)) return -1;
  for (int i = 0; i < slices; ++i) {
    if (platform.WaitRead(handle, 100) == HidWaitResult::Completed) {
      std::uint32_t bytes = 0;
      if (!platform.GetReadResult(handle, bytes)) return -1;
      return static_cast<int>(bytes);
    }
  }
  platform.CancelRead(handle);
  return -1;
}

namespace {
// One per user: a file root made is not writable for uid 1000.
std::string CliErrorFile() { return "/tmp/zrv-cli-" + std::to_string(geteuid()) + ".err"; }
}  // namespace

CliRun RunCli(const std::string& args) {
  CliRun run;
  const std::string line = SiblingProgram("zrv-cli") + " " + args + " --timeout 10000 2>" + CliErrorFile();
  FILE* pipe = ::popen(line.c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 4096> buffer{};
  while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), pipe) != nullptr) run.output += buffer.data();
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string CliErrorText() {
  std::ifstream in(CliErrorFile());
  std::string text;
  for (std::string line; std::getline(in, line);) text += line + " ";
  return text;
}

std::string Hex(const std::uint8_t* bytes, std::size_t length) {
  std::string out;
  char two[3];
  for (std::size_t i = 0; i < length; ++i) {
    std::snprintf(two, sizeof two, "%02x", bytes[i]);
    out += two;
  }
  return out;
}

}  // namespace zrv::vmtest
