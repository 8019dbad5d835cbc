// Input throughput of our whole receive path against Debian's hidapi, on the same kernel node.
// Each measurement gets a fresh virtual driver flooding the same number of status reports with
// running sequence numbers; one side reads them:
//   ours:     LinuxHidPlatform + the device's reader thread + the hand-off to this (the UI) thread
//             into a handler that decodes every report as the window does;
//   hidapi:   hid_open_path on the node and a hid_read_timeout loop on this thread, nothing more;
//   platform: our reader's loop on LinuxHidPlatform without the hand-off, which splits the
//             difference between the two into the platform layer and the hand-off.
// hidraw keeps at most 64 reports per open file and drops the rest, so no side can receive more
// than it drains: each rate is the reports that side actually received divided by the time from
// its first to its last report. The order of the sides rotates from round to round. Each side
// also gives this process's CPU time per report received, which does not depend on how the one
// CPU was shared with the driver.
// Prints figures; checks only that every side received ordered reports and that ours decoded
// each one. Run by name (ZRV_VM_SCENARIOS=flood-compare).
#include <hidapi.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "guest_support.h"
#include "link/hid_device.h"
#include "link/hid_device_controller.h"
#include "link/platform/linux/linux_hid_platform.h"
#include "protocol/reply_decoder.h"

namespace zrv::vmtest {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kFloodReports = 40000;
constexpr int kRounds = 9;
constexpr std::size_t kReportBytes = 64;  // report ID included
constexpr int kIdleMs = 1000;             // this long without a report ends a reading

// This process's CPU time and context switches so far, every thread included.
struct Usage {
  double CpuSeconds = 0;
  long Voluntary = 0;    // a thread blocked
  long Involuntary = 0;  // a thread was preempted
};

Usage CurrentUsage() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  Usage u;
  u.CpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  u.Voluntary = usage.ru_nvcsw;
  u.Involuntary = usage.ru_nivcsw;
  return u;
}

// What one side received of one flood. `report` is the whole report, report ID first.
struct FloodTally {
  std::uint32_t Received = 0;
  Usage AtFirst;
  Usage AtEnd;  // set by the side once its reading is over
  std::int64_t FirstSequence = -1;
  std::int64_t LastSequence = -1;
  bool Ordered = true;
  Clock::time_point First{};
  Clock::time_point Last{};

  // Returns the report's sequence number.
  std::uint32_t Take(const std::uint8_t* report) {
    std::uint32_t sequence = 0;
    std::memcpy(&sequence, report + kReportBytes - sizeof sequence, sizeof sequence);
    const Clock::time_point now = Clock::now();
    if (Received == 0) {
      AtFirst = CurrentUsage();
      First = now;
      FirstSequence = sequence;
    } else if (static_cast<std::int64_t>(sequence) <= LastSequence) {
      Ordered = false;
    }
    Last = now;
    LastSequence = sequence;
    ++Received;
    return sequence;
  }
  double Ms() const { return std::chrono::duration<double, std::milli>(Last - First).count(); }
  // Reports per second of reading; the first report starts the clock, so it is not counted.
  double PerSecond() const { return Received > 1 && Ms() > 0 ? (Received - 1) * 1000.0 / Ms() : 0.0; }
  // Microseconds of this process's CPU per report after the first, until the reading ended.
  double CpuUsPerReport() const {
    return Received > 1 ? (AtEnd.CpuSeconds - AtFirst.CpuSeconds) * 1e6 / (Received - 1) : 0.0;
  }
  // Context switches of this process per report after the first.
  double VoluntaryPerReport() const {
    return Received > 1 ? static_cast<double>(AtEnd.Voluntary - AtFirst.Voluntary) / (Received - 1) : 0.0;
  }
  double InvoluntaryPerReport() const {
    return Received > 1 ? static_cast<double>(AtEnd.Involuntary - AtFirst.Involuntary) / (Received - 1) : 0.0;
  }
  // Sent between this side's first and last report but never received (dropped by a full queue).
  std::int64_t Lost() const {
    return Received == 0 ? 0 : LastSequence - FirstSequence + 1 - static_cast<std::int64_t>(Received);
  }
};

// Our side: claims the driver as the tool does and reads until the flood is over.
class OurSide {
 public:
  explicit OurSide(IHidPlatform& platform) : controller_(platform) {
    controller_.SetLoading(true);
    controller_.SetOnEnumerate(THidEnumerateEvent(this, &OurSide::OnEnumerate));
    controller_.SetOnDeviceChange(TNotifyEvent(this, &OurSide::OnDeviceChange));
    controller_.SetLoading(false);
  }
  ~OurSide() {
    device_.reset();  // stops the reader, hands the device back
    controller_.SetOnDeviceChange(nullptr);
  }
  OurSide(const OurSide&) = delete;
  OurSide& operator=(const OurSide&) = delete;

  // Runs this thread's event loop until the last flood report came or nothing came for a while.
  void Read() {
    QTimer idle;
    std::uint32_t seen = 0;
    int quietTicks = 0;
    QObject::connect(&idle, &QTimer::timeout, [&] {
      if (tally_.Received != seen) {
        seen = tally_.Received;
        quietTicks = 0;
        return;
      }
      // Before the first report the connection itself may still be under way.
      const int allowed = tally_.Received == 0 ? 10 * kIdleMs / 100 : kIdleMs / 100;
      if (++quietTicks >= allowed) loop_.quit();
    });
    idle.start(100);
    if (!done_) loop_.exec();
    tally_.AtEnd = CurrentUsage();
    idle.stop();
    if (device_ && device_->Reader()) wakeUps_ = device_->Reader()->HandOffs();
    device_.reset();
  }

  const FloodTally& Tally() const { return tally_; }
  std::uint32_t Decoded() const { return decoded_; }
  // Times the reader woke this thread: the reports after each came in the same wake-up.
  std::uint64_t WakeUps() const { return wakeUps_; }
  bool Connected() const { return connected_; }

 private:
  void OnDeviceChange(QObject*) {
    // Only the first notice matters: a later one must not restart the reader mid-flood.
    if (device_) return;
    controller_.EnumerateDevices();
  }

  bool OnEnumerate(THidDevice*, int index) {
    std::unique_ptr<THidDevice> claimed;
    if (!controller_.ClaimByIndex(claimed, index)) return true;
    if (Narrow(claimed->GetProductString()) != kDriverProductString) return true;  // handed back
    device_ = std::move(claimed);
    connected_ = true;
    device_->SetOnData(THidDataEvent(this, &OurSide::OnData));
    return false;
  }

  void OnData(THidDevice*, std::uint8_t reportId, const std::uint8_t* data, std::uint16_t size) {
    // As the window's reply handler: decode into the device state, then act on the effects.
    const DecodedReply effects = DecodeReply(state_, data, size);
    if (effects.kind == DecodedReply::Kind::Status) ++decoded_;
    if (size + 1u != kReportBytes) return;
    std::array<std::uint8_t, kReportBytes> report{};
    report[0] = reportId;
    std::memcpy(report.data() + 1, data, size);
    if (tally_.Take(report.data()) + 1 == kFloodReports) {
      done_ = true;
      loop_.quit();
    }
  }

  THidDeviceController controller_;
  std::unique_ptr<THidDevice> device_;
  DeviceState state_{};
  FloodTally tally_;
  std::uint32_t decoded_ = 0;
  std::uint64_t wakeUps_ = 0;
  bool connected_ = false;
  bool done_ = false;
  QEventLoop loop_;
};

// hidapi's side: the plain blocking loop its users write.
FloodTally ReadWithHidapi(const std::string& path, bool& opened) {
  FloodTally tally;
  hid_device* device = hid_open_path(path.c_str());
  opened = device != nullptr;
  if (device == nullptr) return tally;
  std::array<unsigned char, kReportBytes> report{};
  for (;;) {
    // Before the first report the flood may not have reached this file yet.
    const int n = hid_read_timeout(device, report.data(), report.size(), tally.Received == 0 ? 10 * kIdleMs : kIdleMs);
    if (n <= 0) break;
    if (static_cast<std::size_t>(n) != kReportBytes) continue;
    if (tally.Take(report.data()) + 1 == kFloodReports) break;
  }
  tally.AtEnd = CurrentUsage();
  hid_close(device);
  return tally;
}

// Our reader thread's loop without the hand-off: the platform layer alone, on this thread.
FloodTally ReadWithPlatform(IHidPlatform& platform, const std::string& path, bool& opened) {
  FloodTally tally;
  const HidHandle handle = platform.Open(path, HidOpenMode::Read);
  opened = handle != kInvalidHidHandle;
  if (!opened) return tally;
  std::array<std::uint8_t, kReportBytes> report{};
  for (;;) {
    std::uint32_t error = 0;
    if (!platform.StartRead(handle, report.data(), report.size(), error)) break;
    const int slices = tally.Received == 0 ? 10 * kIdleMs / 100 : kIdleMs / 100;
    bool completed = false;
    for (int i = 0; i < slices && !completed; ++i) completed = platform.WaitRead(handle, 100) == HidWaitResult::Completed;
    if (!completed) {
      platform.CancelRead(handle);
      break;
    }
    std::uint32_t bytes = 0;
    if (!platform.GetReadResult(handle, bytes) || bytes == 0) break;
    if (bytes != kReportBytes) continue;
    if (tally.Take(report.data()) + 1 == kFloodReports) break;
  }
  tally.AtEnd = CurrentUsage();
  platform.Close(handle);
  return tally;
}

bool WaitUntilGone(IHidPlatform& platform, const std::string& product) {
  for (int i = 0; i < 500; ++i) {
    std::vector<HidInterfaceInfo> interfaces;
    bool listed = false;
    if (platform.EnumerateInterfaces(interfaces)) {
      for (const HidInterfaceInfo& info : interfaces) listed = listed || ProductStringOf(platform, info.Path) == product;
    }
    if (!listed) return true;
    NapMs(10);
  }
  return false;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

void Print(int round, const char* side, const FloodTally& t) {
  std::printf("VMTEST FIGURE flood-compare round %d %-8s: %u of %u reports received, %lld lost in between, %.0f ms, "
              "%.0f reports/s, %.1f us CPU per report, %.2f + %.2f context switches per report (blocked + preempted)\n",
              round, side, t.Received, kFloodReports, static_cast<long long>(t.Lost()), t.Ms(), t.PerSecond(),
              t.CpuUsPerReport(), t.VoluntaryPerReport(), t.InvoluntaryPerReport());
  std::fflush(stdout);
}

enum class Side { Ours, Hidapi, Platform };
constexpr std::array<const char*, 3> kSideNames = {"ours", "hidapi", "platform"};

struct SideFigures {
  std::vector<double> PerSecond;
  std::vector<double> CpuUs;
};

FloodTally Measure(Side side, LinuxHidPlatform& platform, const HidInterfaceInfo& found, Checks& c,
                   const std::string& what, std::vector<double>& reportsPerWakeUp) {
  FloodTally tally;
  bool opened = false;
  switch (side) {
    case Side::Ours: {
      OurSide ours(platform);
      ours.Read();
      c.That(ours.Connected(), what + ": driver not claimed");
      tally = ours.Tally();
      c.Equal(ours.Decoded(), tally.Received, what + ": reports decoded as status");
      if (ours.WakeUps() > 0) {
        reportsPerWakeUp.push_back(static_cast<double>(ours.Decoded()) / static_cast<double>(ours.WakeUps()));
        std::printf("VMTEST FIGURE flood-compare %s: %llu wake-ups of the UI thread, %.1f reports per wake-up\n",
                    what.c_str(), static_cast<unsigned long long>(ours.WakeUps()),
                    static_cast<double>(ours.Decoded()) / static_cast<double>(ours.WakeUps()));
      }
      return tally;
    }
    case Side::Hidapi:
      tally = ReadWithHidapi(found.Path, opened);
      c.That(opened, what + ": hid_open_path failed");
      return tally;
    case Side::Platform:
      tally = ReadWithPlatform(platform, found.Path, opened);
      c.That(opened, what + ": open for reading failed");
      return tally;
  }
  return tally;
}

void FloodCompare(Checks& c) {
  if (!c.That(hid_init() == 0, "hid_init failed")) return;
  const std::string product(kDriverProductString);
  LinuxHidPlatform platform;
  std::array<SideFigures, 3> figures;
  std::vector<double> reportsPerWakeUp;
  for (int round = 0; round < kRounds; ++round) {
    for (int turn = 0; turn < 3; ++turn) {
      // Each round starts with another side, so none always goes first.
      const auto side = static_cast<Side>((round + turn) % 3);
      const char* name = kSideNames[static_cast<std::size_t>(side)];
      const std::string what = std::string(name) + " round " + std::to_string(round + 1);
      DriverProcess driver({"--flood", std::to_string(kFloodReports)});
      const auto found = WaitForProduct(platform, product);
      if (!c.That(found.has_value(), what + ": driver not listed")) return;
      // Udev's announcement must be over before our controller starts, or its notice would come
      // during the flood.
      c.That(WaitForUdev(found->Path), what + ": udev never handled " + found->Path);
      const FloodTally tally = Measure(side, platform, *found, c, what, reportsPerWakeUp);
      Print(round + 1, name, tally);
      c.That(tally.Received > 1, what + ": no flood read");
      c.That(tally.Ordered, what + ": sequence numbers out of order");
      figures[static_cast<std::size_t>(side)].PerSecond.push_back(tally.PerSecond());
      figures[static_cast<std::size_t>(side)].CpuUs.push_back(tally.CpuUsPerReport());
      driver.Stop();
      c.That(WaitUntilGone(platform, product), what + ": driver still listed after its end");
    }
  }
  hid_exit();
  const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
  auto rate = [&](Side s) { return Median(figures[static_cast<std::size_t>(s)].PerSecond); };
  auto cpu = [&](Side s) { return Median(figures[static_cast<std::size_t>(s)].CpuUs); };
  const double ours = rate(Side::Ours);
  const double hidapi = rate(Side::Hidapi);
  std::printf("VMTEST FIGURE flood-compare cpu: ours %.1f us, hidapi %.1f us, platform %.1f us of CPU per report "
              "received (medians)\n",
              cpu(Side::Ours), cpu(Side::Hidapi), cpu(Side::Platform));
  std::printf("VMTEST FIGURE flood-compare platform: %.0f reports/s without the hand-off, ratio %.3f to hidapi\n",
              rate(Side::Platform), hidapi > 0 ? rate(Side::Platform) / hidapi : 0.0);
  std::printf("VMTEST FIGURE flood-compare wake-ups: ours %.1f reports per wake-up of the UI thread (median)\n",
              Median(reportsPerWakeUp));
  const QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
  std::printf("VMTEST FIGURE flood-compare event dispatcher: %s\n",
              dispatcher != nullptr ? dispatcher->metaObject()->className() : "none");
  std::printf("VMTEST FIGURE flood-compare: ours %.0f reports/s, hidapi %.0f reports/s, ratio %.3f "
              "(medians of %d rounds, %u reports per flood, %ld guest CPU%s)\n",
              ours, hidapi, hidapi > 0 ? ours / hidapi : 0.0, kRounds, kFloodReports, cpus, cpus == 1 ? "" : "s");
  std::fflush(stdout);
}

const ScenarioRegistrar kFloodCompare("flood-compare",
                                      "flood read through our path and through hidapi (figures)",
                                      FloodCompare, true);

}  // namespace
}  // namespace zrv::vmtest
