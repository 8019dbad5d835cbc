// Figures of the recorder that are not a time per call: the memory of the sample ring, and the CPU
// that recording to a file adds at 25 rows a second (rows, flushes once a second, the file
// thread's writes and syncs), measured over ten minutes of samples fed as fast as they go.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "record/recorder.h"

namespace {

using namespace std::chrono_literals;
using zrv::SteadyTime;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Ten minutes at 25 samples a second, one tick after each; CPU seconds used, file thread included.
double Run(bool record, const std::string& path) {
  zrv::Recorder recorder("/nonexistent");
  const zrv::DriverLimits limits{30000, 90, 1000, 10000};
  std::vector<std::string> messages;
  messages.reserve(16);
  auto t = SteadyTime(1h);
  const double before = CpuSeconds();
  if (record) recorder.StartRecording(path, t);
  for (int i = 0; i < 600 * 25; ++i) {
    t += 40ms;
    zrv::LiveStatus status{};
    status.PowerSupply = 24000 + static_cast<std::uint32_t>(i % 97);
    status.CurAct = i % 3000;
    status.Potentiometer = static_cast<std::uint16_t>(i % 3300);
    recorder.Add(zrv::MakeSample(status, limits, t, zrv::WallTime(std::chrono::seconds(1'800'000'000) + (t - SteadyTime(1h)))));
    messages.clear();
    recorder.Tick(t, messages);
  }
  recorder.StopRecording();
  recorder.Writer().WaitIdle();
  return CpuSeconds() - before;
}

}  // namespace

int main() {
  const std::size_t ringBytes = zrv::SampleRing::kDefaultCapacity * sizeof(zrv::Sample);
  std::printf("Sample ring memory: %.2f MB (%zu samples of %zu bytes, %.1f min at 25 per second)\n",
              static_cast<double>(ringBytes) / (1024.0 * 1024.0), zrv::SampleRing::kDefaultCapacity,
              sizeof(zrv::Sample), static_cast<double>(zrv::SampleRing::kDefaultCapacity) / 25.0 / 60.0);

  const char* tmp = std::getenv("TMPDIR");
  const std::string path = std::string(tmp != nullptr ? tmp : "/tmp") + "/zrv-bench-recording-" +
                           std::to_string(getpid()) + ".csv";
  // Best of three of each, alternating, so other load on the machine counts as little as it can.
  double bare = 1e9;
  double recording = 1e9;
  for (int round = 0; round < 3; ++round) {
    bare = std::min(bare, Run(false, path));
    recording = std::min(recording, Run(true, path));
  }
  std::remove(path.c_str());
  const double added = (recording - bare) / 600.0 * 100.0;
  std::printf("CPU added by recording at 25 rows per second: %.4f %% of one core (%.3f CPU s per 10 min of rows)\n",
              added, recording - bare);
  return 0;
}
