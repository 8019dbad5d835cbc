// The simulated driver's RS485 slave and the paced line between it and the PC's adapter, with the
// faults of real lines, seen in the raw bytes each side gets.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "modbus/crc16.h"
#include "modbus/preview_read.h"
#include "modbus/request.h"
#include "modbus/response.h"
#include "modbus/rtu_timing.h"
#include "protocol/register_map.h"
#include "sim/rs485_line.h"
#include "sim/simulated_driver.h"

namespace zrv::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using modbus::ReplyKind;
using modbus::Request;

Bytes WithCrc(Bytes frame) {
  const std::uint16_t crc = modbus::Crc16(frame);
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
  return frame;
}

Bytes Of(const Request& r) { return {r.Bytes().begin(), r.Bytes().end()}; }

// A driver at 19200 even, address 7, whose register n holds 1000 + n (112..113: one value).
class Rs485Bench : public ::testing::Test {
 protected:
  Rs485Bench() : line(driver) {
    driver.Model().Modbus = {19200, 2, 7};
    for (const RegisterRun& run : kBlockRegisterRuns) {
      for (std::uint16_t i = 0; i < run.Count; ++i) {
        const auto v = static_cast<std::uint16_t>(1000 + run.First + i);
        std::memcpy(driver.Model().Registers.Bytes.data() + run.Offset + 2 * i, &v, sizeof v);
      }
    }
    line.SetAdapterSettings({19200, 2});
  }

  Bytes Frame(const Bytes& frame) { return driver.OnRs485Frame(frame, false); }

  // One request on the line, waited for as the master would, to its time-out.
  modbus::Reply Exchange(const Request& request, Bytes* raw = nullptr) {
    const std::uint64_t start = line.NowUs();
    line.Send(request.Bytes());
    line.AdvanceTo(start + modbus::ResponseTimeoutUs(line.AdapterSettings().Baudrate, request));
    const Bytes got = line.TakeReceived();
    if (raw != nullptr) *raw = got;
    return modbus::ParseReply(request, got, true);
  }

  // The driver's good-frame count as reply 12 carries it (data[4..5], after the report ID).
  std::uint16_t CounterOverUsb() const {
    std::array<std::uint8_t, kReportLength> report{};
    EXPECT_TRUE(driver.BuildReply(12, report));
    return static_cast<std::uint16_t>(report[5] | (report[6] << 8));
  }

  SimulatedDriver driver;
  Rs485Line line;
  const Request read100 = *Request::ReadHolding(7, 100, 14);
};

TEST_F(Rs485Bench, TheSlaveAnswersReadsFromTheBlockReply12Carries) {
  Bytes answer = Frame(Of(*Request::ReadHolding(7, 0, 11)));
  modbus::Reply r = modbus::ParseReply(*Request::ReadHolding(7, 0, 11), answer, true);
  ASSERT_EQ(r.Kind, ReplyKind::Answer);
  EXPECT_EQ(r.Registers[0], 1000);
  EXPECT_EQ(r.Registers[10], 1010);
  const Request input = *Request::ReadInput(7, 110, 4);
  r = modbus::ParseReply(input, Frame(Of(input)), true);
  ASSERT_EQ(r.Kind, ReplyKind::Answer);
  EXPECT_EQ(r.Registers[3], 1113);
  // Read back into the preview's layout, every row shows what USB shows.
  modbus::Rs485Registers regs;
  for (std::size_t i = 0; i < modbus::kPreviewReadCount; ++i) {
    const Request q = *modbus::PreviewRead(modbus::RegisterTable::Input, 7, i);
    modbus::PlaceAnswer(regs, q, modbus::ParseReply(q, Frame(Of(q)), true));
  }
  EXPECT_EQ(modbus::CompareWithUsb(regs, driver.Model().Registers, driver.Model().Registers).Compared, 15);
  EXPECT_TRUE(modbus::CompareWithUsb(regs, driver.Model().Registers, driver.Model().Registers).AllAgree());
  // The echo test returns the request.
  EXPECT_EQ(Frame(Of(*Request::Echo(7, 0xBEEF))), Of(*Request::Echo(7, 0xBEEF)));
}

TEST_F(Rs485Bench, TheSlaveRefusesWhatItDoesNotHoldAndNeverWrites) {
  const auto exceptionOf = [&](const Bytes& frame) -> int {
    const Bytes a = Frame(frame);
    if (a.size() != 5 || !modbus::CrcMatches(a) || (a[1] & 0x80) == 0) return -1;
    return a[2];
  };
  EXPECT_EQ(exceptionOf(Of(*Request::ReadHolding(7, 11, 1))), 2);   // between the runs
  EXPECT_EQ(exceptionOf(Of(*Request::ReadHolding(7, 9, 3))), 2);    // running past register 10
  EXPECT_EQ(exceptionOf(Of(*Request::ReadInput(7, 99, 2))), 2);
  EXPECT_EQ(exceptionOf(Of(*Request::ReadInput(7, 113, 2))), 2);
  EXPECT_EQ(exceptionOf(WithCrc({7, 3, 0, 0, 0, 0})), 3);           // no register asked
  const Bytes before(driver.Model().Registers.Bytes.begin(), driver.Model().Registers.Bytes.end());
  const ModbusSettings settings = driver.Model().Modbus;
  EXPECT_EQ(exceptionOf(WithCrc({7, 6, 0, 0, 0, 9})), 1);           // write single register
  EXPECT_EQ(exceptionOf(WithCrc({7, 16, 0, 0, 0, 1, 2, 0, 9})), 1);  // write multiple registers
  EXPECT_EQ(exceptionOf(WithCrc({7, 1, 0, 0, 0, 8})), 1);           // read coils
  EXPECT_EQ(exceptionOf(WithCrc({7, 8, 0, 1, 0, 0})), 1);           // diagnostics other than the echo
  EXPECT_EQ(Bytes(driver.Model().Registers.Bytes.begin(), driver.Model().Registers.Bytes.end()), before);
  EXPECT_EQ(driver.Model().Modbus.SlaveId, settings.SlaveId);
}

TEST_F(Rs485Bench, OnlyGoodFramesCountAndOnlyItsOwnAddressIsAnswered) {
  const std::uint16_t start = CounterOverUsb();
  EXPECT_TRUE(Frame(Of(*Request::ReadHolding(8, 0, 1))).empty());  // another slave's: counted
  EXPECT_TRUE(Frame(WithCrc({0, 3, 0, 0, 0, 1})).empty());         // broadcast: counted
  Bytes bad = Of(read100);
  bad[7] ^= 1;
  EXPECT_TRUE(Frame(bad).empty());                                  // CRC error: not counted
  EXPECT_TRUE(driver.OnRs485Frame(Of(read100), true).empty());     // parity error: not counted
  EXPECT_TRUE(Frame({7}).empty());
  EXPECT_EQ(CounterOverUsb(), start + 2);
  EXPECT_FALSE(Frame(Of(read100)).empty());
  EXPECT_EQ(CounterOverUsb(), start + 3);
  EXPECT_EQ(driver.Rs485().FramesSeen(), 6U);

  // A settings save through USB moves the slave to its new address.
  std::array<std::uint8_t, kReportLength> save{};
  save[0] = kReportId;
  save[1] = 148;
  const ModbusSettings moved{38400, 0, 9};
  std::memcpy(save.data() + 2, &moved, sizeof moved);
  ASSERT_TRUE(driver.OnOutputReport(save.data(), save.size()));
  EXPECT_TRUE(Frame(Of(read100)).empty());
  EXPECT_FALSE(Frame(Of(*Request::ReadHolding(9, 100, 14))).empty());
  EXPECT_EQ(line.DriverLineSettings(), (modbus::LineSettings{38400, 0}));
}

TEST_F(Rs485Bench, TheLineIsPacedAtElevenBitsACharacter) {
  line.Send(read100.Bytes());
  const std::uint64_t ch = modbus::CharacterTimeUs(19200);  // 573 us
  line.AdvanceTo(8 * ch - 1);
  EXPECT_EQ(line.CharactersToDriver(), 7U);
  line.AdvanceTo(modbus::TransmitTimeUs(19200, 8));
  EXPECT_EQ(line.CharactersToDriver(), 8U);
  // The driver acts once the frame gap has passed, and answers after its turnaround.
  const std::uint64_t frameEnd = modbus::TransmitTimeUs(19200, 8) + modbus::FrameGapUs(19200);
  line.AdvanceTo(frameEnd - 1);
  EXPECT_EQ(driver.Rs485().FramesSeen(), 0U);
  EXPECT_EQ(line.NextEventUs(), frameEnd);
  line.AdvanceTo(frameEnd);
  EXPECT_EQ(driver.Rs485().FramesSeen(), 1U);
  const std::uint64_t answerStart = frameEnd + Rs485Line::kTurnaroundUs;
  line.AdvanceTo(answerStart + ch - 1);
  EXPECT_TRUE(line.TakeReceived().empty());
  line.AdvanceTo(answerStart + ch);
  EXPECT_EQ(line.TakeReceived().size(), 1U);
  line.AdvanceTo(answerStart + modbus::TransmitTimeUs(19200, 33) - 1);
  EXPECT_EQ(line.TakeReceived().size(), 31U);
  line.AdvanceTo(answerStart + modbus::TransmitTimeUs(19200, 33));
  EXPECT_EQ(line.TakeReceived().size(), 1U);
  EXPECT_FALSE(line.NextEventUs());

  // Two frames sent back to back go out one after the other.
  const std::uint64_t t = line.NowUs();
  line.Send(read100.Bytes());
  line.Send(read100.Bytes());
  line.AdvanceTo(t + modbus::TransmitTimeUs(19200, 16) - 1);
  EXPECT_EQ(line.CharactersToDriver(), 8U + 15U);
}

TEST_F(Rs485Bench, WithoutAFaultEveryReadIsAnsweredAndCounted) {
  const std::uint16_t before = CounterOverUsb();
  for (int i = 0; i < 5; ++i) {
    const modbus::Reply r = Exchange(read100);
    ASSERT_EQ(r.Kind, ReplyKind::Answer);
    EXPECT_FALSE(r.EchoSeen);
    EXPECT_EQ(r.Registers[13], 1113);
  }
  EXPECT_EQ(CounterOverUsb(), before + 5);
  // The adapter at another baud rate or parity: the driver's UART decodes nothing.
  line.SetAdapterSettings({9600, 2});
  EXPECT_EQ(Exchange(read100).Kind, ReplyKind::Nothing);
  line.SetAdapterSettings({19200, 0});
  EXPECT_EQ(Exchange(read100).Kind, ReplyKind::Nothing);
  EXPECT_EQ(CounterOverUsb(), before + 5);
  EXPECT_EQ(line.DamagedCharactersToDriver(), 16U);
}

TEST_F(Rs485Bench, SwappedWiresReachTheDriverAsDamagedCharactersOnly) {
  line.SetFault(Rs485Fault::Swapped);
  const std::uint16_t before = CounterOverUsb();
  Bytes raw;
  EXPECT_EQ(Exchange(read100, &raw).Kind, ReplyKind::Nothing);
  EXPECT_TRUE(raw.empty());
  EXPECT_EQ(line.DamagedCharactersToDriver(), 8U);
  EXPECT_EQ(driver.Rs485().FramesSeen(), 1U);
  EXPECT_EQ(CounterOverUsb(), before);
}

TEST_F(Rs485Bench, NoTerminationSpoilsEveryThirdFrameEachWay) {
  line.SetFault(Rs485Fault::NoTermination);
  const std::uint16_t before = CounterOverUsb();
  int answers = 0;
  int crcErrors = 0;
  int silent = 0;
  for (int i = 0; i < 9; ++i) {
    switch (Exchange(read100).Kind) {
      case ReplyKind::Answer: ++answers; break;
      case ReplyKind::CrcError: ++crcErrors; break;
      case ReplyKind::Nothing: ++silent; break;
      default: ADD_FAILURE() << "request " << i; break;
    }
  }
  // Requests 3, 6 and 9 reach the driver mangled; of its six answers, the 3rd and 6th come back so.
  EXPECT_EQ(CounterOverUsb(), before + 6);
  EXPECT_EQ(silent, 3);
  EXPECT_EQ(crcErrors, 2);
  EXPECT_EQ(answers, 4);
}

TEST_F(Rs485Bench, ADeafAdapterHearsNothingWhileTheDriverCountsAndAnswers) {
  line.SetFault(Rs485Fault::Deaf);
  const std::uint16_t before = CounterOverUsb();
  Bytes raw;
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Exchange(read100, &raw).Kind, ReplyKind::Nothing);
  EXPECT_TRUE(raw.empty());
  EXPECT_EQ(CounterOverUsb(), before + 4);
  EXPECT_EQ(driver.Rs485().Answers(), 4U);
}

TEST_F(Rs485Bench, AnEchoingAdapterReadsItsRequestBackBeforeTheAnswer) {
  line.SetFault(Rs485Fault::Echo);
  line.Send(read100.Bytes());
  // The echo comes as the characters go out, well before the driver can answer.
  line.AdvanceTo(modbus::TransmitTimeUs(19200, 8));
  EXPECT_EQ(line.TakeReceived(), Of(read100));
  line.AdvanceTo(line.NowUs() + modbus::ResponseTimeoutUs(19200, read100));
  const Bytes answer = line.TakeReceived();
  EXPECT_EQ(answer.size(), 33U);
  Bytes both = Of(read100);
  both.insert(both.end(), answer.begin(), answer.end());
  const modbus::Reply r = modbus::ParseReply(read100, both, true);
  EXPECT_EQ(r.Kind, ReplyKind::Answer);
  EXPECT_TRUE(r.EchoSeen);
}

TEST_F(Rs485Bench, ATwinAnswersAtTheDriversAddressWithOtherValues) {
  line.SetFault(Rs485Fault::Twin);
  const std::uint16_t before = CounterOverUsb();
  modbus::Rs485Registers regs;
  for (std::size_t i = 0; i < modbus::kPreviewReadCount; ++i) {
    const Request q = *modbus::PreviewRead(modbus::RegisterTable::Holding, 7, i);
    const modbus::Reply r = Exchange(q);
    ASSERT_EQ(r.Kind, ReplyKind::Answer);
    modbus::PlaceAnswer(regs, q, r);
  }
  const modbus::Agreement a = modbus::CompareWithUsb(regs, driver.Model().Registers, driver.Model().Registers);
  EXPECT_EQ(a.Compared, 15);
  EXPECT_EQ(a.Disagreeing, 15);
  EXPECT_TRUE(modbus::CompareWithUsb(regs, line.TwinModel().Registers, line.TwinModel().Registers).AllAgree());
  EXPECT_EQ(CounterOverUsb(), before + 2);  // the driver heard both requests too
}

TEST_F(Rs485Bench, ASlowDriverAnswersJustInsideTheTimeOut) {
  line.SetFault(Rs485Fault::Slow);
  const std::uint64_t timeout = modbus::ResponseTimeoutUs(19200, read100);
  line.Send(read100.Bytes());
  const std::uint64_t normalEnd = modbus::TransmitTimeUs(19200, 8) + modbus::FrameGapUs(19200) +
                                  Rs485Line::kTurnaroundUs + modbus::TransmitTimeUs(19200, 33);
  line.AdvanceTo(normalEnd);
  EXPECT_TRUE(line.TakeReceived().empty());  // a driver without the fault would be done by now
  line.AdvanceTo(timeout);
  const Bytes got = line.TakeReceived();
  EXPECT_EQ(modbus::ParseReply(read100, got, true).Kind, ReplyKind::Answer);
  EXPECT_FALSE(line.NextEventUs());
  EXPECT_GT(timeout - normalEnd, Rs485Line::kSlowTurnaroundUs - Rs485Line::kTurnaroundUs);
}

TEST_F(Rs485Bench, UnderTheSettingsFaultTheDriverListensElsewhere) {
  line.SetFault(Rs485Fault::Settings);
  const std::uint16_t before = CounterOverUsb();
  // The adapter at the settings USB reports: nothing is decoded, nothing answered.
  EXPECT_EQ(Exchange(read100).Kind, ReplyKind::Nothing);
  EXPECT_EQ(CounterOverUsb(), before);
  const modbus::LineSettings real = line.DriverLineSettings();
  EXPECT_NE(real, (modbus::LineSettings{19200, 2}));
  EXPECT_EQ(real, (modbus::LineSettings{38400, 0}));
  line.SetAdapterSettings(real);
  EXPECT_EQ(Exchange(read100).Kind, ReplyKind::Answer);
  EXPECT_EQ(CounterOverUsb(), before + 1);
}

TEST(Rs485Fault, NamesGoBothWays) {
  for (int f = 0; f <= static_cast<int>(Rs485Fault::Settings); ++f) {
    const auto fault = static_cast<Rs485Fault>(f);
    EXPECT_EQ(Rs485FaultFromName(Rs485FaultName(fault)), fault);
  }
  EXPECT_EQ(Rs485FaultName(Rs485Fault::NoTermination), "rs485-no-termination");
  EXPECT_FALSE(Rs485FaultFromName("rs485-bogus"));
}

TEST(SimulatedDriverLivelyRs485, TheGoodFrameCountMovesOnlyWithFramesFromTheLine) {
  SimulatedDriver quiet;
  quiet.Advance(0);
  quiet.Advance(10000);
  EXPECT_EQ(quiet.Model().GoodFrames, 0);  // time alone counts nothing
  SimulatedDriver lively;
  lively.SetLively(true, 3);
  lively.Advance(0);
  lively.Advance(1000);
  // Its bus master's four polls a second are real frames through the slave.
  EXPECT_EQ(lively.Model().GoodFrames, 4);
  EXPECT_EQ(lively.Rs485().GoodFrames(), 4U);
  EXPECT_EQ(lively.Rs485().Answers(), 4U);
}

}  // namespace
}  // namespace zrv::sim
