// The bytes that leave for the line and the judging of what comes back.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "modbus/crc16.h"
#include "modbus/request.h"
#include "modbus/response.h"
#include "modbus/rtu_timing.h"

namespace zrv::modbus {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Hex(const std::string& text) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < text.size();) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    out.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return out;
}

Bytes Of(const Request& r) { return {r.Bytes().begin(), r.Bytes().end()}; }

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(Crc16, MatchesPublishedFrames) {
  const std::string check = "123456789";
  EXPECT_EQ(Crc16(Bytes(check.begin(), check.end())), 0x4B37);
  // The answer of the protocol's own worked example, CRC included.
  const Bytes answer = Hex("11 03 06 AE 41 56 52 43 40 49 AD");
  EXPECT_TRUE(CrcMatches(answer));
  Bytes flipped = answer;
  for (std::size_t i = 0; i < flipped.size(); ++i) {
    flipped[i] ^= 0x10;
    EXPECT_FALSE(CrcMatches(flipped)) << "byte " << i;
    flipped[i] ^= 0x10;
  }
  EXPECT_FALSE(CrcMatches(Hex("FF FF")));
}

TEST(Request, BytesOnTheLineAreTheProtocolsOwn) {
  EXPECT_EQ(Of(*Request::ReadHolding(0x11, 0x006B, 3)), Hex("11 03 00 6B 00 03 76 87"));
  EXPECT_EQ(Of(*Request::ReadInput(1, 0, 10)), Hex("01 04 00 00 00 0A 70 0D"));
  EXPECT_EQ(Of(*Request::Echo(1, 0xA537)), Hex("01 08 00 00 A5 37 DA 8D"));
  const Request r = *Request::ReadInput(1, 100, 14);
  EXPECT_EQ(r.AnswerLength(), 33U);
  EXPECT_EQ(r.First(), 100);
  EXPECT_EQ(r.Count(), 14);
  EXPECT_EQ(Request::Echo(5, 7)->AnswerLength(), 8U);
}

TEST(Request, FactoriesRefuseWhatNoSlaveCouldAnswer) {
  EXPECT_FALSE(Request::ReadHolding(0, 0, 1));    // broadcast
  EXPECT_FALSE(Request::ReadHolding(248, 0, 1));  // reserved
  EXPECT_FALSE(Request::ReadInput(1, 0, 0));
  EXPECT_FALSE(Request::ReadInput(1, 0, 126));
  EXPECT_FALSE(Request::ReadHolding(1, 0xFFFF, 2));
  EXPECT_TRUE(Request::ReadHolding(1, 0xFFFF, 1));
  EXPECT_TRUE(Request::ReadHolding(247, 0, 125));
  EXPECT_FALSE(Request::Echo(0, 1));
}

// Nothing but the three factories makes a Request, its bytes cannot be changed afterwards, and
// whatever they are given, the function code that leaves is 03, 04 or 08 with sub-function 0.
static_assert(!std::is_default_constructible_v<Request>);
static_assert(!std::is_aggregate_v<Request>);
static_assert(!std::is_constructible_v<Request, RequestKind, std::uint8_t, std::uint16_t, std::uint16_t>);
static_assert(std::is_const_v<std::remove_reference_t<decltype(std::declval<Request&>().Bytes())>>);

TEST(Request, NoInputBuildsAnyOtherFunctionCode) {
  std::set<std::uint8_t> functions;
  std::size_t built = 0;
  const std::uint16_t samples[] = {0, 1, 2, 5, 6, 15, 16, 0x17, 0x2B, 0x80, 0xFF, 0x100, 0x0506, 0xFF00, 0xFFFF};
  for (int slave = 0; slave < 256; ++slave) {
    const auto s = static_cast<std::uint8_t>(slave);
    for (const std::uint16_t a : samples) {
      for (const std::uint16_t b : samples) {
        for (const auto& r : {Request::ReadHolding(s, a, b), Request::ReadInput(s, a, b), Request::Echo(s, b)}) {
          if (!r) continue;
          ++built;
          const RequestBytes& bytes = r->Bytes();
          functions.insert(bytes[1]);
          EXPECT_TRUE(CrcMatches(bytes));
          EXPECT_EQ(bytes[0], s);
          if (bytes[1] == kDiagnostics) {
            EXPECT_EQ(bytes[2] << 8 | bytes[3], 0) << "sub-function";
          }
        }
      }
    }
  }
  EXPECT_GT(built, 10000U);
  EXPECT_EQ(functions, (std::set<std::uint8_t>{kReadHoldingRegisters, kReadInputRegisters, kDiagnostics}));
}

class ReplyTest : public ::testing::Test {
 protected:
  const Request read = *Request::ReadHolding(0x11, 0x006B, 3);
  const Bytes answer = Hex("11 03 06 AE 41 56 52 43 40 49 AD");
};

TEST_F(ReplyTest, ANormalAnswerGivesItsRegisters) {
  const Reply r = ParseReply(read, answer, false);
  ASSERT_EQ(r.Kind, ReplyKind::Answer);
  EXPECT_FALSE(r.EchoSeen);
  ASSERT_EQ(r.RegisterCount, 3);
  EXPECT_EQ(r.Registers[0], 0xAE41);
  EXPECT_EQ(r.Registers[2], 0x4340);
  EXPECT_TRUE(r.FromSlave());
  EXPECT_EQ(r.Extra, 0U);
  // Every shorter part of it waits, and is short once the line is silent.
  for (std::size_t n = 1; n < answer.size(); ++n) {
    const Bytes part(answer.begin(), answer.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_EQ(ParseReply(read, part, false).Kind, ReplyKind::NeedMore) << n;
    EXPECT_EQ(ParseReply(read, part, true).Kind, ReplyKind::Short) << n;
  }
  EXPECT_EQ(ParseReply(read, {}, false).Kind, ReplyKind::Nothing);
  EXPECT_EQ(ParseReply(read, {}, true).Kind, ReplyKind::Nothing);
  EXPECT_EQ(ParseReply(read, Cat(answer, Hex("00 11")), false).Extra, 2U);
}

TEST_F(ReplyTest, ExceptionsCrcErrorsAndOtherSendersAreTold) {
  const Reply ex = ParseReply(read, Hex("11 83 02 C1 34"), false);
  EXPECT_EQ(ex.Kind, ReplyKind::Exception);
  EXPECT_EQ(ex.ExceptionCode, kIllegalDataAddress);
  EXPECT_TRUE(ex.FromSlave());

  Bytes bad = answer;
  bad[4] ^= 0x01;
  EXPECT_EQ(ParseReply(read, bad, false).Kind, ReplyKind::CrcError);
  EXPECT_EQ(ParseReply(read, Hex("11 83 02 C1 35"), false).Kind, ReplyKind::CrcError);

  // The same answer from slave 0x12: a good frame, but not the one asked.
  const Request other = *Request::ReadHolding(0x12, 0x006B, 3);
  EXPECT_EQ(ParseReply(other, answer, false).Kind, ReplyKind::WrongSlave);

  // A good frame with function 06 from the asked slave: known only once the line is silent.
  const Bytes fc06 = Hex("11 06 00 01 00 03 9A 9B");
  ASSERT_TRUE(CrcMatches(fc06)) << "test frame";
  EXPECT_EQ(ParseReply(read, fc06, false).Kind, ReplyKind::NeedMore);
  EXPECT_EQ(ParseReply(read, fc06, true).Kind, ReplyKind::WrongFunction);

  // Six registers where three were asked: well formed, but no answer to this request.
  const Request four = *Request::ReadInput(1, 0, 1);
  const Bytes wrongCount = Hex("01 04 04 00 01 00 02 2B 85");
  ASSERT_TRUE(CrcMatches(wrongCount)) << "test frame";
  EXPECT_EQ(ParseReply(four, wrongCount, false).Kind, ReplyKind::Garbage);
  EXPECT_EQ(ParseReply(read, Hex("FF 00 FF 00"), true).Kind, ReplyKind::Garbage);
  EXPECT_EQ(ParseReply(read, Hex("11"), true).Kind, ReplyKind::Short);
  EXPECT_EQ(ParseReply(read, Hex("42"), true).Kind, ReplyKind::Garbage);
}

TEST_F(ReplyTest, TheRequestReadBackFirstIsTheLocalEcho) {
  const Bytes sent = Of(read);
  Reply r = ParseReply(read, Cat(sent, answer), false);
  EXPECT_EQ(r.Kind, ReplyKind::Answer);
  EXPECT_TRUE(r.EchoSeen);
  EXPECT_EQ(r.Registers[1], 0x5652);

  r = ParseReply(read, sent, false);
  EXPECT_EQ(r.Kind, ReplyKind::Nothing);
  EXPECT_TRUE(r.EchoSeen);
  r = ParseReply(read, sent, true);
  EXPECT_EQ(r.Kind, ReplyKind::Nothing);  // the adapter heard itself and nobody answered
  EXPECT_TRUE(r.EchoSeen);
  EXPECT_FALSE(r.Final());

  r = ParseReply(read, Cat(sent, Hex("11 03 06 AE")), true);
  EXPECT_EQ(r.Kind, ReplyKind::Short);
  EXPECT_TRUE(r.EchoSeen);
  // Part of the request could still be the start of the echo or of the answer.
  EXPECT_EQ(ParseReply(read, Hex("11 03"), false).Kind, ReplyKind::NeedMore);
  // An echo with a damaged byte is not the echo.
  const Bytes damaged = Hex("11 03 00 2B 00 03 76 87");
  EXPECT_FALSE(ParseReply(read, Cat(damaged, answer), true).EchoSeen);
}

TEST(EchoTestReply, TheAnswerIsTheRequestSoOnlyTwoCopiesShowTheLocalEcho) {
  const Request echo = *Request::Echo(1, 0xA537);
  const Bytes sent = Of(echo);
  EXPECT_EQ(ParseReply(echo, sent, false).Kind, ReplyKind::NeedMore);
  Reply r = ParseReply(echo, sent, true);
  EXPECT_EQ(r.Kind, ReplyKind::Answer);
  EXPECT_FALSE(r.EchoSeen);
  EXPECT_EQ(r.EchoData, 0xA537);
  r = ParseReply(echo, Cat(sent, Bytes(sent.begin(), sent.begin() + 3)), false);
  EXPECT_EQ(r.Kind, ReplyKind::NeedMore);
  EXPECT_TRUE(r.EchoSeen);
  r = ParseReply(echo, Cat(sent, sent), false);
  EXPECT_EQ(r.Kind, ReplyKind::Answer);
  EXPECT_TRUE(r.EchoSeen);
  const Bytes otherData = Of(*Request::Echo(1, 0x1234));
  EXPECT_EQ(ParseReply(echo, otherData, true).Kind, ReplyKind::Garbage);
  EXPECT_EQ(ParseReply(echo, Hex("01 88 01 87 C0"), false).Kind, ReplyKind::Exception);
}

TEST(RtuTiming, CharactersGapsAndTimeOutsFollowTheBaudRate) {
  EXPECT_EQ(CharacterTimeUs(9600), 1146U);   // 11 bits at 9600: 1145.8 us
  EXPECT_EQ(CharacterTimeUs(115200), 96U);   // 95.5 us
  EXPECT_EQ(TransmitTimeUs(115200, 41), 3915U);
  EXPECT_EQ(FrameGapUs(9600), 4011U);        // 3.5 characters
  EXPECT_EQ(FrameGapUs(19200), 2006U);
  EXPECT_EQ(FrameGapUs(38400), 1750U);       // fixed above 19200
  EXPECT_EQ(FrameGapUs(115200), 1750U);
  const Request read14 = *Request::ReadHolding(1, 100, 14);
  const Request read1 = *Request::ReadHolding(1, 0, 1);
  // The wire, two gaps and the allowance: a slower line and a longer answer wait longer.
  EXPECT_EQ(ResponseTimeoutUs(115200, read14), 3915U + 2 * 1750U + kTurnaroundAllowanceUs);
  EXPECT_GT(ResponseTimeoutUs(9600, read14), ResponseTimeoutUs(19200, read14));
  EXPECT_GT(ResponseTimeoutUs(9600, read14), ResponseTimeoutUs(9600, read1));
  EXPECT_EQ(TransmitTimeUs(0, 5), 0U);
}

}  // namespace
}  // namespace zrv::modbus
