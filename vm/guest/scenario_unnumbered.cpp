// A device without numbered reports: the kernel reads its reports without an ID byte; the layer
// puts a 0 in front, so the handler sees report ID 0 and the data after it.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>

#include "connector.h"
#include "guest_support.h"
#include "link/platform/linux/linux_hid_platform.h"
#include "support/run_until.h"
#include "sim/simulated_driver.h"

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

  // Through the device object and its reader.
  Connector connector(platform, u"ZRVXXX");
  if (!c.That(test::RunUntil([&] { return connector.Changes() >= 1 && connector.Driver() != nullptr; }, kRounds),
              "driver not found by the controller")) {
    return;
  }
  c.That(test::RunUntil([&] { return connector.ReaderListening(); }, kRounds), "no reader");
  const std::uint8_t command = 11;
  c.That(connector.Send(0, &command, 1), "WriteReport with report ID 0");
  if (!c.That(test::RunUntil([&] { return !connector.Received().empty(); }, kRounds), "no reply")) return;
  const ReceivedInput& got = connector.Received().front();
  c.Equal(got.ReportId, 0, "report ID delivered");
  c.Equal(got.Data.size(), 63u, "Size delivered");
  const std::vector<std::uint8_t> want(status.begin() + 1, status.end());
  c.That(got.Data == want, "data " + Hex(got.Data.data(), got.Data.size()));
}

const ScenarioRegistrar kUnnumbered("unnumbered", "device without report IDs: ID 0 in front of its data",
                                    Unnumbered);

}  // namespace
}  // namespace zrv::vmtest
