// Cost of the per-report and per-tick work, with heap allocations per operation as a counter.
#include <benchmark/benchmark.h>

#include "allocation_counter.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "view/live_view_model.h"
#include "view/number_format.h"
#include "protocol/reply_decoder.h"
#include "protocol/report_framing.h"


namespace zrv {
namespace {

using Report = std::array<std::uint8_t, 64>;

Report IdentityReply() { return {10, 125, 'A', 'B', 'C', 0, 0, 0, 0, 0, 0, 103, 0x30, 0x75, 0, 0, 0x5A, 0, 0xE8, 0x03, 0x10, 0x27, 0x00, 0x96, 0, 0, 2, 17}; }
Report StatusReply() {
  return {11, 3, 1, 2, 0x0F, 0x18, 0x3F, 0xE8, 0x03, 0xD7, 0x11, 0x2D, 0x00, 0x18, 0xFC, 0xFF, 0xFF,
          0x39, 0x30, 0, 0, 0xB4, 0x5F, 0, 0, 0x38, 0xFF, 0xE8, 0x03};
}
Report RegistersReply() {
  Report r{12, 2, 0, 1, 0x34, 0x12};
  for (std::size_t k = 6; k < 61; ++k) r[k] = static_cast<std::uint8_t>(k * 37);
  return r;
}
Report SettingsReply() { return {20, 0x00, 0x96, 0x00, 0x00, 0x02, 0x11}; }

// Runs `body` per iteration and reports the heap allocations it made per iteration.
template <typename Body>
void Measure(benchmark::State& state, Body body) {
  const std::size_t before = bench::HeapAllocations();
  for (auto _ : state) {
    body();
  }
  state.counters["allocs/op"] = benchmark::Counter(static_cast<double>(bench::HeapAllocations() - before),
                                                    benchmark::Counter::kAvgIterations);
}

void DecodeBench(benchmark::State& state, const Report& reply) {
  DeviceState device{};
  Measure(state, [&] {
    auto effects = DecodeReply(device, reply.data(), reply.size());
    benchmark::DoNotOptimize(effects);
    benchmark::ClobberMemory();
  });
}

void BM_DecodeIdentity(benchmark::State& state) { DecodeBench(state, IdentityReply()); }
void BM_DecodeStatus(benchmark::State& state) { DecodeBench(state, StatusReply()); }
void BM_DecodeRegisters(benchmark::State& state) { DecodeBench(state, RegistersReply()); }
void BM_DecodeModbusSettings(benchmark::State& state) { DecodeBench(state, SettingsReply()); }
void BM_DecodeSettingsSaved(benchmark::State& state) { DecodeBench(state, Report{148}); }

void BM_FrameCommand(benchmark::State& state) {
  const std::uint8_t code = 11;
  OutputReport report;
  Measure(state, [&] {
    benchmark::DoNotOptimize(FrameReport(&code, 1, 64, report));
    benchmark::ClobberMemory();
  });
}

void BM_FrameWriteModbusSettings(benchmark::State& state) {
  OutputReport report;
  const ModbusSettings settings{19200, 1, 5};
  Measure(state, [&] {
    const auto payload = BuildWriteModbusSettingsPayload(settings);
    benchmark::DoNotOptimize(FrameReport(payload.data(), 63, 64, report));
    benchmark::ClobberMemory();
  });
}

void BM_ComputeTick(benchmark::State& state) {
  DeviceState device{};
  const Report identity = IdentityReply();
  const Report status = StatusReply();
  DecodeReply(device, identity.data(), identity.size());
  DecodeReply(device, status.data(), status.size());
  device.Status.WorkMode = 3;  // the longest work-mode text
  Measure(state, [&] {
    auto view = ComputeTick(device, ',', false);
    benchmark::DoNotOptimize(view);
  });
}

void BM_FormatFixed(benchmark::State& state) {
  std::int64_t n = 12345;
  Measure(state, [&] {
    auto text = FormatFixed(n, 1000, 2, '.');
    benchmark::DoNotOptimize(text);
    n = n * 7 % 9999991;
  });
}

BENCHMARK(BM_DecodeIdentity);
BENCHMARK(BM_DecodeStatus);
BENCHMARK(BM_DecodeRegisters);
BENCHMARK(BM_DecodeModbusSettings);
BENCHMARK(BM_DecodeSettingsSaved);
BENCHMARK(BM_FrameCommand);
BENCHMARK(BM_FrameWriteModbusSettings);
BENCHMARK(BM_ComputeTick);
BENCHMARK(BM_FormatFixed);

}  // namespace
}  // namespace zrv

BENCHMARK_MAIN();
