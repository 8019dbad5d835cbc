// The driver session on the real kernel: discovery by the controller's first forced scan,
// claiming, the identity request and polling, replies delivered on the owner's thread and
// decoded, unplug while a read is outstanding, replug announced by udev.
#include <signal.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "guest_support.h"
#include "link/platform/linux/linux_hid_platform.h"
#include "link/ttimer.h"
#include "protocol/report_framing.h"
#include "session/driver_session.h"
#include "session_watch.h"
#include "sim/simulated_driver.h"
#include "support/run_until.h"

namespace zrv::vmtest {
namespace {

constexpr int kRounds = 10000;  // RunUntil rounds of about a millisecond each

// Sends `payload` through the session (kept, tagged) and to a reference model: the first reply of
// its code that arrives must be the reference's reply, byte for byte, and the session's state must
// be the reference's state after decoding it. Polling goes on meanwhile; its status replies equal
// the reference's, since a status request changes nothing in the driver.
void RoundTrip(Checks& c, SessionWatch& watch, sim::SimulatedDriver& reference,
               const std::vector<std::uint8_t>& payload) {
  static std::uint32_t tag = 0;
  ++tag;
  DriverSession& session = watch.Session();
  const std::uint8_t code = payload.at(0);
  const std::string what = "command " + std::to_string(code);
  std::array<std::uint8_t, sim::kReportLength> expected{};
  std::size_t expectedLength = 0;
  reference.SetSink([&](const std::uint8_t* r, std::size_t n) {
    std::copy_n(r, n, expected.begin());
    expectedLength = n;
  });
  OutputReport framed;
  FrameReport(payload.data(), static_cast<std::uint32_t>(payload.size()), sim::kReportLength, framed);
  reference.OnOutputReport(framed.Buffer.data(), framed.Length);
  c.Equal(expectedLength, sim::kReportLength, what + ": reference reply length");
  DeviceState want = session.State();
  const DecodedReply decoded = DecodeReply(want, expected.data() + 1, expectedLength - 1);

  const std::size_t before = watch.Received().size();
  const std::uint64_t decodedBefore = session.Replies(static_cast<CommandCode>(code));
  const int savedBefore = watch.SettingsSaved();
  bool sent = false;
  if (code == static_cast<std::uint8_t>(CommandCode::WriteModbusSettings)) {
    ModbusSettings settings{};
    std::memcpy(&settings, payload.data() + 1, sizeof settings);
    sent = session.SaveModbusSettings(settings, tag);
    want.Modbus = settings;  // the session keeps what it saves
  } else {
    sent = session.SendTagged(payload.data(), static_cast<std::uint32_t>(payload.size()), tag);
  }
  if (!c.That(sent, what + ": nothing went to the writer")) return;
  std::size_t at = before;
  auto replied = [&] {
    for (; at < watch.Received().size(); ++at) {
      if (!watch.Received()[at].Data.empty() && watch.Received()[at].Data[0] == code) return true;
    }
    return false;
  };
  if (!c.That(test::RunUntil(replied, kRounds), what + ": no reply")) return;
  c.That(test::RunUntil([&] { return watch.Written().count(tag) == 1; }, kRounds), what + ": no written outcome");
  c.That(watch.Written().count(tag) == 1 && watch.Written().at(tag), what + ": report refused by the writer");
  const ReceivedInput& got = watch.Received()[at];
  c.Equal(got.ReportId, 1, what + ": report ID");
  c.That(got.OnOwnerThread, what + ": handler ran off the owner's thread");
  const std::vector<std::uint8_t> wantBytes(expected.begin() + 1, expected.begin() + static_cast<long>(expectedLength));
  c.That(got.Data == wantBytes, what + ": reply " + Hex(got.Data.data(), got.Data.size()) + " expected " +
                                    Hex(wantBytes.data(), wantBytes.size()));
  c.That(session.Replies(static_cast<CommandCode>(code)) > decodedBefore, what + ": reply not decoded");
  c.That(SameState(session.State(), want), what + ": decoded state differs from the reference's");
  if (decoded.kind == DecodedReply::Kind::Registers) {
    c.Equal(session.GoodFrames(), decoded.GoodFrames, what + ": good frames");
  }
  if (code == static_cast<std::uint8_t>(CommandCode::WriteModbusSettings)) {
    c.Equal(watch.SettingsSaved(), savedBefore + 1, what + ": settings saved");
  }
}

// Connected to the driver, its reader listening, the identity answered and polling under way.
bool Connected(Checks& c, SessionWatch& watch, const std::string& when) {
  DriverSession& session = watch.Session();
  if (!c.That(session.CurrentDevice() != nullptr && session.Connected(), when + ": driver not connected")) {
    return false;
  }
  c.That(session.CurrentDevice()->ReadWriteAccess(), when + ": no read/write access as root");
  c.That(test::RunUntil([&] { return watch.ReaderListening(); }, kRounds), when + ": no reader");
  return c.That(test::RunUntil([&] { return watch.Identities() >= 1 && session.Polling() &&
                                            session.Replies(CommandCode::ReadStatus) >= 1; },
                               kRounds),
                when + ": no identity reply or no polled status");
}

void ControllerScenario(Checks& c) {
  DriverProcess driver({});
  LinuxHidPlatform platform;
  // The node must be there, and handled by udev, before the first scan looks for it.
  const auto found = WaitForProduct(platform, "ZRVXXX");
  if (!c.That(found.has_value(), "driver not listed by the platform")) return;
  c.That(WaitForUdev(found->Path), "udev never handled " + found->Path);

  DriverSession session(RealTimeSource(), platform);
  SessionWatch watch(session);
  c.That(!session.Scanned() && watch.Scans() == 0, "scanned before the event loop ran");
  if (!c.That(test::RunUntil([&] { return watch.Scans() >= 1; }, kRounds), "no forced scan")) return;
  if (!c.That(session.CurrentDevice() != nullptr, "first scan did not find the driver")) return;
  if (!Connected(c, watch, "first scan")) return;
  c.That(watch.Shown().size() >= 2 && watch.Shown().back() == ConnectionShown::Connected,
         "the session did not say \"Connected\"");
  const THidCaps caps = session.CurrentDevice()->GetCapabilities();
  c.Equal(caps.InputReportByteLength, 64, "input report length");
  c.Equal(caps.OutputReportByteLength, 64, "output report length");
  const std::uint32_t firstInstance = session.CurrentDevice()->PlugInfo()->DeviceInstance;

  sim::SimulatedDriver reference;
  for (int code : {10, 11, 12, 20}) RoundTrip(c, watch, reference, {static_cast<std::uint8_t>(code)});
  const auto save = BuildWriteModbusSettingsPayload(ModbusSettings{115200, 1, 3});
  RoundTrip(c, watch, reference, std::vector<std::uint8_t>(save.begin(), save.end()));
  RoundTrip(c, watch, reference, {20});  // the stored settings come back
  RoundTrip(c, watch, reference, {10});
  c.Equal(session.State().Modbus.SlaveId, 3, "slave id decoded after the save");
  // Polled replies too: every one with ID 1 and 63 bytes, on the owner's thread.
  const auto odd = std::count_if(watch.Received().begin(), watch.Received().end(), [](const ReceivedInput& r) {
    return r.ReportId != 1 || !r.OnOwnerThread || r.Data.size() != 63u;
  });
  c.Equal(odd, 0, "replies with another report ID, size or thread");
  if (!c.Failures().empty()) return;

  // Unplug while the reader waits on its read.
  const int scans = watch.Scans();
  driver.Signal(SIGUSR1);
  c.That(test::RunUntil([&] { return watch.Scans() > scans; }, kRounds), "unplug not announced");
  c.Equal(watch.Unplugs(), 1, "OnUnplug calls");
  c.That(session.CurrentDevice() == nullptr && !session.Connected(), "driver still connected after the unplug");
  c.That(!session.Polling(), "polling still on after the unplug");
  c.That(!watch.Shown().empty() && watch.Shown().back() == ConnectionShown::NoConnection,
         "the session does not say \"No connection\" after the unplug");
  for (const std::string& p : watch.Products()) c.That(p != "ZRVXXX", "driver still listed");

  // Replug: udev's event alone must bring it back.
  const int scansAfterUnplug = watch.Scans();
  const int identities = watch.Identities();
  driver.Signal(SIGUSR1);
  c.That(test::RunUntil([&] { return watch.Scans() > scansAfterUnplug && session.CurrentDevice() != nullptr; },
                        kRounds),
         "replugged driver not found again");
  if (session.CurrentDevice() == nullptr) return;
  c.That(session.CurrentDevice()->PlugInfo()->DeviceInstance != firstInstance,
         "replugged device kept the old instance number");
  c.That(test::RunUntil([&] { return watch.Identities() > identities; }, kRounds), "no identity after replug");
  if (!Connected(c, watch, "replug")) return;
  RoundTrip(c, watch, reference, {11});
}

const ScenarioRegistrar kController("controller",
                                    "the session finds, claims, connects, decodes 10/11/12/20/148; unplug and replug",
                                    ControllerScenario);

}  // namespace
}  // namespace zrv::vmtest
