// Cost of taking one sample: the ring alone, the whole recorder (ring, capture trigger and, when
// recording, the CSV row), and one CSV row; heap allocations per operation as a counter.
#include <benchmark/benchmark.h>

#include "allocation_counter.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>

#include "record/csv_row.h"
#include "record/recorder.h"
#include "record/sample_ring.h"


namespace zrv {
namespace {

using namespace std::chrono_literals;

LiveStatus Status(std::uint32_t i) {
  LiveStatus status{};
  status.PowerSupply = 24000 + i % 100;
  status.Temperature = 40;
  status.Potentiometer = static_cast<std::uint16_t>(i % 3300);
  status.Ain = 2500;
  status.CurAct = static_cast<std::int32_t>(i % 5000) - 2500;
  status.CurLim = 10000;
  status.PwmAct = static_cast<std::int16_t>(i % 1000);
  status.PwmLim = 1000;
  status.WorkMode = 2;
  status.DriverState = 1;
  return status;
}

void Report(benchmark::State& state, std::size_t before) {
  state.counters["allocs/op"] = benchmark::Counter(
      static_cast<double>(bench::HeapAllocations() - before) / static_cast<double>(state.iterations()));
}

// Conversion to display units and the copy into the ring: what every status reply costs.
void BM_SampleRingPush(benchmark::State& state) {
  SampleRing ring;
  const DriverLimits limits{30000, 90, 1000, 10000};
  std::uint32_t i = 0;
  auto t = SteadyTime{};
  const std::size_t before = bench::HeapAllocations();
  for (auto _ : state) {
    t += 40ms;
    ring.Push(MakeSample(Status(++i), limits, t, WallTime{}));
    benchmark::DoNotOptimize(ring);
  }
  Report(state, before);
}
BENCHMARK(BM_SampleRingPush);

// The whole recorder's Add while nothing is recorded: ring and capture trigger.
void BM_RecorderAdd(benchmark::State& state) {
  Recorder recorder("/nonexistent");
  const DriverLimits limits{30000, 90, 1000, 10000};
  std::uint32_t i = 0;
  auto t = SteadyTime{};
  const std::size_t before = bench::HeapAllocations();
  for (auto _ : state) {
    t += 40ms;
    recorder.Add(MakeSample(Status(++i), limits, t, WallTime(t.time_since_epoch())));
  }
  Report(state, before);
}
BENCHMARK(BM_RecorderAdd);

// One CSV row into a buffer with room, as a recording makes it.
void BM_AppendCsvRow(benchmark::State& state) {
  std::string out;
  out.reserve(1 << 20);
  const Sample sample = MakeSample(Status(1234), DriverLimits{30000, 90, 1000, 10000}, SteadyTime(5s),
                                   WallTime(std::chrono::seconds(1'800'000'000)));
  const std::size_t before = bench::HeapAllocations();
  for (auto _ : state) {
    if (out.size() > (1 << 20) - kCsvRowReserve) out.clear();
    AppendCsvRow(out, sample, SteadyTime{});
    benchmark::DoNotOptimize(out.data());
  }
  Report(state, before);
}
BENCHMARK(BM_AppendCsvRow);

}  // namespace
}  // namespace zrv

BENCHMARK_MAIN();
