// The previewed registers over RS485: the reads, where their words go, and the comparison with USB.
#include <gtest/gtest.h>

#include <cstring>

#include "modbus/crc16.h"
#include "modbus/preview_read.h"

namespace zrv::modbus {
namespace {

// The answer a slave gives to `request` with register n holding value(n), CRC included.
template <typename F>
std::vector<std::uint8_t> AnswerTo(const Request& request, F value) {
  std::vector<std::uint8_t> out = {request.Slave(), request.Function(),
                                   static_cast<std::uint8_t>(2 * request.Count())};
  for (std::uint16_t i = 0; i < request.Count(); ++i) {
    const std::uint16_t v = value(static_cast<std::uint16_t>(request.First() + i));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  }
  const std::uint16_t crc = Crc16(out);
  out.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  out.push_back(static_cast<std::uint8_t>(crc >> 8));
  return out;
}

Rs485Registers ReadAll(RegisterTable table, std::uint16_t (*value)(std::uint16_t)) {
  Rs485Registers regs;
  for (std::size_t i = 0; i < kPreviewReadCount; ++i) {
    const Request request = *PreviewRead(table, 9, i);
    PlaceAnswer(regs, request, ParseReply(request, AnswerTo(request, value), false));
  }
  return regs;
}

void PutWord(RegisterBlock& block, std::size_t offset, std::uint16_t value) {
  std::memcpy(block.Bytes.data() + offset, &value, sizeof value);
}

TEST(PreviewRead, TwoReadsOfEachTableCoverTheFifteenRows) {
  const Request a = *PreviewRead(RegisterTable::Holding, 9, 0);
  const Request b = *PreviewRead(RegisterTable::Input, 9, 1);
  EXPECT_EQ(a.Function(), kReadHoldingRegisters);
  EXPECT_EQ(a.First(), 0);
  EXPECT_EQ(a.Count(), 11);
  EXPECT_EQ(b.Function(), kReadInputRegisters);
  EXPECT_EQ(b.First(), 100);
  EXPECT_EQ(b.Count(), 14);
  EXPECT_FALSE(PreviewRead(RegisterTable::Holding, 9, 2));

  const Rs485Registers regs = ReadAll(RegisterTable::Input, [](std::uint16_t n) {
    return static_cast<std::uint16_t>(1000 + n);
  });
  const auto values = PreviewValues(regs);
  for (std::size_t r = 0; r + 1 < kRegisterRowCount; ++r) {
    ASSERT_TRUE(values[r]) << kRegisterTable[r].Name;
    EXPECT_EQ(*values[r], 1000 + RegisterNumber(kRegisterTable[r])) << kRegisterTable[r].Name;
  }
  // 112 is the low word and 113 the high word of one signed value, as the USB preview reads it.
  EXPECT_EQ(*values[14], (1113 << 16) | 1112);
}

TEST(PreviewRead, TheSignedValueAndUnreadRowsDecodeAsThePreviewDoes) {
  Rs485Registers regs = ReadAll(RegisterTable::Holding, [](std::uint16_t n) -> std::uint16_t {
    if (n == 0) return 0xFFFF;    // unsigned: 65535
    if (n == 112) return 0xFFFE;  // low word
    if (n == 113) return 0xFFFF;  // high word: -2 in all
    return 0;
  });
  auto values = PreviewValues(regs);
  EXPECT_EQ(*values[0], 65535);
  EXPECT_EQ(*values[14], -2);

  // Only the first read came back: the rows of the second have no value; half of 112..113 is none.
  Rs485Registers half;
  const Request first = *PreviewRead(RegisterTable::Holding, 9, 0);
  PlaceAnswer(half, first, ParseReply(first, AnswerTo(first, [](std::uint16_t) -> std::uint16_t { return 7; }), false));
  const Request upTo112 = *Request::ReadHolding(9, 100, 13);
  PlaceAnswer(half, upTo112, ParseReply(upTo112, AnswerTo(upTo112, [](std::uint16_t) -> std::uint16_t { return 8; }), false));
  values = PreviewValues(half);
  EXPECT_EQ(*values[4], 7);
  EXPECT_EQ(*values[13], 8);
  EXPECT_FALSE(values[14]);
  // An exception places nothing.
  Rs485Registers none;
  PlaceAnswer(none, first, ParseReply(first, std::vector<std::uint8_t>{0x09, 0x83, 0x02, 0x11, 0x00}, false));
  EXPECT_EQ(none.Filled, 0U);
}

TEST(CompareWithUsb, ARowAgreesBetweenTheTwoUsbReadingsAndOnlyReadRowsCount) {
  const Rs485Registers regs = ReadAll(RegisterTable::Holding, [](std::uint16_t n) -> std::uint16_t {
    if (n == 113) return 0;  // 112..113 read as 3
    return n == 102 ? 500 : 3;
  });
  RegisterBlock before{};
  RegisterBlock after{};
  for (const RegisterRow& row : kRegisterTable) {
    PutWord(before, row.Offset, 3);
    PutWord(after, row.Offset, 3);
  }
  PutWord(before, 54, 0);  // 112..113 = 3 in both
  PutWord(after, 54, 0);
  PutWord(before, 32, 400);  // ActualPwm moved from 400 to 600 while it was read
  PutWord(after, 32, 600);
  Agreement a = CompareWithUsb(regs, before, after);
  EXPECT_EQ(a.Compared, 15);
  EXPECT_TRUE(a.AllAgree());

  PutWord(after, 32, 450);  // 500 is outside 400..450
  PutWord(before, 8, 4);    // ControlMode 3 over RS485, 4 over USB
  PutWord(after, 8, 4);
  a = CompareWithUsb(regs, before, after);
  EXPECT_EQ(a.Disagreeing, 2);
  EXPECT_EQ(a.DisagreeingRows, (1U << 1) | (1U << 7));
  EXPECT_EQ(a.DisagreeingSetPoints, 1);  // ControlMode; ActualPwm is a measurement
  EXPECT_FALSE(a.AllAgree());
  EXPECT_FALSE(CompareWithUsb(Rs485Registers{}, before, after).AllAgree());
}

}  // namespace
}  // namespace zrv::modbus
