// Figures of the RS485 line work, on the simulated paced line with time moved by hand, so they are
// the same on every machine: the link test's throughput against the wire's own limit for the same
// frames, and the full scan's time against the sum of what each probe must take.
#include <cstdio>
#include <optional>

#include "modbus/preview_read.h"
#include "modbus/rtu_timing.h"
#include "modbus/scan_order.h"
#include "rs485/link_test_runner.h"
#include "rs485/scan_runner.h"
#include "rs485/sim_line_transport.h"
#include "sim/rs485_line.h"
#include "support/manual_time_source.h"

namespace {

using namespace zrv;

struct Bench {
  explicit Bench(std::uint32_t baud, std::uint8_t slave = 1) : line(driver), transport(line, time, [this] { return Now(); }) {
    driver.Model().Modbus = {baud, 0, slave};
  }
  std::uint64_t Now() const { return static_cast<std::uint64_t>(time.NowMs()) * 1000; }
  ManualTimeSource time;
  sim::SimulatedDriver driver;
  sim::Rs485Line line;
  SimLineTransport transport;
};

// One exchange on the wire: the request, the answer, and the silence that ends each frame.
std::uint64_t ExchangeWireUs(std::uint32_t baud, const modbus::Request& request) {
  return modbus::TransmitTimeUs(baud, request.Bytes().size() + request.AnswerLength()) + 2 * modbus::FrameGapUs(baud);
}

void LinkThroughput(std::uint32_t baud) {
  Bench b(baud);
  LinkTestRunner runner(b.transport, b.time, [&b] { return b.Now(); });
  constexpr int kRounds = 100;
  std::optional<std::uint64_t> firstSentUs;
  std::uint64_t endUs = 0;
  std::uint32_t answered = 0;
  runner.OnFinished = [&](const modbus::LinkTest& test) {
    endUs = b.Now();
    answered = test.Verdict({}).Answered;
  };
  runner.Start({{baud, 0}, 1, kRounds});
  while (runner.Running()) {
    b.time.Advance(1);
    if (!firstSentUs && runner.Test()->Sent() > 0) firstSentUs = b.Now() - 1000;
  }
  std::uint64_t wireUs = 0;
  for (int round = 0; round < kRounds; ++round) {
    for (std::size_t i = 0; i < modbus::kPreviewReadCount; ++i) {
      wireUs += ExchangeWireUs(baud, *modbus::PreviewRead(modbus::RegisterTable::Holding, 1, i));
    }
  }
  const double spent = static_cast<double>(endUs - firstSentUs.value_or(0)) / 1e6;
  const double exchanges = kRounds * static_cast<double>(modbus::kPreviewReadCount);
  // The simulated driver takes a moment of its own before each answer, as a real one does; no
  // master can go faster than the wire and that.
  const double withTurnaround =
      static_cast<double>(wireUs) / 1e6 + exchanges * static_cast<double>(sim::Rs485Line::kTurnaroundUs) / 1e6;
  std::printf(
      "link test %6u baud: %5.1f exchanges/s (%u answered), wire limit %5.1f/s, %.2fx of the wire, %.2fx of the "
      "wire and the driver's turnaround\n",
      baud, exchanges / spent, answered, exchanges / (static_cast<double>(wireUs) / 1e6),
      (static_cast<double>(wireUs) / 1e6) / spent, withTurnaround / spent);
}

void FullScanNoAnswer() {
  Bench b(19200);
  b.line.SetFault(sim::Rs485Fault::Swapped);  // nothing answers anywhere
  ScanRunner scan(b.transport, b.time, [&b] { return b.Now(); });
  bool done = false;
  scan.OnFinished = [&](const ScanReport&) { done = true; };
  const ScanPlan plan;
  std::uint64_t owedUs = 0;
  for (const modbus::ScanProbe& probe : ScanRunner::Probes(plan)) {
    const modbus::Request request = *modbus::ProbeRequest(probe.Slave);
    owedUs += modbus::TransmitTimeUs(probe.Line.Baudrate, request.Bytes().size()) +
              modbus::ResponseTimeoutUs(probe.Line.Baudrate, request);
  }
  const std::uint64_t startUs = b.Now();
  scan.Start(plan);
  while (!done) b.time.Advance(1);
  const double spent = static_cast<double>(b.Now() - startUs) / 1e6;
  std::printf("full scan, no answer: %zu probes in %.1f s; requests on the wire plus their time-outs %.1f s: %.2fx\n",
              scan.Report().Total, spent, static_cast<double>(owedUs) / 1e6, spent / (static_cast<double>(owedUs) / 1e6));
}

void FindAtLikelySettings() {
  for (const bool usbKnown : {true, false}) {
    Bench b(19200, 1);
    b.driver.Model().Modbus = {19200, 2, 1};  // the RTU default
    ScanRunner scan(b.transport, b.time, [&b] { return b.Now(); });
    bool done = false;
    scan.OnFinished = [&](const ScanReport&) { done = true; };
    ScanPlan plan;
    if (usbKnown) plan.Usb = ModbusSettings{19200, 2, 1};
    const std::uint64_t startUs = b.Now();
    scan.Start(plan);
    while (!done) b.time.Advance(1);
    std::printf("scan, driver at 19200 8E1 slave 1, %s: found after %zu probes, %.0f ms\n",
                usbKnown ? "settings known over USB" : "no USB", scan.Report().Done,
                static_cast<double>(b.Now() - startUs) / 1e3);
  }
}

}  // namespace

int main() {
  for (const std::uint32_t baud : {9600U, 38400U, 115200U}) LinkThroughput(baud);
  FullScanNoAnswer();
  FindAtLikelySettings();
  return 0;
}
