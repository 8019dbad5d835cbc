// A device without numbered reports: the kernel reads its reports without an ID byte; the layer
// puts a 0 in front, so the session's handler sees report ID 0 and the data after it, and decodes
// them as any other reply.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <string>

#include "guest_support.h"
#include "link/platform/linux/linux_hid_platform.h"
#include "link/ttimer.h"
#include "session/driver_session.h"
#include "session_watch.h"
#include "sim/simulated_driver.h"
#include "support/run_until.h"

namespace zrv::vmtest {
namespace {

constexpr int kRounds = 10000;

void Unnumbered(Checks& c) {
  DriverProcess driver({"--no-report-ids"});
  LinuxHidPlatform platform;
  const auto found = WaitForProduct(platform, "ZRVXXX");
  if (!c.That(found.has_value(), "driver not listed")) return;
  c.That(WaitForUdev(found->Path), "udev never handled " + found->Path);

  sim::SimulatedDriver reference;
  std::array<std::uint8_t, sim::kReportLength> status{};
  reference.BuildReply(11, status);

  // What the kernel itself gives: 63 bytes, no ID.
  {
    const int fd = open(found->Path.c_str(), O_RDWR | O_CLOEXEC);
    if (c.That(fd >= 0, "raw open")) {
      std::array<std::uint8_t, 64> command{};
      command[1] = 11;
      c.Equal(write(fd, command.data(), command.size()), 64, "raw write");
      pollfd p{fd, POLLIN, 0};
      std::array<std::uint8_t, 128> buffer{};
      ssize_t n = -1;
      if (c.That(poll(&p, 1, 5000) == 1, "raw read: nothing came")) n = read(fd, buffer.data(), buffer.size());
      c.Equal(n, 63, "bytes read from the node");
      c.Equal(buffer[0], 11, "first byte read is the data, not an ID");
      close(fd);
    }
  }

  // Through the platform.
  const HidHandle id = platform.Open(found->Path, HidOpenMode::Identify);
  HidPreparsedData preparsed;
  c.That(platform.GetPreparsedData(id, preparsed), "report descriptor");
  c.Equal(preparsed.Caps.InputReportByteLength, 64, "input report length (ID byte counted)");
  c.Equal(preparsed.Caps.OutputReportByteLength, 64, "output report length (ID byte counted)");
  platform.Close(id);

  // Through the session: it connects, asks for the identity and polls the status.
  DriverSession session(RealTimeSource(), platform);
  SessionWatch watch(session);
  if (!c.That(test::RunUntil([&] { return watch.Scans() >= 1 && session.Connected(); }, kRounds),
              "driver not found by the controller")) {
    return;
  }
  c.That(test::RunUntil([&] { return watch.ReaderListening(); }, kRounds), "no reader");
  if (!c.That(test::RunUntil([&] { return watch.Identities() >= 1 && session.Replies(CommandCode::ReadStatus) >= 1; },
                             kRounds),
              "identity or status reply not decoded")) {
    return;
  }
  // Below the session: a whole report written with ID 0, the placeholder of an unnumbered device.
  std::array<std::uint8_t, 64> command{};
  command[1] = 11;
  std::uint32_t written = 0;
  const std::size_t before = watch.Received().size();
  c.That(session.CurrentDevice()->WriteReport(command.data(), command.size(), written), "WriteReport with report ID 0");
  c.That(test::RunUntil([&] { return watch.Received().size() > before; }, kRounds), "no reply after the write");
  for (const ReceivedInput& got : watch.Received()) {
    c.Equal(got.ReportId, 0, "report ID delivered");
    c.Equal(got.Data.size(), 63u, "Size delivered");
    c.That(got.OnOwnerThread, "handler ran off the owner's thread");
    if (!got.Data.empty() && got.Data[0] == 11) {
      const std::vector<std::uint8_t> want(status.begin() + 1, status.end());
      c.That(got.Data == want, "data " + Hex(got.Data.data(), got.Data.size()));
    }
  }
  // What the session decoded is the reference's identity and status.
  std::array<std::uint8_t, sim::kReportLength> identity{};
  reference.BuildReply(10, identity);
  DeviceState expected{};
  DecodeReply(expected, identity.data() + 1, identity.size() - 1);
  DecodeReply(expected, status.data() + 1, status.size() - 1);
  c.That(SameState(session.State(), expected), "decoded state differs from the reference's");
}

const ScenarioRegistrar kUnnumbered("unnumbered", "device without report IDs: ID 0 in front of its data",
                                    Unnumbered);

}  // namespace
}  // namespace zrv::vmtest
