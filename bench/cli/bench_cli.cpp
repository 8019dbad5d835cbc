// zrv-cli as a script sees it: the whole process of a one-shot status, start to exit, and the CPU
// that watching the status at 25 Hz costs. Runs the built program on the simulated driver.
//
// Environment: ZRV_BENCH_CLI_RUNS (one-shot runs, default 20), ZRV_BENCH_CLI_SECONDS (length of
// the watch, default 20).
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

const char* const kCli = ZRV_CLI_PATH;

int EnvInt(const char* name, int fallback) {
  const char* value = std::getenv(name);
  const int n = value != nullptr ? std::atoi(value) : 0;
  return n > 0 ? n : fallback;
}

pid_t Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(kCli));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, kCli, &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// CPU time of every thread of a process so far, in nanoseconds (the scheduler's own account).
long long ProcessCpuNs(pid_t pid) {
  const std::string dir = "/proc/" + std::to_string(pid) + "/task";
  DIR* tasks = opendir(dir.c_str());
  if (tasks == nullptr) return -1;
  long long total = 0;
  while (const dirent* entry = readdir(tasks)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream in(dir + "/" + entry->d_name + "/schedstat");
    long long onCpu = 0;
    if (in >> onCpu) total += onCpu;
  }
  closedir(tasks);
  return total;
}

}  // namespace

int main() {
  const int runs = EnvInt("ZRV_BENCH_CLI_RUNS", 20);
  std::vector<double> wallMs;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = Spawn({"status", "--json", "--simulate"});
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "zrv-cli status --json --simulate failed\n");
      return 1;
    }
    wallMs.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(wallMs.begin(), wallMs.end());
  const double median = runs % 2 == 1 ? wallMs[static_cast<std::size_t>(runs / 2)]
                                      : (wallMs[static_cast<std::size_t>(runs / 2 - 1)] +
                                         wallMs[static_cast<std::size_t>(runs / 2)]) / 2;
  std::printf("zrv-cli status --json --simulate, whole process start to exit: median %.1f ms (min %.1f, max %.1f, %d runs; target under 50 ms)\n",
              median, wallMs.front(), wallMs.back(), runs);

  const int seconds = EnvInt("ZRV_BENCH_CLI_SECONDS", 20);
  const pid_t watch = Spawn({"status", "--watch", "--interval", "40", "--json", "--simulate"});
  if (watch < 0) return 1;
  // Start-up is not part of the steady cost: measure from one second in.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const long long cpu0 = ProcessCpuNs(watch);
  const auto t0 = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const long long cpu1 = ProcessCpuNs(watch);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  kill(watch, SIGTERM);
  int status = 0;
  waitpid(watch, &status, 0);
  if (cpu0 < 0 || cpu1 < 0) {
    std::fprintf(stderr, "the watching zrv-cli ended early\n");
    return 1;
  }
  const double cpuSeconds = static_cast<double>(cpu1 - cpu0) / 1e9;
  std::printf("zrv-cli status --watch --interval 40 --json --simulate, CPU while polling at 25 Hz: %.3f %% of one core (%.3f CPU s over %.1f s; target under 0.3 %%)\n",
              100.0 * cpuSeconds / wall, cpuSeconds, wall);
  return 0;
}
