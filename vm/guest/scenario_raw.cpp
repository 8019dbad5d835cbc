// The driver found by product string through the Linux backend, and one command answered over
// the real hidraw node, checked on both sides.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <string>

#include "guest_support.h"
#include "link/platform/linux/linux_hid_platform.h"
#include "sim/simulated_driver.h"

namespace zrv::vmtest {
namespace {

constexpr const char* kRecordPath = "/tmp/raw-scenario.rec";

std::vector<std::string> RecordLines() {
  std::vector<std::string> lines;
  std::ifstream in(kRecordPath);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void RawRoundTrip(Checks& c) {
  std::remove(kRecordPath);
  DriverProcess driver({"--record", kRecordPath});
  LinuxHidPlatform platform;
  const auto found = WaitForProduct(platform, "ZRVXXX");
  if (!c.That(found.has_value(), "no interface with product string ZRVXXX was listed")) return;
  c.That(found->Path.rfind("/dev/hidraw", 0) == 0, "path is not a hidraw node: " + found->Path);

  // Identification from sysfs alone.
  const HidHandle id = platform.Open(found->Path, HidOpenMode::Identify);
  if (!c.That(id != kInvalidHidHandle, "identify open failed")) return;
  THidAttributes attributes;
  attributes.Size = 12;
  c.That(platform.GetAttributes(id, attributes), "attributes");
  c.Equal(attributes.VendorID, 0x1234, "vendor id");
  c.Equal(attributes.ProductID, 0x5678, "product id");
  HidPreparsedData preparsed;
  c.That(platform.GetPreparsedData(id, preparsed), "report descriptor");
  c.Equal(preparsed.Caps.InputReportByteLength, 64, "input report length");
  c.Equal(preparsed.Caps.OutputReportByteLength, 64, "output report length");
  platform.Close(id);

  const HidHandle h = platform.Open(found->Path, HidOpenMode::ReadWrite);
  if (!c.That(h != kInvalidHidHandle, "read/write open failed")) return;

  // A short write: the kernel passes it on unchecked; the firmware must ignore it.
  const std::uint8_t shortReport[2] = {1, 10};
  std::uint32_t written = 0;
  c.That(platform.Write(h, shortReport, sizeof shortReport, written), "short write refused by the kernel");

  std::array<std::uint8_t, 64> command{};
  command[0] = 1;
  command[1] = 10;
  c.That(platform.Write(h, command.data(), command.size(), written), "write of command 10");
  c.Equal(written, 64u, "bytes written");

  std::array<std::uint8_t, 64> reply{};
  const int n = ReadReport(platform, h, reply.data(), reply.size());
  c.Equal(n, 64, "identity reply length");
  sim::SimulatedDriver reference;
  std::array<std::uint8_t, sim::kReportLength> expected{};
  reference.BuildReply(10, expected);
  c.That(reply == expected, "identity reply bytes: " + Hex(reply.data(), reply.size()) + " expected " +
                                Hex(expected.data(), expected.size()));

  // hidraw queues each input report for the files open when it arrives, and only for them: a
  // file opened after the identity reply has nothing, and the next reply reaches both files.
  const int late = open(found->Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (c.That(late >= 0, "second open of the node")) {
    pollfd p{late, POLLIN, 0};
    c.Equal(poll(&p, 1, 0), 0, "reports waiting for a file opened after they arrived");
    command[1] = 11;
    c.That(platform.Write(h, command.data(), command.size(), written), "write of command 11");
    c.Equal(ReadReport(platform, h, reply.data(), reply.size()), 64, "status reply length");
    c.Equal(reply[1], 11, "status reply code");
    std::array<std::uint8_t, 64> again{};
    c.Equal(poll(&p, 1, 0), 1, "status reply waiting for the second file");
    c.Equal(read(late, again.data(), again.size()), 64, "status reply read by the second file");
    c.That(again == reply, "both files got the same report");
    close(late);
  }
  platform.Close(h);
  c.Equal(platform.OpenHandleCount(), 0u, "handles left open");

  driver.Stop();
  // The device side saw the short write as it was sent, then the whole command.
  const std::vector<std::string> lines = RecordLines();
  if (c.Equal(lines.size(), 3u, "output reports recorded by the device")) {
    c.Equal(lines[0], std::string("OUT 2 010a"), "first report at the device");
    c.Equal(lines[1], "OUT 64 010a" + std::string(124, '0'), "second report at the device");
  }
}

const ScenarioRegistrar kRaw("raw", "hidraw node found by product string, command 10 answered",
                             RawRoundTrip);

}  // namespace
}  // namespace zrv::vmtest
