#include "view/live_view_model.h"

#include <gtest/gtest.h>

#include <string>

namespace zrv {
namespace {

enum Row { kSupply, kTemperature, kPot, kAin, kCurLim, kCurAct, kPwmLim, kPwmAct };

DeviceState Limited() {
  DeviceState state{};
  state.Limits = DriverLimits{30000, 90, 1000, 10000};
  state.Identity.FirmwareVer = 1.25F;
  return state;
}

std::string Lamps(const TickView& view) {
  std::string lamps;
  for (const IndicatorView& lamp : view.Indicators) lamps += lamp.On ? '1' : '0';
  return lamps;
}

TEST(LiveTick, AllZeroState) {
  const TickView view = ComputeTick(DeviceState{}, '.', false);
  EXPECT_FALSE(view.FirmwareWarningDue);
  EXPECT_EQ(Lamps(view), "000000000000");
  const char* expected[] = {"0 V ", "0 C", "0.0 % ", "0.0 V ", "0.00 A ", "0.00 A ", "0 %", "0 %"};
  for (std::size_t row = 0; row < kValueRowCount; ++row) {
    EXPECT_EQ(view.ValueTexts[row].View(), expected[row]) << row;
    EXPECT_EQ(view.GaugePositions[row], 0) << row;
  }
  ASSERT_TRUE(view.DriverState.has_value());
  EXPECT_EQ(view.DriverState->Text, "Idle");
  EXPECT_EQ(view.DriverState->FontColor, (Rgb{0, 0, 0}));
  EXPECT_EQ(view.FaultText, " ");
  ASSERT_TRUE(view.WorkModeText.has_value());
  EXPECT_EQ(view.WorkModeText->View(), "Speed (PWM) set by 0-5V input (0.0 V )   Current limit max (0.00 A )");
}

TEST(LiveTick, IndicatorBits) {
  const struct {
    std::uint8_t switches, inputs, outputs;
    const char* lamps;  // SW1..SW6, IN1..IN4, OUT1, OUT2
  } cases[] = {{0x21, 0xF0, 0x18, "100001" "0000" "11"},
               {0xC0, 0x05, 0x07, "000000" "1010" "00"},
               {0x3F, 0x0F, 0x08, "111111" "1111" "10"},
               {0x00, 0x00, 0xF7, "000000" "0000" "01"}};
  DeviceState state = Limited();
  for (const auto& c : cases) {
    state.Status.Switches = c.switches;
    state.Status.Inputs = c.inputs;
    state.Status.Outputs = c.outputs;
    const TickView view = ComputeTick(state, '.', false);
    EXPECT_EQ(Lamps(view), c.lamps);
    EXPECT_EQ(view.Indicators[0].Text(), c.lamps[0] == '1' ? "ON" : "OFF");
    EXPECT_EQ(view.Indicators[0].Color(), c.lamps[0] == '1' ? IndicatorOnColor : IndicatorOffColor);
  }
}

TEST(LiveTick, ValueTextsAndGauges) {
  const struct {
    void (*set)(LiveStatus&);
    Row row;
    const char* text;
    int gauge;  // raw, so the widget can show a negative one as empty
  } cases[] = {
      {[](LiveStatus& s) { s.PowerSupply = 24500; }, kSupply, "25 V ", 81},
      {[](LiveStatus& s) { s.PowerSupply = 24499; }, kSupply, "24 V ", 81},
      {[](LiveStatus& s) { s.PowerSupply = 999500; }, kSupply, "1E3 V ", 100},
      {[](LiveStatus& s) { s.PowerSupply = 4294967295U; }, kSupply, "4,29E6 V ", 100},
      {[](LiveStatus& s) { s.Temperature = 45; }, kTemperature, "45 C", 50},
      {[](LiveStatus& s) { s.Temperature = 65535; }, kTemperature, "65535 C", 100},
      {[](LiveStatus& s) { s.Potentiometer = 3300; }, kPot, "100,0 % ", 100},
      {[](LiveStatus& s) { s.Potentiometer = 1000; }, kPot, "30,3 % ", 30},
      {[](LiveStatus& s) { s.Potentiometer = 16; }, kPot, "0,5 % ", 0},
      {[](LiveStatus& s) { s.Potentiometer = 4000; }, kPot, "121,0 % ", 100},
      {[](LiveStatus& s) { s.Ain = 4567; }, kAin, "4,6 V ", 91},
      {[](LiveStatus& s) { s.Ain = 10000; }, kAin, "10,0 V ", 100},
      {[](LiveStatus& s) { s.CurAct = 12345; }, kCurAct, "12,30 A ", 100},
      {[](LiveStatus& s) { s.CurAct = 9995; }, kCurAct, "10,00 A ", 99},
      {[](LiveStatus& s) { s.CurAct = -1500; }, kCurAct, "-1,50 A ", -15},
      {[](LiveStatus& s) { s.CurAct = -4; }, kCurAct, "0,00 A ", 0},
      {[](LiveStatus& s) { s.CurLim = 2500; }, kCurLim, "2,50 A ", 25},
      {[](LiveStatus& s) { s.CurLim = -20000; }, kCurLim, "-20,00 A ", -100},
      {[](LiveStatus& s) { s.PwmLim = 1500; }, kPwmLim, "100 %", 100},
      {[](LiveStatus& s) { s.PwmLim = -999; }, kPwmLim, "-99 %", -99},
      {[](LiveStatus& s) { s.PwmAct = -500; }, kPwmAct, "-50 %", 50},
      {[](LiveStatus& s) { s.PwmAct = -2000; }, kPwmAct, "-100 %", 100},
      {[](LiveStatus& s) { s.PwmAct = 333; }, kPwmAct, "33 %", 33},
  };
  for (const auto& c : cases) {
    DeviceState state = Limited();
    c.set(state.Status);
    const TickView view = ComputeTick(state, ',', false);
    EXPECT_EQ(view.ValueTexts[c.row].View(), c.text) << c.text;
    EXPECT_EQ(view.GaugePositions[c.row], c.gauge) << c.text;
  }
}

TEST(LiveTick, ZeroFullScalesGiveZeroPercent) {
  DeviceState state{};
  state.Status = LiveStatus{0, 0, 0, 0, 0, 0, 1000, 1000, 30, 500, 500, 24000, 700, 800};
  const TickView view = ComputeTick(state, '.', false);
  EXPECT_EQ(view.ValueTexts[kPwmLim].View(), "0 %");
  EXPECT_EQ(view.ValueTexts[kPwmAct].View(), "0 %");
  EXPECT_EQ(view.ValueTexts[kSupply].View(), "24 V ");
  for (Row row : {kSupply, kTemperature, kCurLim, kCurAct, kPwmLim, kPwmAct}) {
    EXPECT_EQ(view.GaugePositions[row], 0) << row;
  }
  EXPECT_EQ(view.GaugePositions[kPot], 30);  // fixed full scales still apply
  EXPECT_EQ(view.GaugePositions[kAin], 20);
}

TEST(LiveTick, DriverStateAndFaultTables) {
  DeviceState state = Limited();
  const std::pair<const char*, Rgb> states[] = {
      {"Idle", {0, 0, 0}}, {"Run", {0, 128, 0}}, {"Error: ", {255, 0, 0}}, {"Stop on limit ", {0, 0, 255}}};
  const char* faults[] = {" ", "Short circuit", "Over temperature", "Under voltage", "Over voltage",
                          "Internal error"};
  for (std::uint8_t code = 0; code < 6; ++code) {
    state.Status.DriverState = code;
    state.Status.FaultCode = code;
    const TickView view = ComputeTick(state, '.', false);
    EXPECT_EQ(view.FaultText, faults[code]);
    if (code < 4) {
      ASSERT_TRUE(view.DriverState.has_value());
      EXPECT_EQ(view.DriverState->Text, states[code].first);
      EXPECT_EQ(view.DriverState->FontColor, states[code].second);
    } else {
      EXPECT_FALSE(view.DriverState.has_value());
    }
  }
  for (std::uint8_t code : {std::uint8_t{7}, std::uint8_t{9}, std::uint8_t{255}}) {
    state.Status = LiveStatus{code, code, code, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const TickView view = ComputeTick(state, '.', false);
    EXPECT_FALSE(view.DriverState.has_value());
    EXPECT_FALSE(view.FaultText.has_value());
    EXPECT_FALSE(view.WorkModeText.has_value());
  }
}

TEST(LiveTick, WorkModeTextsEmbedThisTicksValues) {
  DeviceState state = Limited();
  state.Status.Ain = 4567;
  state.Status.CurLim = 12345;
  state.Status.Potentiometer = 1000;
  const char* modes[] = {
      "Speed (PWM) set by 0-5V input (4.6 V )   Current limit max (12.30 A )",
      "Speed (PWM) set by 0-5V input (4.6 V )   Current limit set by potentiometer (12.30 A )",
      "Speed (PWM) set by potentiometer (30.3 % )   Current limit max (12.30 A )",
      "Speed (PWM) set by potentiometer (30.3 % )   Current limit set by 0-10V input (12.30 A )",
      "Speed (PWM) set by Modbus",
      "Current set by Modbus",
      "Speed (PWM) and current limit set by Modbus"};
  for (std::uint8_t code = 0; code < 7; ++code) {
    state.Status.WorkMode = code;
    const TickView view = ComputeTick(state, '.', false);
    ASSERT_TRUE(view.WorkModeText.has_value()) << int{code};
    EXPECT_EQ(view.WorkModeText->View(), modes[code]) << int{code};
  }
  // The longest texts the readings can produce still fit whole.
  state.Status.WorkMode = 3;
  state.Status.Potentiometer = 65535;
  state.Status.CurLim = -2147483647 - 1;
  EXPECT_EQ(ComputeTick(state, ',', false).WorkModeText->View(),
            "Speed (PWM) set by potentiometer (1,99E3 % )   Current limit set by 0-10V input (-2,15E06 A )");
}

TEST(LiveTick, FirmwareGate) {
  DeviceState state = Limited();
  const auto due = [&](int versionByte, bool shown) {
    state.Identity.FirmwareVer = static_cast<float>(versionByte / 100.0);
    return ComputeTick(state, '.', shown).FirmwareWarningDue;
  };
  EXPECT_FALSE(due(120, false));
  EXPECT_TRUE(due(119, false));
  EXPECT_TRUE(due(1, false));
  EXPECT_FALSE(due(119, true));
  EXPECT_FALSE(due(0, false));
  EXPECT_FALSE(due(-5, false));
  EXPECT_FALSE(due(127, false));
}

}  // namespace
}  // namespace zrv
