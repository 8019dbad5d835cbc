#include "protocol/live_view_model.h"

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

std::string Text(const TickView& view, Row row) { return std::string(view.ValueTexts[row].View()); }

std::string Lamps(const TickView& view) {
  std::string lamps;
  for (const IndicatorView& lamp : view.Indicators) lamps += lamp.On ? '1' : '0';
  return lamps;
}

TEST(LiveTick, AllZeroState) {
  const TickView view = ComputeTick(DeviceState{}, '.', false);
  EXPECT_FALSE(view.FirmwareWarningDue);
  EXPECT_EQ(Lamps(view), "000000000000");
  EXPECT_EQ(view.Indicators[0].Text(), "OFF");
  EXPECT_EQ(view.Indicators[0].Color(), IndicatorOffColor);
  const char* expected[] = {"0 V ", "0 C", "0.0 % ", "0.0 V ", "0.00 A ", "0.00 A ", "0 %", "0 %"};
  for (int row = kSupply; row <= kPwmAct; ++row) {
    EXPECT_EQ(Text(view, static_cast<Row>(row)), expected[row]) << row;
    EXPECT_EQ(view.GaugePositions[static_cast<std::size_t>(row)], 0) << row;
  }
  ASSERT_TRUE(view.DriverState.has_value());
  EXPECT_EQ(view.DriverState->Text, "Idle");
  EXPECT_EQ(view.DriverState->FontColor, (Rgb{0, 0, 0}));
  EXPECT_EQ(view.FaultText, " ");
  ASSERT_TRUE(view.WorkModeText.has_value());
  EXPECT_EQ(view.WorkModeText->View(),
            "Speed (PWM) set by 0-5V input (0.0 V )   Current limit max (0.00 A )");
}

TEST(LiveTick, IndicatorBits) {
  DeviceState state = Limited();
  state.Status.Switches = 0x21;
  state.Status.Inputs = 0xF0;
  state.Status.Outputs = 0x18;
  TickView view = ComputeTick(state, '.', false);
  EXPECT_EQ(Lamps(view), "100001" "0000" "11");
  EXPECT_EQ(view.Indicators[0].Text(), "ON");
  EXPECT_EQ(view.Indicators[0].Color(), IndicatorOnColor);

  state.Status.Switches = 0xC0;
  state.Status.Inputs = 0x05;
  state.Status.Outputs = 0x07;
  EXPECT_EQ(Lamps(ComputeTick(state, '.', false)), "000000" "1010" "00");
  state.Status.Switches = 0x3F;
  state.Status.Inputs = 0x0F;
  state.Status.Outputs = 0x08;
  EXPECT_EQ(Lamps(ComputeTick(state, '.', false)), "111111" "1111" "10");
  state.Status.Outputs = 0xE7;
  EXPECT_EQ(Lamps(ComputeTick(state, '.', false)).substr(10), "00");
}

TEST(LiveTick, SupplyAndTemperature) {
  DeviceState state = Limited();
  state.Status.PowerSupply = 24500;
  state.Status.Temperature = 45;
  TickView view = ComputeTick(state, '.', false);
  EXPECT_EQ(Text(view, kSupply), "25 V ");
  EXPECT_EQ(view.GaugePositions[kSupply], 81);
  EXPECT_EQ(Text(view, kTemperature), "45 C");
  EXPECT_EQ(view.GaugePositions[kTemperature], 50);

  state.Status.PowerSupply = 24499;
  EXPECT_EQ(Text(ComputeTick(state, '.', false), kSupply), "24 V ");
  state.Status.PowerSupply = 999500;
  view = ComputeTick(state, '.', false);
  EXPECT_EQ(Text(view, kSupply), "1E3 V ");
  EXPECT_EQ(view.GaugePositions[kSupply], 100);
  state.Status.PowerSupply = 4294967295U;
  state.Status.Temperature = 65535;
  view = ComputeTick(state, '.', false);
  EXPECT_EQ(Text(view, kSupply), "4.29E6 V ");
  EXPECT_EQ(view.GaugePositions[kSupply], 100);
  EXPECT_EQ(Text(view, kTemperature), "65535 C");
}

TEST(LiveTick, Currents) {
  DeviceState state = Limited();
  const std::pair<std::int32_t, const char*> cases[] = {
      {12345, "12.30 A "}, {9995, "10.00 A "}, {-1500, "-1.50 A "}, {-4, "0.00 A "}};
  for (const auto& [current, text] : cases) {
    state.Status.CurAct = current;
    state.Status.CurLim = current;
    const TickView view = ComputeTick(state, '.', false);
    EXPECT_EQ(Text(view, kCurAct), text);
    EXPECT_EQ(Text(view, kCurLim), text);
  }
  state.Status.CurAct = -1500;
  state.Status.CurLim = 25000;
  const TickView view = ComputeTick(state, ',', false);
  EXPECT_EQ(Text(view, kCurAct), "-1,50 A ");
  EXPECT_EQ(view.GaugePositions[kCurAct], -15);  // raw: the gauge shows it empty
  EXPECT_EQ(view.GaugePositions[kCurLim], 100);
  EXPECT_EQ(Text(view, kCurLim), "25,00 A ");
}

TEST(LiveTick, PotentiometerAndAnalogInput) {
  DeviceState state = Limited();
  const struct {
    std::uint16_t pot;
    const char* text;
    int gauge;
  } pots[] = {{3300, "100.0 % ", 100}, {1000, "30.3 % ", 30}, {16, "0.5 % ", 0}, {4000, "121.0 % ", 100}};
  for (const auto& c : pots) {
    state.Status.Potentiometer = c.pot;
    const TickView view = ComputeTick(state, '.', false);
    EXPECT_EQ(Text(view, kPot), c.text) << c.pot;
    EXPECT_EQ(view.GaugePositions[kPot], c.gauge) << c.pot;
  }
  state.Status.Ain = 4567;
  TickView view = ComputeTick(state, ',', false);
  EXPECT_EQ(Text(view, kAin), "4,6 V ");
  EXPECT_EQ(view.GaugePositions[kAin], 91);
  state.Status.Ain = 10000;
  view = ComputeTick(state, '.', false);
  EXPECT_EQ(Text(view, kAin), "10.0 V ");
  EXPECT_EQ(view.GaugePositions[kAin], 100);
}

TEST(LiveTick, PwmPercentages) {
  DeviceState state = Limited();
  state.Status.PwmAct = -500;
  state.Status.PwmLim = 1500;
  TickView view = ComputeTick(state, '.', false);
  EXPECT_EQ(Text(view, kPwmAct), "-50 %");
  EXPECT_EQ(view.GaugePositions[kPwmAct], 50);
  EXPECT_EQ(Text(view, kPwmLim), "100 %");
  EXPECT_EQ(view.GaugePositions[kPwmLim], 100);

  state.Status.PwmAct = -2000;
  state.Status.PwmLim = -999;
  view = ComputeTick(state, '.', false);
  EXPECT_EQ(Text(view, kPwmAct), "-100 %");
  EXPECT_EQ(view.GaugePositions[kPwmAct], 100);
  EXPECT_EQ(Text(view, kPwmLim), "-99 %");
  EXPECT_EQ(view.GaugePositions[kPwmLim], -99);

  state.Limits = DriverLimits{};  // no identity reply yet
  view = ComputeTick(state, '.', false);
  EXPECT_EQ(Text(view, kPwmAct), "0 %");
  EXPECT_EQ(Text(view, kPwmLim), "0 %");
  for (int gauge : view.GaugePositions) EXPECT_EQ(gauge, 0);
}

TEST(LiveTick, DriverStateAndFaultTables) {
  DeviceState state = Limited();
  const std::pair<const char*, Rgb> states[] = {
      {"Idle", {0, 0, 0}}, {"Run", {0, 128, 0}}, {"Error: ", {255, 0, 0}}, {"Stop on limit ", {0, 0, 255}}};
  for (std::uint8_t code = 0; code < 4; ++code) {
    state.Status.DriverState = code;
    const TickView view = ComputeTick(state, '.', false);
    ASSERT_TRUE(view.DriverState.has_value());
    EXPECT_EQ(view.DriverState->Text, states[code].first);
    EXPECT_EQ(view.DriverState->FontColor, states[code].second);
  }
  const char* faults[] = {" ", "Short circuit", "Over temperature", "Under voltage", "Over voltage",
                          "Internal error"};
  for (std::uint8_t code = 0; code < 6; ++code) {
    state.Status.FaultCode = code;
    EXPECT_EQ(ComputeTick(state, '.', false).FaultText, faults[code]);
  }
  state.Status.DriverState = 4;
  state.Status.FaultCode = 6;
  state.Status.WorkMode = 7;
  TickView view = ComputeTick(state, '.', false);
  EXPECT_FALSE(view.DriverState.has_value());
  EXPECT_FALSE(view.FaultText.has_value());
  EXPECT_FALSE(view.WorkModeText.has_value());
  state.Status.DriverState = 255;
  state.Status.FaultCode = 9;
  state.Status.WorkMode = 255;
  view = ComputeTick(state, '.', false);
  EXPECT_FALSE(view.DriverState.has_value());
  EXPECT_FALSE(view.FaultText.has_value());
  EXPECT_FALSE(view.WorkModeText.has_value());
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
  const TickView view = ComputeTick(state, ',', false);
  EXPECT_EQ(view.WorkModeText->View(),
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
