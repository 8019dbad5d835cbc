#include "protocol/reply_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace zrv {
namespace {

using Kind = DecodedReply::Kind;
using Bytes = std::vector<std::uint8_t>;

// A reply of `size` bytes: the code, then `body` from data[1], then zeros.
Bytes Reply(std::uint8_t code, std::initializer_list<std::uint8_t> body, std::size_t size = 64) {
  Bytes data(size, 0);
  data.at(0) = code;  // checked: with size 0 this throws rather than write through a null pointer
  std::copy(body.begin(), body.end(), data.begin() + 1);
  return data;
}

DecodedReply Decode(DeviceState& state, const Bytes& data) {
  return DecodeReply(state, data.data(), data.size());
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
  ASSERT_EQ(Decode(state, data).kind, Kind::Identity);
  EXPECT_FLOAT_EQ(state.Identity.FirmwareVer, 1.25F);
  EXPECT_FLOAT_EQ(state.Identity.HardwareVer, 1.03F);
  EXPECT_EQ(Name(state), "ABC");
  EXPECT_EQ(Copy(state.Limits.PowerSupplyMax), 30000U);
  EXPECT_EQ(Copy(state.Limits.TemperatureMax), 90U);
  EXPECT_EQ(Copy(state.Limits.PwmMax), 1000U);
  EXPECT_EQ(Copy(state.Limits.CurMax), 10000U);
  EXPECT_EQ(Copy(state.Modbus.Baudrate), 38400U);
  EXPECT_EQ(Copy(state.Modbus.Parity), 2U);
  EXPECT_EQ(Copy(state.Modbus.SlaveId), 17U);

  Decode(state, IdentityReply(0x80, "X", 0xFD));
  EXPECT_FLOAT_EQ(state.Identity.FirmwareVer, -1.28F);
  EXPECT_FLOAT_EQ(state.Identity.HardwareVer, -0.03F);
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
  Decode(state, IdentityReply(100, "", 0));
  EXPECT_EQ(Name(state), "");
  // No NUL in the name field: the name stops at eight characters instead of running on.
  Bytes data = IdentityReply(100, "ABCDEFGHI", 0x41);
  data[12] = 'Z';
  Decode(state, data);
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
  const DecodedReply reply = Decode(state, data);
  ASSERT_EQ(reply.kind, Kind::Registers);
  EXPECT_EQ(reply.GoodFrames, 0x1234);
  EXPECT_EQ(std::memcmp(state.Registers.Bytes.data(), data.data() + 5, 56), 0);
  EXPECT_EQ(state.Registers.Bytes[0], 0x12);
  EXPECT_EQ(Copy(state.Status.WorkMode), 7);
  EXPECT_EQ(Copy(state.Status.FaultCode), 3);
  EXPECT_EQ(Copy(state.Status.DriverState), 2);
  // Everything after the three codes keeps the status reply's values.
  EXPECT_EQ(std::memcmp(reinterpret_cast<const std::uint8_t*>(&state.Status) + 3, status.data() + 4, 25), 0);
}

TEST(ModbusSettingsReply, CopiesTheRecordWhateverItHolds) {
  DeviceState state{};
  ASSERT_EQ(Decode(state, Reply(20, {0x00, 0x96, 0x00, 0x00, 0x02, 0x11})).kind, Kind::ModbusSettings);
  EXPECT_EQ(Copy(state.Modbus.Baudrate), 38400U);
  EXPECT_EQ(Copy(state.Modbus.Parity), 2);
  EXPECT_EQ(Copy(state.Modbus.SlaveId), 17);
  Decode(state, SettingsReply(14400, 7, 200));
  EXPECT_EQ(Copy(state.Modbus.Baudrate), 14400U);
  EXPECT_EQ(Copy(state.Modbus.Parity), 7);
  EXPECT_EQ(Copy(state.Modbus.SlaveId), 200);
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
    EXPECT_EQ(DecodeReply(state, data.data(), needed - 1).kind, Kind::None) << int{code};
    EXPECT_TRUE(SameBytes(state, before)) << int{code};
    EXPECT_NE(DecodeReply(state, data.data(), needed).kind, Kind::None) << int{code};
  }
  DeviceState state = FilledState();
  EXPECT_EQ(DecodeReply(state, nullptr, 64).kind, Kind::None);
}

}  // namespace
}  // namespace zrv
