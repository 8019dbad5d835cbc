// Counts every heap allocation of the test program, so the 40 ms paths can be shown to make none.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "view/live_view_model.h"
#include "protocol/reply_decoder.h"
#include "protocol/report_framing.h"

namespace {
std::atomic<std::size_t> allocations{0};

void* Allocate(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace zrv {
namespace {

TEST(Allocations, HookSeesAllocations) {
  const std::size_t before = allocations.load();
  auto* p = new int(5);
  EXPECT_EQ(allocations.load() - before, 1U);
  delete p;
}

TEST(Allocations, DecodingFramingAndTicksUseNoHeap) {
  std::array<std::uint8_t, 64> identity{10, 125, 'A', 'B', 'C', 0, 0, 0, 0, 0, 0, 103};
  std::array<std::uint8_t, 64> status{11, 3, 1, 2, 0x0F, 0x18, 0x3F, 0xE8, 0x03};
  std::array<std::uint8_t, 64> registers{12, 2, 0, 1, 0x34, 0x12};
  std::array<std::uint8_t, 64> settings{20, 0x00, 0x96, 0x00, 0x00, 0x02, 0x11};
  std::array<std::uint8_t, 64> saved{148};
  DeviceState state{};
  state.Limits = DriverLimits{30000, 90, 1000, 10000};
  state.Identity.FirmwareVer = 1.1F;

  std::size_t kinds = 0;
  int lastGauge = 0;
  const std::size_t before = allocations.load();
  for (const auto* reply : {&identity, &status, &registers, &settings, &saved}) {
    kinds += static_cast<std::size_t>(DecodeReply(state, reply->data(), reply->size()).kind);
  }
  const auto payload = BuildWriteModbusSettingsPayload(state.Modbus);
  OutputReport report;
  const bool framed = FrameReport(payload.data(), static_cast<std::uint32_t>(payload.size()), 64, report);
  for (std::uint8_t mode = 0; mode < 8; ++mode) {
    state.Status.WorkMode = mode;
    lastGauge += ComputeTick(state, '.', false).GaugePositions[0];
  }
  const std::size_t used = allocations.load() - before;

  EXPECT_EQ(used, 0U);
  EXPECT_EQ(kinds, 1U + 2U + 3U + 4U + 5U);  // every reply was decoded
  EXPECT_TRUE(framed);
  EXPECT_EQ(report.Buffer[1], 148);
  EXPECT_EQ(lastGauge, 0);
}

}  // namespace
}  // namespace zrv
