// The device objects and the controller on the real kernel: discovery by the first forced scan,
// claiming, replies delivered on the owner's thread, unplug while a read is outstanding, replug
// announced by udev.
#include <signal.h>

#include <array>

#include "connector.h"
#include "guest_support.h"
#include "link/platform/linux/linux_hid_platform.h"
#include "support/run_until.h"
#include "protocol/report_framing.h"
#include "sim/simulated_driver.h"

namespace zrv::vmtest {
namespace {

constexpr int kRounds = 10000;  // RunUntil rounds of about a millisecond each

// Sends `payload` to the driver and to a reference model; the reply that arrives must be the
// reference's reply, byte for byte.
void RoundTrip(Checks& c, Connector& connector, sim::SimulatedDriver& reference,
               const std::vector<std::uint8_t>& payload) {
  const std::string what = "command " + std::to_string(payload.at(0));
  std::array<std::uint8_t, sim::kReportLength> expected{};
  std::size_t expectedLength = 0;
  reference.SetSink([&](const std::uint8_t* r, std::size_t n) {
    std::copy_n(r, n, expected.begin());
    expectedLength = n;
  });
  OutputReport framed;
  FrameReport(payload.data(), static_cast<std::uint32_t>(payload.size()), sim::kReportLength, framed);
  reference.OnOutputReport(framed.Buffer.data(), framed.Length);

  const std::size_t before = connector.Received().size();
  if (!c.That(connector.Send(1, payload.data(), payload.size()), what + ": WriteReport failed")) return;
  if (!c.That(test::RunUntil([&] { return connector.Received().size() > before; }, kRounds),
              what + ": no reply")) {
    return;
  }
  const ReceivedInput& got = connector.Received()[before];
  c.Equal(got.ReportId, 1, what + ": report ID");
  c.That(got.OnOwnerThread, what + ": handler ran off the owner's thread");
  c.Equal(expectedLength, sim::kReportLength, what + ": reference reply length");
  const std::vector<std::uint8_t> want(expected.begin() + 1, expected.begin() + static_cast<long>(expectedLength));
  c.That(got.Data == want, what + ": reply " + Hex(got.Data.data(), got.Data.size()) + " expected " +
                               Hex(want.data(), want.size()));
}

void ControllerScenario(Checks& c) {
  DriverProcess driver({});
  LinuxHidPlatform platform;
  // The node must be there, and handled by udev, before the first scan looks for it.
  const auto found = WaitForProduct(platform, "ZRVXXX");
  if (!c.That(found.has_value(), "driver not listed by the platform")) return;
  c.That(WaitForUdev(found->Path), "udev never handled " + found->Path);

  Connector connector(platform, u"ZRVXXX");
  c.Equal(connector.Changes(), 0, "changes before the event loop ran");
  if (!c.That(test::RunUntil([&] { return connector.Changes() >= 1; }, kRounds), "no forced scan")) return;
  if (!c.That(connector.Driver() != nullptr, "first scan did not find the driver")) return;
  c.That(connector.Driver()->ReadWriteAccess(), "no read/write access as root");
  c.That(test::RunUntil([&] { return connector.ReaderListening(); }, kRounds), "no reader");
  const THidCaps caps = connector.Driver()->GetCapabilities();
  c.Equal(caps.InputReportByteLength, 64, "input report length");
  c.Equal(caps.OutputReportByteLength, 64, "output report length");
  const std::uint32_t firstInstance = connector.Driver()->PlugInfo()->DeviceInstance;

  sim::SimulatedDriver reference;
  for (int code : {10, 11, 12, 20}) RoundTrip(c, connector, reference, {static_cast<std::uint8_t>(code)});
  const auto save = BuildWriteModbusSettingsPayload(ModbusSettings{115200, 1, 3});
  RoundTrip(c, connector, reference, std::vector<std::uint8_t>(save.begin(), save.end()));
  RoundTrip(c, connector, reference, {20});  // the stored settings come back
  RoundTrip(c, connector, reference, {10});
  if (!c.Failures().empty()) return;

  // Unplug while the reader waits on its read.
  const int changes = connector.Changes();
  driver.Signal(SIGUSR1);
  c.That(test::RunUntil([&] { return connector.Changes() > changes; }, kRounds), "unplug not announced");
  c.Equal(connector.Unplugs(), 1, "OnUnplug calls");
  c.That(connector.Driver() == nullptr, "driver still connected after the unplug");
  for (const std::string& p : connector.Listed()) c.That(p != "ZRVXXX", "driver still listed");

  // Replug: udev's event alone must bring it back.
  const int changesAfterUnplug = connector.Changes();
  driver.Signal(SIGUSR1);
  c.That(test::RunUntil([&] { return connector.Changes() > changesAfterUnplug && connector.Driver() != nullptr; },
                        kRounds),
         "replugged driver not found again");
  if (connector.Driver() == nullptr) return;
  c.That(connector.Driver()->PlugInfo()->DeviceInstance != firstInstance,
         "replugged device kept the old instance number");
  c.That(test::RunUntil([&] { return connector.ReaderListening(); }, kRounds), "no reader after replug");
  RoundTrip(c, connector, reference, {11});
}

const ScenarioRegistrar kController("controller",
                                    "controller finds, claims, reads 10/11/12/20/148; unplug and replug",
                                    ControllerScenario);

}  // namespace
}  // namespace zrv::vmtest
