// The scan on the event loop over the simulated line, with time moved by hand, and over a bus of
// several slaves made up here.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

#include "modbus/crc16.h"
#include "rs485/scan_runner.h"
#include "rs485/sim_line_transport.h"
#include "support/manual_time_source.h"

namespace zrv {
namespace {

// Passes everything to the transport underneath and writes down what went out at which settings.
class RecordingTransport final : public ByteTransport {
 public:
  explicit RecordingTransport(ByteTransport& inner) : inner_(inner) {
    inner_.OnReceived = [this](std::span<const std::uint8_t> b) {
      if (OnReceived) OnReceived(b);
    };
    inner_.OnError = [this](modbus::PortErrorKind k) {
      if (OnError) OnError(k);
    };
  }
  modbus::PortErrorKind Open(const modbus::LineSettings& settings) override {
    ++opens;
    line = settings;
    return inner_.Open(settings);
  }
  void Close() override { inner_.Close(); }
  bool Write(std::span<const std::uint8_t> bytes) override {
    sent.push_back({line, bytes[0]});
    functions.push_back(bytes[1]);
    return inner_.Write(bytes);
  }
  void TakePending() override { inner_.TakePending(); }

  int opens = 0;
  modbus::LineSettings line;
  std::vector<modbus::ScanProbe> sent;
  std::vector<std::uint8_t> functions;

 private:
  ByteTransport& inner_;
};

class ScanBench : public ::testing::Test {
 protected:
  ScanBench()
      : line(driver),
        sim(line, time, [this] { return Now(); }),
        transport(sim),
        runner(transport, time, [this] { return Now(); }) {
    driver.Model().Modbus = {57600, 1, 42};
    runner.OnFinished = [this](const ScanReport& r) {
      ++finished;
      report = r;
    };
    runner.OnProgress = [this](std::size_t done, std::size_t total) {
      EXPECT_EQ(done, lastDone + 1);
      EXPECT_EQ(total, runner.Report().Total);
      lastDone = done;
    };
  }

  std::uint64_t Now() const { return static_cast<std::uint64_t>(time.NowMs()) * 1000; }
  void RunToEnd(int limitMs = 600000) {
    for (int ms = 0; runner.Running() && ms < limitMs; ++ms) time.Advance(1);
  }

  ManualTimeSource time;
  sim::SimulatedDriver driver;
  sim::Rs485Line line;
  SimLineTransport sim;
  RecordingTransport transport;
  ScanRunner runner;
  int finished = 0;
  std::size_t lastDone = 0;
  std::optional<ScanReport> report;
};

TEST_F(ScanBench, FindsTheDriverWhereItListensWithoutUsbAndStopsThere) {
  ASSERT_TRUE(runner.Start({}));
  EXPECT_FALSE(runner.Start({}));
  RunToEnd();
  ASSERT_EQ(finished, 1);
  ASSERT_EQ(report->Found.size(), 1U);
  EXPECT_EQ(report->Found[0], (ScanFind{{57600, 1}, 42, 0x03, std::nullopt}));
  EXPECT_EQ(report->Port, modbus::PortErrorKind::None);
  EXPECT_FALSE(report->Cancelled);
  // It stopped at the answer: the answering probe was the last one out.
  EXPECT_EQ(transport.sent.back(), (modbus::ScanProbe{{57600, 1}, 42}));
  EXPECT_EQ(report->Done, transport.sent.size());
  EXPECT_LT(report->Done, report->Total);
  EXPECT_EQ(lastDone, report->Done);
  EXPECT_FALSE(sim.IsOpen());
  // Only reads of one holding register ever went out.
  EXPECT_TRUE(std::all_of(transport.functions.begin(), transport.functions.end(),
                          [](std::uint8_t f) { return f == modbus::kReadHoldingRegisters; }));
}

TEST_F(ScanBench, TriesUsbsSettingsFirstThenTheCommonOnesReopeningOnlyWhenTheLineChanges) {
  line.SetFault(sim::Rs485Fault::Swapped);  // nobody answers: every probe waits its time-out
  ScanPlan plan;
  plan.Usb = ModbusSettings{38400, 1, 9};
  ASSERT_TRUE(runner.Start(plan));
  time.Advance(2000);
  ASSERT_TRUE(runner.Running());
  ASSERT_GE(transport.sent.size(), 6U);
  const std::vector<modbus::ScanProbe> first(transport.sent.begin(), transport.sent.begin() + 6);
  const std::vector<modbus::ScanProbe> expected = {
      {{38400, 1}, 9}, {{38400, 1}, 1}, {{19200, 2}, 9}, {{19200, 2}, 1}, {{9600, 0}, 9}, {{9600, 0}, 1}};
  EXPECT_EQ(first, expected);
  // Each setting opened once for its two probes.
  std::vector<modbus::LineSettings> lines;
  for (const auto& p : transport.sent) {
    if (lines.empty() || !(lines.back() == p.Line)) lines.push_back(p.Line);
  }
  EXPECT_EQ(transport.opens, static_cast<int>(lines.size()));
  // A probe waits at least its time-out: at 9600 baud no more than one in 60 ms goes out.
  EXPECT_LE(transport.sent.size(), 2000U / 50U);
}

TEST_F(ScanBench, LimitsNarrowTheSearchAndFindTheDriverAtSettingsOtherThanUsbs) {
  line.SetFault(sim::Rs485Fault::Settings);
  const modbus::LineSettings real = line.DriverLineSettings();
  ScanPlan plan;
  plan.Usb = driver.Model().Modbus;
  plan.Slave = 42;
  EXPECT_EQ(ScanRunner::Probes(plan).size(), 15U);  // five baud rates × three parities
  plan.Baudrate = real.Baudrate;
  EXPECT_EQ(ScanRunner::Probes(plan).size(), 3U);
  ASSERT_TRUE(runner.Start(plan));
  RunToEnd();
  ASSERT_EQ(report->Found.size(), 1U);
  EXPECT_EQ(report->Found[0].Line, real);
  EXPECT_EQ(report->Found[0].Slave, 42);
}

TEST_F(ScanBench, CancelStopsItAndNothingMoreGoesOut) {
  line.SetFault(sim::Rs485Fault::Swapped);
  ASSERT_TRUE(runner.Start({}));
  time.Advance(300);
  runner.Cancel();
  ASSERT_EQ(finished, 1);
  EXPECT_TRUE(report->Cancelled);
  EXPECT_TRUE(report->Found.empty());
  const std::size_t sent = transport.sent.size();
  EXPECT_GE(sent, 1U);
  time.Advance(3000);
  EXPECT_EQ(transport.sent.size(), sent);
  EXPECT_EQ(finished, 1);
  EXPECT_FALSE(sim.IsOpen());
  runner.Cancel();
  EXPECT_EQ(finished, 1);
}

TEST_F(ScanBench, APortThatFailsEndsTheScanWithItsError) {
  sim.FailOpen = modbus::PortErrorKind::Busy;
  ASSERT_TRUE(runner.Start({}));
  EXPECT_FALSE(runner.Running());
  ASSERT_EQ(finished, 1);
  EXPECT_EQ(report->Port, modbus::PortErrorKind::Busy);
  EXPECT_TRUE(transport.sent.empty());

  // Unplugged in the middle.
  sim.FailOpen.reset();
  line.SetFault(sim::Rs485Fault::Swapped);
  lastDone = 0;
  ASSERT_TRUE(runner.Start({}));
  time.Advance(200);
  ASSERT_TRUE(runner.Running());
  sim.OnError(modbus::PortErrorKind::Missing);
  EXPECT_FALSE(runner.Running());
  ASSERT_EQ(finished, 2);
  EXPECT_EQ(report->Port, modbus::PortErrorKind::Missing);
  const std::size_t sent = transport.sent.size();
  time.Advance(1000);
  EXPECT_EQ(transport.sent.size(), sent);
}

// Slaves that answer at one setting: some with a register, some refusing every read.
class FakeBus final : public ByteTransport {
 public:
  FakeBus(TimeSource& time) : reply_(time, 2, false) {
    reply_.OnTimer = [this] {
      reply_.SetEnabled(false);
      std::vector<std::uint8_t> out;
      out.swap(pending_);
      if (!out.empty() && OnReceived) OnReceived(out);
    };
  }
  modbus::PortErrorKind Open(const modbus::LineSettings& s) override {
    line_ = s;
    return modbus::PortErrorKind::None;
  }
  void Close() override { reply_.SetEnabled(false); }
  bool Write(std::span<const std::uint8_t> b) override {
    const auto it = slaves.find(b[0]);
    if (!(line_ == at) || it == slaves.end()) return true;
    pending_ = it->second ? std::vector<std::uint8_t>{b[0], 0x83, *it->second}
                          : std::vector<std::uint8_t>{b[0], 0x03, 2, 0x12, 0x34};
    const std::uint16_t crc = modbus::Crc16(pending_);
    pending_.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    pending_.push_back(static_cast<std::uint8_t>(crc >> 8));
    reply_.SetEnabled(true);
    return true;
  }

  modbus::LineSettings at{9600, 0};
  std::map<std::uint8_t, std::optional<std::uint8_t>> slaves;  // address → exception code or none

 private:
  TTimer reply_;
  modbus::LineSettings line_;
  std::vector<std::uint8_t> pending_;
};

TEST(ScanAll, FindsEveryAnsweringSlaveAndSaysWhichRefused) {
  ManualTimeSource time;
  FakeBus bus(time);
  bus.slaves = {{5, std::nullopt}, {77, std::uint8_t{0x02}}, {126, std::nullopt}};
  ScanRunner runner(bus, time, [&time] { return static_cast<std::uint64_t>(time.NowMs()) * 1000; });
  std::vector<ScanFind> seen;
  runner.OnFound = [&seen](const ScanFind& f) { seen.push_back(f); };
  ScanPlan plan;
  plan.All = true;
  plan.Baudrate = 9600;
  ASSERT_TRUE(runner.Start(plan));
  for (int ms = 0; runner.Running() && ms < 100000; ++ms) time.Advance(1);
  ASSERT_FALSE(runner.Running());
  const ScanReport& r = runner.Report();
  EXPECT_EQ(r.Done, r.Total);
  EXPECT_EQ(r.Total, 3U * 127U);
  const std::vector<ScanFind> expected = {{{9600, 0}, 5, 0x03, std::nullopt},
                                          {{9600, 0}, 77, 0x83, std::uint8_t{0x02}},
                                          {{9600, 0}, 126, 0x03, std::nullopt}};
  EXPECT_EQ(r.Found, expected);
  EXPECT_EQ(seen, expected);
}

}  // namespace
}  // namespace zrv
