// Figures of the link layer on the simulated platform: reports per second through a real reader
// and the hand-off into a handler, latency from inject to handler, heap allocations per report,
// and the time of one DeviceChange with 64 attached devices.
#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

#include "link/hid_device.h"
#include "link/hid_device_controller.h"
#include "link/platform/sim/sim_hid_platform.h"

namespace {
std::atomic<std::uint64_t> gAllocations{0};
}  // namespace

// Out of line on purpose: inlined into a caller, the free() below meets a pointer that GCC saw
// come from operator new and is reported as a mismatched pair (-Wmismatched-new-delete); that
// happens wherever the program is not compiled as position-independent code, as on arm64.
[[gnu::noinline]] void* operator new(std::size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void* operator new[](std::size_t size) { return operator new(size); }
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete[](void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace zrv {
namespace {

using Clock = std::chrono::steady_clock;

SimHidDeviceConfig Config(std::uint32_t instance) {
  SimHidDeviceConfig config;
  config.Path = "/sim/bench" + std::to_string(instance);
  config.Instance = instance;
  config.VendorID = 0x1234;
  config.ProductID = 0x5678;
  config.ProductString = u"ZRVXXX";
  config.InputReportByteLength = 64;
  config.OutputReportByteLength = 64;
  return config;
}

std::unique_ptr<THidDevice> ClaimFirst(THidDeviceController& controller) {
  std::unique_ptr<THidDevice> device;
  controller.ClaimByIndex(device, 0);
  return device;
}

struct Sink {
  std::uint64_t received = 0;
  std::uint64_t target = 0;
  std::uint64_t checksum = 0;
  QEventLoop* loop = nullptr;
  std::vector<std::int64_t>* latencies = nullptr;
  std::atomic<std::uint64_t>* acknowledged = nullptr;

  void OnData(THidDevice*, std::uint8_t, const std::uint8_t* Data, std::uint16_t Size) {
    checksum += Data[Size - 1];
    if (latencies != nullptr) {
      std::int64_t stamp = 0;
      std::memcpy(&stamp, Data, sizeof stamp);
      const std::int64_t now = Clock::now().time_since_epoch().count();
      latencies->push_back(now - stamp);
      acknowledged->fetch_add(1);
    }
    if (++received == target && loop != nullptr) loop->quit();
  }
};

void Throughput(THidDeviceController& controller, const std::shared_ptr<SimHidDevice>& sim) {
  auto device = ClaimFirst(controller);
  Sink sink;
  QEventLoop loop;
  sink.loop = &loop;
  device->SetOnData(THidDataEvent(&sink, &Sink::OnData));

  std::atomic<bool> stop{false};
  std::thread flood([&] {
    std::uint8_t report[64] = {1, 11};
    while (!stop.load(std::memory_order_relaxed)) {
      for (int i = 0; i < 16; ++i) sim->InjectInputReport(report, sizeof report);
      std::this_thread::yield();
    }
  });
  // Warm up, then measure.
  sink.target = 2000;
  loop.exec();
  const std::uint64_t warm = sink.received;
  constexpr std::uint64_t kReports = 200000;
  sink.target = warm + kReports;
  const std::uint64_t wakeUpsBefore = device->Reader()->HandOffs();
  const std::uint64_t allocationsBefore = gAllocations.load();
  const auto start = Clock::now();
  loop.exec();
  const auto end = Clock::now();
  const std::uint64_t allocations = gAllocations.load() - allocationsBefore;
  const std::uint64_t wakeUps = device->Reader()->HandOffs() - wakeUpsBefore;
  stop = true;
  flood.join();
  device->SetOnData(nullptr);

  const double seconds = std::chrono::duration<double>(end - start).count();
  std::printf("flood: %llu reports in %.3f s = %.0f reports/s (dropped by the full input queue: %d)\n",
              static_cast<unsigned long long>(kReports), seconds, static_cast<double>(kReports) / seconds,
              sim->DroppedInputReports());
  std::printf("wake-ups of the UI thread: %llu = %.1f reports per wake-up\n",
              static_cast<unsigned long long>(wakeUps),
              static_cast<double>(kReports) / static_cast<double>(wakeUps > 0 ? wakeUps : 1));
  std::printf("heap allocations on the whole path: %llu for %llu reports = %.4f per report\n",
              static_cast<unsigned long long>(allocations), static_cast<unsigned long long>(kReports),
              static_cast<double>(allocations) / static_cast<double>(kReports));
}

void Latency(THidDeviceController& controller, const std::shared_ptr<SimHidDevice>& sim) {
  auto device = ClaimFirst(controller);
  constexpr int kSamples = 20000;
  std::vector<std::int64_t> latencies;
  latencies.reserve(kSamples + 16);
  std::atomic<std::uint64_t> acknowledged{0};
  Sink sink;
  QEventLoop loop;
  sink.loop = &loop;
  sink.latencies = &latencies;
  sink.acknowledged = &acknowledged;
  sink.target = kSamples;
  device->SetOnData(THidDataEvent(&sink, &Sink::OnData));

  std::thread producer([&] {
    std::uint8_t report[64] = {1, 11};
    for (int i = 0; i < kSamples; ++i) {
      // One at a time: each waits for the previous to reach the handler.
      while (acknowledged.load() < static_cast<std::uint64_t>(i)) std::this_thread::yield();
      const std::int64_t stamp = Clock::now().time_since_epoch().count();
      std::memcpy(report + 1, &stamp, sizeof stamp);
      sim->InjectInputReport(report, sizeof report);
    }
  });
  loop.exec();
  producer.join();
  device->SetOnData(nullptr);

  std::sort(latencies.begin(), latencies.end());
  auto at = [&](double q) {
    const auto index = static_cast<std::size_t>(q * static_cast<double>(latencies.size() - 1));
    return static_cast<double>(latencies[index]) / 1000.0;
  };
  std::printf("latency inject -> handler over %d reports: p50 %.1f us, p99 %.1f us, max %.1f us\n",
              kSamples, at(0.50), at(0.99), at(1.0));
}

void DeviceChangeTime() {
  SimHidPlatform platform;
  for (std::uint32_t i = 1; i <= 64; ++i) platform.Plug(Config(i));
  THidDeviceController controller(platform);
  int changes = 0;
  controller.SetLoading(true);
  controller.SetOnDeviceChange([&](QObject*) { ++changes; });
  controller.SetLoading(false);
  while (platform.EnumerationCount() == 0) QCoreApplication::processEvents();
  constexpr int kRuns = 300;
  std::vector<double> times;
  for (int run = 0; run < kRuns; ++run) {
    const auto start = Clock::now();
    controller.HandleNotification(0);  // as a plug notice does
    times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  std::printf("DeviceChange with %d attached devices: median %.1f us, p99 %.1f us (%d runs; %d changes)\n",
              controller.Count(), times[kRuns / 2], times[kRuns * 99 / 100], kRuns, changes);
}

}  // namespace
}  // namespace zrv

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::printf("event dispatcher: %s\n",
              QCoreApplication::eventDispatcher()->metaObject()->className());
  {
    zrv::SimHidPlatform platform;
    auto sim = platform.Plug(zrv::Config(1));
    zrv::THidDeviceController controller(platform);
    while (platform.EnumerationCount() == 0) QCoreApplication::processEvents();
    zrv::Throughput(controller, sim);
  }
  {
    // A fresh device, so no report left over from the flood is taken for a timed one.
    zrv::SimHidPlatform platform;
    auto sim = platform.Plug(zrv::Config(2));
    zrv::THidDeviceController controller(platform);
    while (platform.EnumerationCount() == 0) QCoreApplication::processEvents();
    zrv::Latency(controller, sim);
  }
  zrv::DeviceChangeTime();
  return 0;
}
