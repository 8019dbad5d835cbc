// Throughput of the real input path: the virtual driver floods status reports with running
// sequence numbers and the Linux backend reads them. Prints figures; checks only the order.
// Run by name (ZRV_VM_SCENARIOS=flood).
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "guest_support.h"
#include "link/platform/linux/linux_hid_platform.h"

namespace zrv::vmtest {
namespace {

constexpr std::uint32_t kFloodReports = 20000;

void Flood(Checks& c) {
  DriverProcess driver({"--flood", std::to_string(kFloodReports)});
  LinuxHidPlatform platform;
  const auto found = WaitForProduct(platform, "ZRVXXX");
  if (!c.That(found.has_value(), "driver not listed")) return;
  // The flood starts at the first open of the node, which is this one.
  const HidHandle h = platform.Open(found->Path, HidOpenMode::Read);
  if (!c.That(h != kInvalidHidHandle, "open for reading failed")) return;

  std::array<std::uint8_t, 64> report{};
  std::uint32_t received = 0;
  std::uint32_t gaps = 0;
  std::int64_t last = -1;
  bool ordered = true;
  auto first = std::chrono::steady_clock::now();
  auto end = first;
  for (;;) {
    // A second without a report ends the flood.
    const int n = ReadReport(platform, h, report.data(), report.size(), 10);
    if (n < 0) break;
    if (n != 64) continue;
    if (received == 0) first = std::chrono::steady_clock::now();
    end = std::chrono::steady_clock::now();
    std::uint32_t sequence = 0;
    std::memcpy(&sequence, report.data() + 60, sizeof sequence);
    if (static_cast<std::int64_t>(sequence) <= last) ordered = false;
    if (last >= 0 && static_cast<std::int64_t>(sequence) != last + 1) ++gaps;
    last = sequence;
    ++received;
    if (sequence + 1 == kFloodReports) break;
  }
  platform.Close(h);
  const double ms = std::chrono::duration<double, std::milli>(end - first).count();
  std::printf("VMTEST FIGURE flood: %u of %u reports read, %u gaps, %.0f ms, %.0f reports/s (qemu TCG)\n",
              received, kFloodReports, gaps, ms, ms > 0 ? received * 1000.0 / ms : 0.0);
  c.That(received > 0, "no flood report read");
  c.That(ordered, "sequence numbers out of order");
}

const ScenarioRegistrar kFlood("flood", "flood of input reports read through the backend (figures)", Flood, true);

}  // namespace
}  // namespace zrv::vmtest
