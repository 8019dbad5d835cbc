// What the guest scenarios share: a registry, checks that collect failures, the virtual driver as
// a child process, and waiting for devices to appear in the kernel and in udev.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "link/platform/hid_platform.h"

namespace zrv::vmtest {

// Collects the failures of one scenario; a scenario passes when it collected none.
class Checks {
 public:
  bool That(bool condition, const std::string& what) {
    if (!condition) failures_.push_back(what);
    return condition;
  }
  template <typename A, typename B>
  bool Equal(const A& actual, const B& expected, const std::string& what) {
    if (actual == expected) return true;
    std::ostringstream text;
    text << what << ": got ";
    Print(text, actual);
    text << ", expected ";
    Print(text, expected);
    failures_.push_back(text.str());
    return false;
  }
  const std::vector<std::string>& Failures() const { return failures_; }

 private:
  template <typename T>
  static void Print(std::ostringstream& out, const T& value) {
    if constexpr (std::is_integral_v<T>) {
      out << +value;
    } else {
      out << value;
    }
  }
  std::vector<std::string> failures_;
};

using ScenarioFn = std::function<void(Checks&)>;
struct Scenario {
  std::string Name;
  std::string Title;
  ScenarioFn Run;
  bool Internal = false;  // run only when named: halves of other scenarios, known failures
};
std::vector<Scenario>& Scenarios();
struct ScenarioRegistrar {
  ScenarioRegistrar(std::string name, std::string title, ScenarioFn run, bool internal = false);
};

// The virtual driver as a child process; ended with SIGTERM (its clean UHID_DESTROY) on
// destruction.
class DriverProcess {
 public:
  explicit DriverProcess(const std::vector<std::string>& args);
  ~DriverProcess();
  DriverProcess(const DriverProcess&) = delete;
  DriverProcess& operator=(const DriverProcess&) = delete;
  bool Running() const { return pid_ > 0; }
  void Signal(int signal) const;
  // Ends it; returns its exit status (-1 when it had to be killed or never ran).
  int Stop();

 private:
  pid_t pid_ = -1;
};

// Runs this program again as another user with the given scenario; returns its exit status.
int RunAsUser(std::uint32_t uid, const std::string& scenario);
// Runs a program (argv[0] found next to this one or on PATH) as the same user and waits at most
// `rounds` naps of 10 ms; returns its exit status (-1 when it had to be killed or did not start).
int RunProgram(std::vector<std::string> argv, int rounds);

// The path of a program next to this one.
std::string SiblingProgram(const std::string& name);

std::string Narrow(const std::u16string& text);
std::string ProductStringOf(IHidPlatform& platform, const std::string& path);

// Polls the platform's enumeration until an interface with this product string is listed.
std::optional<HidInterfaceInfo> WaitForProduct(IHidPlatform& platform, const std::string& product,
                                               int rounds = 1000);
// Waits until udev has handled the node (its database entry exists), so rules and permissions
// have been applied and the "udev" monitor has announced it.
bool WaitForUdev(const std::string& nodePath, int rounds = 1000);

// Reads one report through the platform, waiting at most `slices` slices of 100 ms.
// Returns the byte count, or -1 when nothing came.
int ReadReport(IHidPlatform& platform, HidHandle handle, std::uint8_t* buffer, std::size_t length,
               int slices = 50);

std::string Hex(const std::uint8_t* bytes, std::size_t length);

struct CliRun {
  int status = -1;
  std::string output;  // stdout only
};
// Runs zrv-cli (next to this program) with these arguments and a generous --timeout for each
// answer over USB, as emulated CPUs are slow; its standard error is kept for CliErrorText().
CliRun RunCli(const std::string& args);
std::string CliErrorText();

void NapMs(int ms);

}  // namespace zrv::vmtest
