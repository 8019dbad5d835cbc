#include "protocol/reply_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace zrv {
namespace {

using Kind = ReplyEffects::Kind;
using Bytes = std::vector<std::uint8_t>;

// A reply of `size` bytes: the code, then `body` from data[1], then zeros.
Bytes Reply(std::uint8_t code, std::initializer_list<std::uint8_t> body, std::size_t size = 64) {
  Bytes data(size, 0);
  data.at(0) = code;  // checked: with size 0 this throws rather than write through a null pointer
  std::copy(body.begin(), body.end(), data.begin() + 1);
  return data;
}

ReplyEffects Decode(DeviceState& state, const Bytes& data, char separator = '.') {
  return DecodeReply(state, data.data(), data.size(), separator);
}

// A state with every byte set, so that anything a decoder writes shows up.
DeviceState FilledState() {
  DeviceState state;
  std::memset(&state, 0x5A, sizeof state);
  return state;
}

bool SameBytes(const DeviceState& a, const DeviceState& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Packed fields cannot bind to the references that the assertions take.
template <typename T>
T Copy(T value) {
  return value;
}

std::string Name(const DeviceState& state) { return std::string(state.Identity.DeviceName.data()); }

Bytes IdentityReply(std::uint8_t firmware, const char* name, std::uint8_t hardware) {
  Bytes data = Reply(10, {firmware});
  std::memcpy(data.data() + 2, name, std::min<std::size_t>(std::strlen(name), 9));
  data[11] = hardware;
  return data;
}

// Puts `value` little-endian at block offset `offset` of a reply 12.
void PutBlock(Bytes& data, std::size_t offset, std::uint32_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) data[5 + offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

Bytes SettingsReply(std::uint32_t baud, std::uint8_t parity, std::uint8_t slave) {
  return Reply(20, {static_cast<std::uint8_t>(baud), static_cast<std::uint8_t>(baud >> 8),
                    static_cast<std::uint8_t>(baud >> 16), static_cast<std::uint8_t>(baud >> 24), parity, slave});
}

TEST(IdentityReply, CaptionVersionsLimitsAndSettings) {
  Bytes data = IdentityReply(125, "ABC", 103);
  const std::uint8_t tail[] = {0x30, 0x75, 0x00, 0x00, 0x5A, 0x00, 0xE8, 0x03, 0x10, 0x27,
                               0x00, 0x96, 0x00, 0x00, 0x02, 0x11};
  std::memcpy(data.data() + 12, tail, sizeof tail);
  DeviceState state{};
  ReplyEffects effects = Decode(state, data);
  ASSERT_EQ(effects.kind, Kind::Identity);
  EXPECT_EQ(effects.Identity.ConnectionCaption.View(), "Connected to ZRVXXX ver.: 1.25   ABC");
  EXPECT_EQ(effects.Identity.HardwareVersionText.View(), "1.03");
  EXPECT_EQ(Name(state), "ABC");
  EXPECT_EQ(Copy(state.Limits.PowerSupplyMax), 30000U);
  EXPECT_EQ(Copy(state.Limits.TemperatureMax), 90U);
  EXPECT_EQ(Copy(state.Limits.PwmMax), 1000U);
  EXPECT_EQ(Copy(state.Limits.CurMax), 10000U);
  EXPECT_EQ(Copy(state.Modbus.Baudrate), 38400U);
  EXPECT_EQ(Copy(state.Modbus.Parity), 2U);
  EXPECT_EQ(Copy(state.Modbus.SlaveId), 17U);

  effects = Decode(state, IdentityReply(0x80, "X", 0xFD), ',');
  EXPECT_FLOAT_EQ(state.Identity.FirmwareVer, -1.28F);
  EXPECT_EQ(effects.Identity.ConnectionCaption.View(), "Connected to ZRVXXX ver.: -1,28   X");
  EXPECT_EQ(effects.Identity.HardwareVersionText.View(), "-0,03");
}

TEST(IdentityReply, FirmwareVersionAgainstTheMinimum) {
  DeviceState state{};
  Decode(state, IdentityReply(120, "", 0));
  EXPECT_GE(static_cast<double>(state.Identity.FirmwareVer), 1.2);
  Decode(state, IdentityReply(119, "", 0));
  EXPECT_LT(static_cast<double>(state.Identity.FirmwareVer), 1.2);
}

TEST(IdentityReply, NameLimits) {
  DeviceState state{};
  EXPECT_EQ(Decode(state, IdentityReply(100, "", 0)).Identity.ConnectionCaption.View(),
            "Connected to ZRVXXX ver.: 1.00   ");
  // No NUL in the name field: the name stops at eight characters instead of running on.
  Bytes data = IdentityReply(100, "ABCDEFGHI", 0x41);
  data[12] = 'Z';
  EXPECT_EQ(Decode(state, data).Identity.ConnectionCaption.View(), "Connected to ZRVXXX ver.: 1.00   ABCDEFGH");
  EXPECT_EQ(Name(state), "ABCDEFGH");
  // A shorter name later leaves nothing of the longer one behind.
  Decode(state, IdentityReply(100, "QR", 0));
  EXPECT_EQ(Name(state), "QR");
  EXPECT_EQ(state.Identity.DeviceName[3], '\0');
}

TEST(StatusReply, CopiesTheBodyWithItsSignedness) {
  Bytes data = Reply(11, {9, 6, 4, 0xF0, 0x18, 0x21, 0xE4, 0x0C, 0xD7, 0x11,
                          0xFF, 0xFF,              // Temperature
                          0x18, 0xFC, 0xFF, 0xFF,  // CurAct
                          0x39, 0x30, 0x00, 0x00,  // CurLim
                          0xFF, 0xFF, 0xFF, 0xFF,  // PowerSupply
                          0x38, 0xFF,              // PwmAct
                          0xE8, 0x03});            // PwmLim
  DeviceState state{};
  ASSERT_EQ(Decode(state, data).kind, Kind::Status);
  EXPECT_EQ(std::memcmp(&state.Status, data.data() + 1, 28), 0);
  EXPECT_EQ(Copy(state.Status.Temperature), 65535);
  EXPECT_EQ(Copy(state.Status.CurAct), -1000);
  EXPECT_EQ(Copy(state.Status.PowerSupply), 4294967295U);
  EXPECT_EQ(Copy(state.Status.PwmAct), -200);
}

TEST(RegistersReply, StateCodesFrameCountAndBlock) {
  DeviceState state{};
  Bytes status = Reply(11, {});
  for (std::size_t k = 1; k <= 28; ++k) status[k] = static_cast<std::uint8_t>(0xA0 + k);
  Decode(state, status);

  Bytes data = Reply(12, {7, 3, 2, 0x34, 0x12});
  for (std::size_t k = 1; k < 56; ++k) data[5 + k] = static_cast<std::uint8_t>(k);
  const ReplyEffects effects = Decode(state, data);
  ASSERT_EQ(effects.kind, Kind::Registers);
  EXPECT_EQ(effects.Registers.OkFramesText.View(), "4660");
  EXPECT_EQ(std::memcmp(state.Registers.Bytes.data(), data.data() + 5, 56), 0);
  EXPECT_EQ(state.Registers.Bytes[0], 0x12);
  EXPECT_EQ(Copy(state.Status.WorkMode), 7);
  EXPECT_EQ(Copy(state.Status.FaultCode), 3);
  EXPECT_EQ(Copy(state.Status.DriverState), 2);
  // Everything after the three codes keeps the status reply's values.
  EXPECT_EQ(std::memcmp(reinterpret_cast<const std::uint8_t*>(&state.Status) + 3, status.data() + 4, 25), 0);
}

TEST(RegistersReply, EachRowShowsItsOwnRegister) {
  Bytes data = Reply(12, {});
  DeviceState state{};
  for (const auto& text : Decode(state, data).Registers.ValueTexts) EXPECT_EQ(text.View(), "0");

  for (std::size_t row = 0; row < kRegisterRowCount; ++row) {
    const RegisterRow& r = kRegisterTable[row];
    PutBlock(data, r.Offset, static_cast<std::uint32_t>(1000 + row), r.Type == RegisterType::I32 ? 4 : 2);
  }
  ReplyEffects effects = Decode(state, data);
  for (std::size_t row = 0; row < kRegisterRowCount; ++row) {
    EXPECT_EQ(effects.Registers.ValueTexts[row].View(), std::to_string(1000 + row)) << row;
  }
  PutBlock(data, 6, 0xFFFF, 2);       // ControlWord is unsigned
  PutBlock(data, 52, 0xFFFFFFFF, 4);  // EnoderCnt is signed
  effects = Decode(state, data);
  EXPECT_EQ(effects.Registers.ValueTexts[0].View(), "65535");
  EXPECT_EQ(effects.Registers.ValueTexts[14].View(), "-1");
  PutBlock(data, 52, 0x80000000U, 4);
  EXPECT_EQ(Decode(state, data).Registers.ValueTexts[14].View(), "-2147483648");
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

TEST(ModbusSettingsReply, SelectsTheThreeLists) {
  DeviceState state{};
  ReplyEffects effects = Decode(state, Reply(20, {0x00, 0x96, 0x00, 0x00, 0x02, 0x11}));
  ASSERT_EQ(effects.kind, Kind::ModbusSettings);
  EXPECT_EQ(effects.Lists.BaudIndex, 2);
  EXPECT_EQ(effects.Lists.ParityIndex, 2);
  EXPECT_EQ(effects.Lists.AddressIndex, 16);
  EXPECT_EQ(Copy(state.Modbus.Baudrate), 38400U);
  EXPECT_EQ(Copy(state.Modbus.SlaveId), 17);

  for (std::size_t i = 0; i < kOfferedBaudRates.size(); ++i) {
    EXPECT_EQ(Decode(state, SettingsReply(kOfferedBaudRates[i], 0, 1)).Lists.BaudIndex, static_cast<int>(i));
  }
  effects = Decode(state, SettingsReply(14400, 1, 5));
  EXPECT_EQ(effects.Lists.BaudIndex, kNoSelection);
  EXPECT_EQ(effects.Lists.ParityIndex, 1);
  EXPECT_EQ(effects.Lists.AddressIndex, 4);
  EXPECT_EQ(Decode(state, SettingsReply(9600, 7, 1)).Lists.ParityIndex, 2);
  EXPECT_EQ(Decode(state, SettingsReply(9600, 255, 1)).Lists.ParityIndex, 2);
  EXPECT_EQ(Decode(state, SettingsReply(9600, 0, 0)).Lists.AddressIndex, 0);
  EXPECT_EQ(Decode(state, SettingsReply(9600, 0, 127)).Lists.AddressIndex, 126);
}

TEST(ModbusSettingsReply, AddressTheListCannotShowClearsItsSelection) {
  DeviceState state{};
  for (int slaveId : {128, 200, 255}) {
    const ReplyEffects effects = Decode(state, SettingsReply(19200, 1, static_cast<std::uint8_t>(slaveId)));
    EXPECT_EQ(effects.Lists.AddressIndex, kNoSelection) << slaveId;
    EXPECT_EQ(effects.Lists.BaudIndex, 1);
    EXPECT_EQ(effects.Lists.ParityIndex, 1);
    EXPECT_EQ(Copy(state.Modbus.SlaveId), slaveId);
  }
}

TEST(Dispatch, AcknowledgementAndUnknownCodesTouchNoState) {
  for (int codeValue : {0, 1, 13, 21, 147, 148, 149, 255}) {
    DeviceState state = FilledState();
    const DeviceState before = state;
    Bytes data(64, 0x77);
    data[0] = static_cast<std::uint8_t>(codeValue);
    EXPECT_EQ(Decode(state, data).kind, codeValue == 148 ? Kind::SettingsSaved : Kind::None) << codeValue;
    EXPECT_TRUE(SameBytes(state, before)) << codeValue;
  }
}

TEST(Dispatch, ShortRepliesChangeNothing) {
  const std::pair<std::uint8_t, std::size_t> needs[] = {{10, 28}, {11, 29}, {12, 61}, {20, 7}, {148, 1}};
  for (const auto& [code, needed] : needs) {
    Bytes data(needed, 0x33);  // exactly as long as needed, so a read past it is caught by ASan
    data[0] = code;
    DeviceState state = FilledState();
    const DeviceState before = state;
    EXPECT_EQ(DecodeReply(state, data.data(), needed - 1, '.').kind, Kind::None) << int{code};
    EXPECT_TRUE(SameBytes(state, before)) << int{code};
    EXPECT_NE(DecodeReply(state, data.data(), needed, '.').kind, Kind::None) << int{code};
  }
  DeviceState state = FilledState();
  EXPECT_EQ(DecodeReply(state, nullptr, 64, '.').kind, Kind::None);
}

}  // namespace
}  // namespace zrv
