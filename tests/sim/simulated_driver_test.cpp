#include "sim/simulated_driver.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "protocol/reply_decoder.h"
#include "view/reply_view.h"
#include "protocol/report_framing.h"

namespace zrv::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A driver whose answers are collected, and a host side that frames and decodes as the tool does.
class Bench {
 public:
  Bench() {
    driver.SetSink([this](const std::uint8_t* report, std::size_t length) {
      replies.emplace_back(report, report + length);
    });
  }

  bool Send(const std::uint8_t* payload, std::uint32_t length) {
    OutputReport out;
    if (!FrameReport(payload, length, kReportLength, out)) return false;
    return driver.OnOutputReport(out.Buffer.data(), out.Length);
  }
  bool Command(std::uint8_t code) { return Send(&code, 1); }

  // Decodes the last reply the way the reader hands it over: without the report ID byte.
  DecodedReply DecodeLast() {
    EXPECT_FALSE(replies.empty());
    if (replies.empty()) return {};
    const Bytes& r = replies.back();
    EXPECT_EQ(r.at(0), kReportId);
    return DecodeReply(state, r.data() + 1, r.size() - 1);
  }

  SimulatedDriver driver;
  std::vector<Bytes> replies;
  DeviceState state{};
};

TEST(SimulatedDriverReplies, IdentityCarriesVersionsNameLimitsAndSettings) {
  Bench b;
  DriverModel& m = b.driver.Model();
  m.FirmwareByte = 125;
  m.SetName("ABC");
  m.HardwareByte = -3;
  m.Limits = {30000, 90, 1000, 10000};
  m.Modbus = {38400, 2, 17};

  ASSERT_TRUE(b.Command(10));
  ASSERT_EQ(b.replies.size(), 1u);
  EXPECT_EQ(b.replies[0].size(), kReportLength);
  const DecodedReply e = b.DecodeLast();
  ASSERT_EQ(e.kind, DecodedReply::Kind::Identity);
  EXPECT_EQ(IdentityView(b.state, '.').ConnectionCaption.View(), "Connected to ZRVXXX ver.: 1.25   ABC");
  EXPECT_EQ(IdentityView(b.state, '.').HardwareVersionText.View(), "-0.03");
  EXPECT_EQ(b.state.Limits.PowerSupplyMax, 30000u);
  EXPECT_EQ(b.state.Limits.TemperatureMax, 90);
  EXPECT_EQ(b.state.Limits.PwmMax, 1000);
  EXPECT_EQ(b.state.Limits.CurMax, 10000);
  EXPECT_EQ(b.state.Modbus.Baudrate, 38400u);
  EXPECT_EQ(b.state.Modbus.Parity, 2);
  EXPECT_EQ(b.state.Modbus.SlaveId, 17);
  // Nothing beyond the identity body.
  for (std::size_t i = 29; i < kReportLength; ++i) EXPECT_EQ(b.replies[0][i], 0) << i;
}

TEST(SimulatedDriverReplies, NameBytesWithoutTerminatorAreSentAsSet) {
  Bench b;
  b.driver.Model().NameBytes.fill('Q');
  ASSERT_TRUE(b.Command(10));
  const Bytes& r = b.replies.at(0);
  for (std::size_t i = 3; i <= 11; ++i) EXPECT_EQ(r[i], 'Q') << i;  // data[2..10]
  b.DecodeLast();
  EXPECT_STREQ(b.state.Identity.DeviceName.data(), "QQQQQQQQ");
}

TEST(SimulatedDriverReplies, StatusIsTheWholeRecordWithSignsKept) {
  Bench b;
  LiveStatus& s = b.driver.Model().Status;
  s.WorkMode = 9;
  s.FaultCode = 6;
  s.DriverState = 4;
  s.Inputs = 0x0F;
  s.Outputs = 0x18;
  s.Switches = 0xC0;
  s.Potentiometer = 3300;
  s.Ain = 4999;
  s.Temperature = 65535;
  s.CurAct = -1000;
  s.CurLim = 7000;
  s.PowerSupply = 4294967295u;
  s.PwmAct = -200;
  s.PwmLim = 1000;

  ASSERT_TRUE(b.Command(11));
  EXPECT_EQ(b.DecodeLast().kind, DecodedReply::Kind::Status);
  EXPECT_EQ(std::memcmp(&b.state.Status, &s, sizeof s), 0);
  EXPECT_EQ(b.state.Status.PwmAct, -200);
  EXPECT_EQ(b.state.Status.CurAct, -1000);
  // Wire positions, independent of the record: PwmAct at data[25..26].
  const Bytes& r = b.replies.at(0);
  EXPECT_EQ(r[1 + 25], 0x38);
  EXPECT_EQ(r[1 + 26], 0xFF);
}

TEST(SimulatedDriverReplies, RegisterPreviewSharesTheFrameCountHighByteWithTheBlock) {
  Bench b;
  DriverModel& m = b.driver.Model();
  m.Status.WorkMode = 3;
  m.Status.FaultCode = 1;
  m.Status.DriverState = 2;
  m.Status.Inputs = 0x0A;  // not part of the preview
  for (std::size_t k = 0; k < m.Registers.Bytes.size(); ++k) {
    m.Registers.Bytes[k] = static_cast<std::uint8_t>(0xA0 + k);
  }
  m.GoodFrames = 0x1234;
  const std::int32_t encoder = -2;
  std::memcpy(m.Registers.Bytes.data() + 52, &encoder, sizeof encoder);

  ASSERT_TRUE(b.Command(12));
  const DecodedReply e = b.DecodeLast();
  ASSERT_EQ(e.kind, DecodedReply::Kind::Registers);
  EXPECT_EQ(RegisterView(b.state.Registers, e.GoodFrames).OkFramesText.View(), "4660");
  EXPECT_EQ(b.state.Registers.Bytes[0], 0x12);
  for (std::size_t k = 1; k < m.Registers.Bytes.size(); ++k) {
    EXPECT_EQ(b.state.Registers.Bytes[k], m.Registers.Bytes[k]) << k;
  }
  EXPECT_EQ(RegisterView(b.state.Registers, e.GoodFrames).ValueTexts[14].View(), "-2");
  EXPECT_EQ(b.state.Status.WorkMode, 3);
  EXPECT_EQ(b.state.Status.FaultCode, 1);
  EXPECT_EQ(b.state.Status.DriverState, 2);
  EXPECT_EQ(b.state.Status.Inputs, 0);
  EXPECT_EQ(b.replies[0][1 + 61], 0) << "data[61] is past the block";
}

TEST(SimulatedDriverReplies, SettingsWriteIsAcknowledgedStoredAndReadBack) {
  Bench b;
  const auto payload = BuildWriteModbusSettingsPayload(ModbusSettings{115200, 1, 3});
  ASSERT_TRUE(b.Send(payload.data(), static_cast<std::uint32_t>(payload.size())));
  EXPECT_EQ(b.DecodeLast().kind, DecodedReply::Kind::SettingsSaved);
  EXPECT_EQ(b.replies.back()[1], 148);
  EXPECT_EQ(b.driver.Model().Modbus.Baudrate, 115200u);
  EXPECT_EQ(b.driver.Model().Modbus.Parity, 1);
  EXPECT_EQ(b.driver.Model().Modbus.SlaveId, 3);

  ASSERT_TRUE(b.Command(20));
  const DecodedReply e = b.DecodeLast();
  ASSERT_EQ(e.kind, DecodedReply::Kind::ModbusSettings);
  EXPECT_EQ(ModbusListView(b.state.Modbus).BaudIndex, 4);
  EXPECT_EQ(ModbusListView(b.state.Modbus).ParityIndex, 1);
  EXPECT_EQ(ModbusListView(b.state.Modbus).AddressIndex, 2);

  // The identity reply carries the stored settings as well.
  b.state.Modbus = {};
  ASSERT_TRUE(b.Command(10));
  b.DecodeLast();
  EXPECT_EQ(b.state.Modbus.Baudrate, 115200u);
  EXPECT_EQ(b.state.Modbus.SlaveId, 3);

  // The record keeps what arrived, code and payload.
  const ReceivedReport& write = b.driver.Received().at(0);
  EXPECT_TRUE(write.Accepted);
  EXPECT_EQ(write.Code(), 148);
  EXPECT_EQ(write.Payload(), Bytes(payload.begin(), payload.end()));
  EXPECT_EQ(b.driver.CommandCount(148), 1u);
  EXPECT_EQ(b.driver.CommandCount(20), 1u);
}

TEST(SimulatedDriverInput, MalformedAndUnknownReportsAreRecordedButNotAnswered) {
  Bench b;
  const std::uint8_t twoBytes[2] = {1, 10};
  EXPECT_TRUE(b.driver.OnOutputReport(twoBytes, sizeof twoBytes));
  std::array<std::uint8_t, 65> tooLong{};
  tooLong[0] = 1;
  tooLong[1] = 10;
  EXPECT_TRUE(b.driver.OnOutputReport(tooLong.data(), tooLong.size()));
  std::array<std::uint8_t, 64> wrongId{};
  wrongId[0] = 2;
  wrongId[1] = 10;
  EXPECT_TRUE(b.driver.OnOutputReport(wrongId.data(), wrongId.size()));
  EXPECT_TRUE(b.driver.OnOutputReport(nullptr, 0));
  EXPECT_TRUE(b.Command(13));
  EXPECT_TRUE(b.Command(0));

  EXPECT_TRUE(b.replies.empty());
  ASSERT_EQ(b.driver.Received().size(), 6u);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_FALSE(b.driver.Received()[i].Accepted) << i;
  EXPECT_TRUE(b.driver.Received()[4].Accepted);
  EXPECT_EQ(b.driver.Received()[4].Code(), 13);
  EXPECT_EQ(b.driver.Received()[0].Bytes, Bytes({1, 10}));
  EXPECT_EQ(b.driver.CommandCount(10), 0u);
}

TEST(SimulatedDriverInput, ShortSettingsWriteDoesNotChangeTheSettings) {
  Bench b;
  const ModbusSettings before = b.driver.Model().Modbus;
  const std::uint8_t report[8] = {1, 148, 0x00, 0xC2, 0x01, 0x00, 1, 3};
  EXPECT_TRUE(b.driver.OnOutputReport(report, sizeof report));
  EXPECT_EQ(b.driver.Model().Modbus.Baudrate, before.Baudrate);
  EXPECT_EQ(b.driver.Model().Modbus.SlaveId, before.SlaveId);
  EXPECT_TRUE(b.replies.empty());
}

TEST(SimulatedDriverInput, RecordKeepsTheNewestUpToItsLimit) {
  Bench b;
  b.driver.RecordLimit = 3;
  for (int code : {10, 11, 12, 20, 11}) b.Command(static_cast<std::uint8_t>(code));
  EXPECT_EQ(b.driver.TotalReceived(), 5u);
  ASSERT_EQ(b.driver.Received().size(), 3u);
  EXPECT_EQ(b.driver.Received()[0].Code(), 12);
  EXPECT_EQ(b.driver.Received()[2].Code(), 11);
  b.driver.ClearReceived();
  EXPECT_TRUE(b.driver.Received().empty());
}

TEST(SimulatedDriverFaults, SilenceForOneCodeOrForAll) {
  Bench b;
  b.driver.Faults().SilentFor[11] = true;
  b.Command(11);
  b.Command(10);
  ASSERT_EQ(b.replies.size(), 1u);
  EXPECT_EQ(b.replies[0][1], 10);
  EXPECT_EQ(b.driver.Received().size(), 2u);

  b.driver.Faults().SilentAll = true;
  b.Command(10);
  b.Command(20);
  b.driver.SendReply(12);
  EXPECT_EQ(b.replies.size(), 1u);

  b.driver.Faults() = DriverFaults{};
  b.Command(11);
  EXPECT_EQ(b.replies.size(), 2u);
}

TEST(SimulatedDriverFaults, LateAnswersLeaveOnlyWhenTimeReachesThemInOrder) {
  Bench b;
  b.driver.Advance(1000);
  b.driver.Faults().ReplyDelayMs = 100;
  b.Command(11);
  b.driver.Advance(1050);
  b.Command(10);
  EXPECT_EQ(b.driver.PendingReplies(), 2u);
  b.driver.Advance(1099);
  EXPECT_TRUE(b.replies.empty());
  b.driver.Advance(500);  // time never runs backwards
  EXPECT_TRUE(b.replies.empty());
  b.driver.Advance(1100);
  ASSERT_EQ(b.replies.size(), 1u);
  EXPECT_EQ(b.replies[0][1], 11);
  b.driver.Advance(5000);
  ASSERT_EQ(b.replies.size(), 2u);
  EXPECT_EQ(b.replies[1][1], 10);
  EXPECT_EQ(b.driver.PendingReplies(), 0u);
  EXPECT_EQ(b.driver.TotalReplies(), 2u);
}

TEST(SimulatedDriverFaults, LateAnswerAskedFromTheSinkWaitsForTheNextAdvance) {
  SimulatedDriver driver;
  int delivered = 0;
  driver.SetSink([&](const std::uint8_t*, std::size_t) {
    ++delivered;
    std::array<std::uint8_t, kReportLength> again{};
    again[0] = kReportId;
    again[1] = 11;
    driver.OnOutputReport(again.data(), again.size());
  });
  driver.Advance(0);
  driver.Faults().ReplyDelayMs = 10;
  driver.SendReply(11);
  driver.Advance(10);
  EXPECT_EQ(delivered, 1);
  EXPECT_EQ(driver.PendingReplies(), 1u);
  driver.Advance(20);
  EXPECT_EQ(delivered, 2);
}

TEST(SimulatedDriverFaults, WrongCodeIsIgnoredByTheHost) {
  Bench b;
  b.driver.Model().Status.PwmAct = 123;
  b.driver.Faults().WrongCode = true;
  b.driver.Faults().WrongCodeValue = 13;
  b.Command(11);
  ASSERT_EQ(b.replies.size(), 1u);
  EXPECT_EQ(b.replies[0][1], 13);
  EXPECT_EQ(b.DecodeLast().kind, DecodedReply::Kind::None);
  EXPECT_EQ(b.state.Status.PwmAct, 0);
}

TEST(SimulatedDriverFaults, ShortAnswerIsCutAndNotDecoded) {
  Bench b;
  b.driver.Faults().ShortReplyLength = 20;
  b.Command(11);
  ASSERT_EQ(b.replies.size(), 1u);
  EXPECT_EQ(b.replies[0].size(), 20u);
  EXPECT_EQ(b.DecodeLast().kind, DecodedReply::Kind::None);
  b.driver.Faults().ShortReplyLength = 1000;  // never longer than a report
  b.Command(11);
  EXPECT_EQ(b.replies.back().size(), kReportLength);

  b.driver.Faults().ShortReplyLength = 3;
  b.driver.Faults().ShortReplyOnlyFor = 10;
  b.Command(11);
  EXPECT_EQ(b.replies.back().size(), kReportLength);
  b.Command(10);
  EXPECT_EQ(b.replies.back().size(), 3u);
}

TEST(SimulatedDriverFaults, FailingWritesReachNothing) {
  Bench b;
  b.driver.Faults().FailWrites = true;
  EXPECT_TRUE(b.driver.WritesFail());
  const auto payload = BuildWriteModbusSettingsPayload(ModbusSettings{9600, 0, 99});
  EXPECT_FALSE(b.Send(payload.data(), static_cast<std::uint32_t>(payload.size())));
  EXPECT_NE(b.driver.Model().Modbus.SlaveId, 99);
  EXPECT_TRUE(b.replies.empty());
  EXPECT_TRUE(b.driver.Received().empty());
}

TEST(SimulatedDriverFaults, UnaskedReplyIsDecodedInFull) {
  Bench b;
  b.driver.Model().Modbus = {14400, 7, 0};
  b.driver.SendReply(20);
  const DecodedReply e = b.DecodeLast();
  ASSERT_EQ(e.kind, DecodedReply::Kind::ModbusSettings);
  EXPECT_EQ(ModbusListView(b.state.Modbus).BaudIndex, kNoSelection);
  EXPECT_EQ(ModbusListView(b.state.Modbus).ParityIndex, 2);
  EXPECT_EQ(ModbusListView(b.state.Modbus).AddressIndex, 0);
  EXPECT_TRUE(b.driver.Received().empty());
}

bool HasFailure() { return ::testing::Test::HasFailure(); }

// Runs the lively driver for `minutes` of its time, polling status every 40 ms as the tool does.
struct LivelyRun {
  int states[256] = {};
  int faults[256] = {};
  int minPot = 1 << 30, maxPot = -1;
  int minPwm = 1 << 30, maxPwm = -(1 << 30);
  int minTemp = 1 << 30, maxTemp = -1;
  std::uint16_t firstFrames = 0, lastFrames = 0;
  std::vector<Bytes> stream;
};

LivelyRun RunLively(Bench& b, int minutes, std::uint32_t seed) {
  LivelyRun run;
  b.driver.Advance(0);
  b.driver.SetLively(true, seed);
  const DriverLimits lim = b.driver.Model().Limits;
  for (std::uint64_t t = 40; t <= static_cast<std::uint64_t>(minutes) * 60000; t += 40) {
    b.driver.Advance(t);
    b.Command(11);
    b.DecodeLast();
    const LiveStatus& s = b.state.Status;
    EXPECT_LE(s.Potentiometer, 3300);
    EXPECT_LE(s.Ain, 5000);
    EXPECT_LE(s.Temperature, lim.TemperatureMax);
    EXPECT_LE(s.PowerSupply, lim.PowerSupplyMax);
    EXPECT_LE(std::abs(s.PwmAct), lim.PwmMax);
    EXPECT_LE(std::abs(s.CurAct), s.CurLim);
    EXPECT_LE(s.CurLim, lim.CurMax);
    EXPECT_LE(s.WorkMode, 6);
    EXPECT_LE(s.FaultCode, 5);
    EXPECT_LE(s.DriverState, 3);
    EXPECT_EQ(s.FaultCode != 0, s.DriverState == 2);
    EXPECT_EQ((s.Outputs & 0x08) != 0, s.DriverState == 2);
    EXPECT_EQ((s.Outputs & 0x10) != 0, s.DriverState == 3);
    if (HasFailure()) return run;
    ++run.states[s.DriverState];
    ++run.faults[s.FaultCode];
    run.minPot = std::min<int>(run.minPot, s.Potentiometer);
    run.maxPot = std::max<int>(run.maxPot, s.Potentiometer);
    run.minPwm = std::min<int>(run.minPwm, s.PwmAct);
    run.maxPwm = std::max<int>(run.maxPwm, s.PwmAct);
    run.minTemp = std::min<int>(run.minTemp, s.Temperature);
    run.maxTemp = std::max<int>(run.maxTemp, s.Temperature);
    if (run.stream.size() < 2000) run.stream.push_back(b.replies.back());
  }
  b.Command(12);
  run.lastFrames = static_cast<std::uint16_t>(b.replies.back()[5] | (b.replies.back()[6] << 8));
  return run;
}

TEST(SimulatedDriverLively, ReadingsMoveAndStayInRange) {
  Bench b;
  const LivelyRun run = RunLively(b, 5, 7);
  ASSERT_FALSE(HasFailure());
  EXPECT_GT(run.states[0] + run.states[1], 0);
  EXPECT_GT(run.states[1], 0) << "never ran";
  EXPECT_GT(run.states[2], 0) << "never faulted";
  EXPECT_GT(run.states[3], 0) << "never stopped on the current limit";
  EXPECT_LT(run.minPot, 100);
  EXPECT_GT(run.maxPot, 3200);
  EXPECT_LT(run.minPwm, -500) << "direction never reversed";
  EXPECT_GT(run.maxPwm, 500);
  EXPECT_GT(run.maxTemp, run.minTemp);
  EXPECT_GT(run.lastFrames, 1000) << "good frame count did not grow";
  // The driver's own register view follows its readings.
  const LiveStatus& s = b.driver.Model().Status;
  std::uint16_t potValue = 0;
  std::memcpy(&potValue, b.driver.Model().Registers.Bytes.data() + 50, 2);
  EXPECT_EQ(potValue, s.Potentiometer);
}

TEST(SimulatedDriverLively, FaultsOnDemandComeAtTheirIntervalAndClear) {
  Bench b;
  b.driver.Advance(0);
  b.driver.SetLively(true, 5);
  b.driver.SetLivelyFaultEvery(5000);
  std::vector<std::uint64_t> onsets;
  std::uint8_t last = 0;
  for (std::uint64_t t = 40; t <= 60000; t += 40) {
    b.driver.Advance(t);
    b.Command(11);
    b.DecodeLast();
    const std::uint8_t fault = b.state.Status.FaultCode;
    if (fault != 0 && last == 0) onsets.push_back(t);
    last = fault;
  }
  // The first after the usual 8 to 16 s, then one every 5 s, each over before the next.
  ASSERT_GE(onsets.size(), 9U);
  for (std::size_t i = 1; i < onsets.size(); ++i) {
    EXPECT_NEAR(static_cast<double>(onsets[i] - onsets[i - 1]), 5000.0, 80.0) << i;
  }
}

TEST(SimulatedDriverLively, SameSeedRepeatsAndAnotherDiffers) {
  Bench a, b, c;
  const LivelyRun ra = RunLively(a, 2, 42);
  const LivelyRun rb = RunLively(b, 2, 42);
  const LivelyRun rc = RunLively(c, 2, 43);
  ASSERT_FALSE(ra.stream.empty());
  EXPECT_EQ(ra.stream, rb.stream);
  EXPECT_NE(ra.stream, rc.stream);
}

TEST(SimulatedDriverLively, ALongSleepOfTheClockIsCaughtUpInBoundedSteps) {
  Bench b;
  b.driver.Advance(0);
  b.driver.SetLively(true, 3);
  b.driver.Advance(24ull * 3600 * 1000);  // a day later: must return promptly and stay sane
  b.Command(11);
  b.DecodeLast();
  EXPECT_LE(b.state.Status.Potentiometer, 3300);
  EXPECT_LE(std::abs(b.state.Status.PwmAct), b.driver.Model().Limits.PwmMax);
}

TEST(SimulatedDriverLively, StoppingKeepsTheLastReadings) {
  Bench b;
  b.driver.Advance(0);
  b.driver.SetLively(true, 5);
  b.driver.Advance(3000);
  b.driver.SetLively(false);
  const LiveStatus before = b.driver.Model().Status;
  b.driver.Advance(60000);
  EXPECT_EQ(std::memcmp(&before, &b.driver.Model().Status, sizeof before), 0);
}

}  // namespace
}  // namespace zrv::sim
