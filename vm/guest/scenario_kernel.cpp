// What the kernel does that a simulated platform would not show by itself: it drops input
// reports shorter than declared, and it gives an unplugged and replugged device a new number.
#include <array>

#include "guest_support.h"
#include "link/platform/linux/linux_hid_platform.h"

namespace zrv::vmtest {
namespace {

void ShortInputDropped(Checks& c) {
  // Status replies leave the device 20 bytes long; identity replies whole.
  DriverProcess driver({"--short-replies", "20", "--short-code", "11"});
  LinuxHidPlatform platform;
  const auto found = WaitForProduct(platform, "ZRVXXX");
  if (!c.That(found.has_value(), "driver not listed")) return;
  const HidHandle h = platform.Open(found->Path, HidOpenMode::ReadWrite);
  if (!c.That(h != kInvalidHidHandle, "read/write open failed")) return;
  std::array<std::uint8_t, 64> command{};
  command[0] = 1;
  std::uint32_t written = 0;
  command[1] = 11;
  c.That(platform.Write(h, command.data(), command.size(), written), "write of command 11");
  command[1] = 10;
  c.That(platform.Write(h, command.data(), command.size(), written), "write of command 10");
  // The device answers in order; the short status reply never reaches the node.
  std::array<std::uint8_t, 64> reply{};
  c.Equal(ReadReport(platform, h, reply.data(), reply.size()), 64, "first report read");
  c.Equal(reply[1], 10, "first report read is the identity reply");
  platform.Close(h);
}

void TimedUnplugAndReplug(Checks& c) {
  DriverProcess driver({"--unplug-after", "500", "--replug-after", "500"});
  LinuxHidPlatform platform;
  auto instanceOf = [&]() -> std::optional<std::uint32_t> {
    std::vector<HidInterfaceInfo> interfaces;
    platform.EnumerateInterfaces(interfaces);
    for (const HidInterfaceInfo& info : interfaces) {
      if (ProductStringOf(platform, info.Path) == "ZRVXXX") return info.Instance;
    }
    return std::nullopt;
  };
  std::optional<std::uint32_t> first;
  for (int i = 0; i < 1000 && !first; ++i, NapMs(5)) first = instanceOf();
  if (!c.That(first.has_value(), "driver never listed")) return;
  bool gone = false;
  for (int i = 0; i < 1000 && !gone; ++i, NapMs(5)) gone = !instanceOf().has_value();
  if (!c.That(gone, "driver never unplugged")) return;
  std::optional<std::uint32_t> second;
  for (int i = 0; i < 1000 && !second; ++i, NapMs(5)) second = instanceOf();
  if (!c.That(second.has_value(), "driver never replugged")) return;
  c.That(*second > *first, "replugged device's number did not grow: " + std::to_string(*first) + " then " +
                               std::to_string(*second));
}

const ScenarioRegistrar kShort("short-input", "an input report shorter than declared is dropped by the kernel",
                               ShortInputDropped);
const ScenarioRegistrar kTimed("timed-replug", "--unplug-after/--replug-after; the HID number grows",
                               TimedUnplugAndReplug);

}  // namespace
}  // namespace zrv::vmtest
