#include "view/reply_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace zrv {
namespace {

DeviceState Identity(std::int8_t firmware, const char* name, std::int8_t hardware) {
  DeviceState state{};
  state.Identity.FirmwareVer = static_cast<float>(firmware / 100.0);
  state.Identity.HardwareVer = static_cast<float>(hardware / 100.0);
  std::memcpy(state.Identity.DeviceName.data(), name, std::min<std::size_t>(std::strlen(name), 8));
  return state;
}

TEST(IdentityView, CaptionAndHardwareVersionInTheUsersSeparator) {
  IdentityTexts texts = IdentityView(Identity(125, "ABC", 103), '.');
  EXPECT_EQ(texts.ConnectionCaption.View(), "Connected to ZRVXXX ver.: 1.25   ABC");
  EXPECT_EQ(texts.HardwareVersionText.View(), "1.03");
  texts = IdentityView(Identity(-128, "X", -3), ',');
  EXPECT_EQ(texts.ConnectionCaption.View(), "Connected to ZRVXXX ver.: -1,28   X");
  EXPECT_EQ(texts.HardwareVersionText.View(), "-0,03");
  // An empty name ends the caption with the three spaces; a full one is shown whole.
  EXPECT_EQ(IdentityView(Identity(100, "", 0), '.').ConnectionCaption.View(), "Connected to ZRVXXX ver.: 1.00   ");
  EXPECT_EQ(IdentityView(Identity(100, "ABCDEFGH", 0), '.').ConnectionCaption.View(),
            "Connected to ZRVXXX ver.: 1.00   ABCDEFGH");
}

// Puts `value` little-endian at block offset `offset`.
void PutBlock(RegisterBlock& block, std::size_t offset, std::uint32_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) block.Bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

TEST(RegisterView, EachRowShowsItsOwnRegisterWithItsSignedness) {
  RegisterBlock block{};
  RegisterTexts texts = RegisterView(block, 0x1234);
  EXPECT_EQ(texts.OkFramesText.View(), "4660");
  for (const auto& text : texts.ValueTexts) EXPECT_EQ(text.View(), "0");

  for (std::size_t row = 0; row < kRegisterRowCount; ++row) {
    const RegisterRow& r = kRegisterTable[row];
    PutBlock(block, r.Offset, static_cast<std::uint32_t>(1000 + row), r.Type == RegisterType::I32 ? 4 : 2);
  }
  texts = RegisterView(block, 65535);
  EXPECT_EQ(texts.OkFramesText.View(), "65535");
  for (std::size_t row = 0; row < kRegisterRowCount; ++row) {
    EXPECT_EQ(texts.ValueTexts[row].View(), std::to_string(1000 + row)) << row;
  }
  PutBlock(block, 6, 0xFFFF, 2);       // ControlWord is unsigned
  PutBlock(block, 52, 0xFFFFFFFF, 4);  // EnoderCnt is signed
  texts = RegisterView(block, 0);
  EXPECT_EQ(texts.ValueTexts[0].View(), "65535");
  EXPECT_EQ(texts.ValueTexts[14].View(), "-1");
  PutBlock(block, 52, 0x80000000U, 4);
  EXPECT_EQ(RegisterView(block, 0).ValueTexts[14].View(), "-2147483648");
}

TEST(RegisterTable, RowsFollowTheRegisterMap) {
  EXPECT_EQ(kRegisterTable[0].Name, "ControlWord");
  EXPECT_EQ(kRegisterTable[14].Name, "EnoderCnt");
  // Registers 0..10 start at block byte 6, registers 100..113 at byte 28, one word each.
  for (const RegisterRow& row : kRegisterTable) {
    const int address = std::stoi(std::string(row.Address));
    const std::size_t expected = address < 100 ? 6U + 2U * static_cast<std::size_t>(address)
                                               : 28U + 2U * static_cast<std::size_t>(address - 100);
    EXPECT_EQ(row.Offset, expected) << row.Name;
    EXPECT_EQ(row.Type, address == 112 ? RegisterType::I32 : RegisterType::U16) << row.Name;
  }
  // A row that does not lie inside the block has no value rather than reading past it.
  const RegisterBlock block{};
  EXPECT_TRUE(RegisterValueText(block, RegisterRow{"x", "x", 53, RegisterType::I32}).Empty());
  EXPECT_TRUE(RegisterValueText(block, RegisterRow{"x", "x", 1000, RegisterType::U16}).Empty());
  EXPECT_EQ(RegisterValueText(block, RegisterRow{"x", "x", 54, RegisterType::U16}).View(), "0");
}

TEST(ModbusListView, SelectsTheThreeListsOrNoneItCannotShow) {
  ModbusListPositions lists = ModbusListView(ModbusSettings{38400, 2, 17});
  EXPECT_EQ(lists.BaudIndex, 2);
  EXPECT_EQ(lists.ParityIndex, 2);
  EXPECT_EQ(lists.AddressIndex, 16);
  for (std::size_t i = 0; i < kOfferedBaudRates.size(); ++i) {
    EXPECT_EQ(ModbusListView(ModbusSettings{kOfferedBaudRates[i], 0, 1}).BaudIndex, static_cast<int>(i));
  }
  lists = ModbusListView(ModbusSettings{14400, 1, 5});
  EXPECT_EQ(lists.BaudIndex, kNoSelection);
  EXPECT_EQ(lists.ParityIndex, 1);
  EXPECT_EQ(lists.AddressIndex, 4);
  EXPECT_EQ(ModbusListView(ModbusSettings{9600, 7, 1}).ParityIndex, 2);
  EXPECT_EQ(ModbusListView(ModbusSettings{9600, 255, 1}).ParityIndex, 2);
  EXPECT_EQ(ModbusListView(ModbusSettings{9600, 0, 0}).AddressIndex, 0);
  EXPECT_EQ(ModbusListView(ModbusSettings{9600, 0, 127}).AddressIndex, 126);
  for (int slaveId : {128, 200, 255}) {
    lists = ModbusListView(ModbusSettings{19200, 1, static_cast<std::uint8_t>(slaveId)});
    EXPECT_EQ(lists.AddressIndex, kNoSelection) << slaveId;
    EXPECT_EQ(lists.BaudIndex, 1);
    EXPECT_EQ(lists.ParityIndex, 1);
  }
}

TEST(DeviceItemText, ProductAsLatin1OrTheIdsWhenItHasNone) {
  EXPECT_EQ(DeviceItemText(u"ZRVXXX", 1, 2), "ZRVXXX");
  EXPECT_EQ(DeviceItemText(u"Z\u00e9\u0142", 1, 2), "Z\xe9?");
  EXPECT_EQ(DeviceItemText(u"", 0x1234, 0xABCD), "Device VID=1234 PID=ABCD");
}

}  // namespace
}  // namespace zrv
