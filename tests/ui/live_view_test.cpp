// The live status view on crafted DeviceState, driven by hand-advanced time.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QImage>
#include <QPaintEvent>
#include <QPixmap>
#include <QProgressBar>
#include <QRect>
#include <QScreen>
#include <algorithm>
#include <climits>
#include <map>
#include <string>
#include <vector>

#include "ui_test_support.h"

namespace zrv::test {
namespace {

const char* const kIndicators[] = {"SW1", "SW2", "SW3", "SW4", "SW5", "SW6",
                                   "IN1", "IN2", "IN3", "IN4", "OUT1", "OUT2"};
const char* const kValueLabels[] = {"LabVal_PowerSupply", "LabVal_Temperature", "LabVal_Potentiometer",
                                    "LabVal_Ain",         "LabVal_CurLim",      "LabVal_CurAct",
                                    "LabVal_PwmLim",      "LabVal_PwmAct"};
const char* const kGauges[] = {"Pb_PowerSupply",  "Pb_Temperature", "Pb_Potentiometer", "Pb_AnalogInput",
                               "Pb_CurrentLimit", "Pb_CurrentAct",  "Pb_PwmLimit",      "Pb_PwmAct"};

class LiveView : public ::testing::Test {
 protected:
  // The gauges' limits come with the identity reply; firmware 0 stands for "no identity yet".
  LiveView() { w.Reply(IdentityReply(0, "", 0, DriverLimits{30000, 90, 1000, 10000})); }

  // The reading the driver reports at the next tick.
  LiveStatus& Status() { return status_; }
  // Delivers Status() as a status reply, then moves time by `count` ticks.
  void Ticks(int count) {
    SendStatus();
    w.Ticks(count);
  }
  void SendStatus() { w.Reply(StatusReply(status_)); }
  QString Text(const char* name) const {
    if (QLabel* label = w.Label(name)) {
      return label->text();
    }
    return w.Edit(name)->text();
  }
  int Gauge(const char* name) const { return w.Find<QProgressBar>(name)->value(); }
  // The user's decimal separator in place of the '.' of an expected text.
  QString Local(const char* text) const {
    QString s = QString::fromLatin1(text);
    s.replace(QLatin1Char('.'), QLatin1Char(w.Form->DecimalSeparator()));
    return s;
  }
  // Everything the view may write: texts, colours, gauge positions.
  std::map<QString, QString> Snapshot() const {
    std::map<QString, QString> shown;
    for (const char* name : kIndicators) {
      shown[name] = w.Edit(name)->text() + "|" + Background(w.Edit(name)).name();
    }
    for (const char* name : kValueLabels) {
      shown[name] = Text(name);
    }
    for (const char* name : kGauges) {
      shown[name] = QString::number(Gauge(name));
    }
    for (const char* name : {"Label_DriverStatus", "Label_DriverError", "Lab_WorkMode"}) {
      shown[name] = Text(name) + "|" + FontColor(w.Label(name)).name();
    }
    return shown;
  }

  WindowOnManualTime w;
  LiveStatus status_{};
};

TEST_F(LiveView, NothingChangesWhileNotConnected) {
  const auto before = Snapshot();
  Status() = LiveStatus{4, 3, 1, 0x0F, 0x18, 0x3F, 3300, 5000, 80, 5000, 6000, 24000, 500, 900};
  Ticks(25);
  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(Text("LabVal_PowerSupply"), QStringLiteral("0V"));
  EXPECT_EQ(Text("Label_DriverStatus"), QStringLiteral("Stop"));
  EXPECT_EQ(Text("SW1"), QStringLiteral("OFF"));
}

TEST_F(LiveView, AllZeroStateShowsTheZeroReadings) {
  w.Reply(IdentityReply(0, "", 0));
  ASSERT_TRUE(w.Connect());
  Ticks(1);
  EXPECT_EQ(Text("LabVal_PowerSupply"), QStringLiteral("0 V "));
  EXPECT_EQ(Text("LabVal_Temperature"), QStringLiteral("0 C"));
  EXPECT_EQ(Text("LabVal_Potentiometer"), Local("0.0 % "));
  EXPECT_EQ(Text("LabVal_Ain"), Local("0.0 V "));
  EXPECT_EQ(Text("LabVal_CurLim"), Local("0.00 A "));
  EXPECT_EQ(Text("LabVal_PwmLim"), QStringLiteral("0 %"));
  EXPECT_EQ(Text("LabVal_PwmAct"), QStringLiteral("0 %"));
  EXPECT_EQ(Text("Label_DriverStatus"), QStringLiteral("Idle"));
  EXPECT_EQ(FontColor(w.Label("Label_DriverStatus")), QColor(0, 0, 0));
  EXPECT_EQ(Text("Label_DriverError"), QStringLiteral(" "));
  EXPECT_EQ(Text("Lab_WorkMode"), Local("Speed (PWM) set by 0-5V input (0.0 V )   Current limit max (0.00 A )"));
  for (const char* name : kIndicators) {
    EXPECT_EQ(Text(name), QStringLiteral("OFF")) << name;
    EXPECT_EQ(Background(w.Edit(name)), ToColor(IndicatorOffColor)) << name;
  }
}

TEST_F(LiveView, IndicatorsFollowTheirBits) {
  ASSERT_TRUE(w.Connect());
  Status().Switches = 0x21;
  Status().Outputs = 0x18;
  Status().Inputs = 0xF0;
  Ticks(1);
  const std::map<std::string, bool> on = {{"SW1", true}, {"SW2", false}, {"SW3", false}, {"SW4", false},
                                          {"SW5", false}, {"SW6", true},  {"IN1", false}, {"IN2", false},
                                          {"IN3", false}, {"IN4", false}, {"OUT1", true}, {"OUT2", true}};
  for (const auto& [name, isOn] : on) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Text(name.c_str()), isOn ? QStringLiteral("ON") : QStringLiteral("OFF"));
    EXPECT_EQ(Background(w.Edit(name.c_str())), ToColor(isOn ? IndicatorOnColor : IndicatorOffColor));
  }
  // Bits 0..2 of the outputs are not shown; IN1 follows bit 0 back on.
  Status().Outputs = 0x07;
  Status().Inputs = 0x01;
  Ticks(1);
  EXPECT_EQ(Text("OUT1"), QStringLiteral("OFF"));
  EXPECT_EQ(Text("OUT2"), QStringLiteral("OFF"));
  EXPECT_EQ(Background(w.Edit("OUT1")), ToColor(IndicatorOffColor));
  EXPECT_EQ(Text("IN1"), QStringLiteral("ON"));
  EXPECT_EQ(Background(w.Edit("IN1")), ToColor(IndicatorOnColor));
}

TEST_F(LiveView, ValueTextsAndGauges) {
  ASSERT_TRUE(w.Connect());
  Status().PowerSupply = 24500;
  Status().Temperature = 45;
  Status().Potentiometer = 1000;
  Status().Ain = 4567;
  Status().CurLim = 12345;
  Status().CurAct = -1500;
  Status().PwmLim = 1500;
  Status().PwmAct = -500;
  Ticks(1);
  EXPECT_EQ(Text("LabVal_PowerSupply"), QStringLiteral("25 V "));
  EXPECT_EQ(Gauge("Pb_PowerSupply"), 81);
  EXPECT_EQ(Text("LabVal_Temperature"), QStringLiteral("45 C"));
  EXPECT_EQ(Gauge("Pb_Temperature"), 50);
  EXPECT_EQ(Text("LabVal_Potentiometer"), Local("30.3 % "));
  EXPECT_EQ(Gauge("Pb_Potentiometer"), 30);
  EXPECT_EQ(Text("LabVal_Ain"), Local("4.6 V "));
  EXPECT_EQ(Gauge("Pb_AnalogInput"), 91);
  EXPECT_EQ(Text("LabVal_CurLim"), Local("12.30 A "));
  EXPECT_EQ(Gauge("Pb_CurrentLimit"), 100);  // beyond full scale: pinned, text keeps the reading
  EXPECT_EQ(Text("LabVal_CurAct"), Local("-1.50 A "));
  EXPECT_EQ(Gauge("Pb_CurrentAct"), 0);
  EXPECT_EQ(Text("LabVal_PwmLim"), QStringLiteral("100 %"));
  EXPECT_EQ(Gauge("Pb_PwmLimit"), 100);
  EXPECT_EQ(Text("LabVal_PwmAct"), QStringLiteral("-50 %"));
  EXPECT_EQ(Gauge("Pb_PwmAct"), 50);  // the magnitude
}

TEST_F(LiveView, GaugesPinOutOfRangePositionsEvenAfterAnotherValue) {
  // A gauge that ignored out-of-range positions would keep its previous bar here.
  ASSERT_TRUE(w.Connect());
  Status().CurAct = 5000;
  Status().PowerSupply = 12000;
  Ticks(1);
  ASSERT_EQ(Gauge("Pb_CurrentAct"), 50);
  ASSERT_EQ(Gauge("Pb_PowerSupply"), 40);
  Status().CurAct = -4000;
  Status().PowerSupply = 999500;
  Ticks(1);
  EXPECT_EQ(Gauge("Pb_CurrentAct"), 0);
  EXPECT_EQ(Text("LabVal_CurAct"), Local("-4.00 A "));
  EXPECT_EQ(Gauge("Pb_PowerSupply"), 100);
  EXPECT_EQ(Text("LabVal_PowerSupply"), QStringLiteral("1E3 V "));
}

TEST_F(LiveView, ValueTextsSizeThemselvesAndAreNotClipped) {
  ASSERT_TRUE(w.Connect());
  w.Form->show();
  Status().PowerSupply = 999500;
  Status().CurLim = -9995;
  Status().WorkMode = 3;
  Ticks(1);
  for (const char* name : {"LabVal_PowerSupply", "LabVal_CurLim", "Lab_WorkMode"}) {
    QLabel* label = w.Label(name);
    EXPECT_GE(label->width(), label->sizeHint().width()) << name;
    // Still inside its frame.
    EXPECT_LE(label->geometry().right(), label->parentWidget()->width()) << name;
  }

  // The widest texts the readings can give: longer than the room the value texts keep.
  Status().PowerSupply = 0xFFFFFFFF;
  Status().Temperature = 0xFFFF;
  Status().Potentiometer = 0xFFFF;
  Status().Ain = 0xFFFF;
  Status().CurLim = INT32_MIN;
  Status().CurAct = INT32_MIN;
  Ticks(1);
  ASSERT_EQ(Text("LabVal_CurLim"), Local("-2.15E06 A "));
  for (const char* name : kValueLabels) {
    EXPECT_GE(w.Label(name)->width(), w.Label(name)->sizeHint().width()) << name;
  }
  EXPECT_GE(w.Label("Lab_WorkMode")->width(), w.Label("Lab_WorkMode")->sizeHint().width());
  // And back to short texts: still never clipped.
  Status().CurLim = 5;
  Status().PowerSupply = 1000;
  Ticks(1);
  for (const char* name : {"LabVal_PowerSupply", "LabVal_CurLim", "Lab_WorkMode"}) {
    EXPECT_GE(w.Label(name)->width(), w.Label(name)->sizeHint().width()) << name;
  }
}

TEST_F(LiveView, DriverStateFaultAndWorkModeTables) {
  ASSERT_TRUE(w.Connect());
  Status().DriverState = 2;
  Status().FaultCode = 2;
  Status().WorkMode = 5;
  Ticks(1);
  EXPECT_EQ(Text("Label_DriverStatus"), QStringLiteral("Error: "));
  EXPECT_EQ(FontColor(w.Label("Label_DriverStatus")), QColor(255, 0, 0));
  EXPECT_EQ(Text("Label_DriverError"), QStringLiteral("Over temperature"));
  EXPECT_EQ(Text("Lab_WorkMode"), QStringLiteral("Current set by Modbus"));

  // Codes outside their tables leave text and colour as they were.
  Status().DriverState = 4;
  Status().FaultCode = 9;
  Status().WorkMode = 7;
  Ticks(3);
  EXPECT_EQ(Text("Label_DriverStatus"), QStringLiteral("Error: "));
  EXPECT_EQ(FontColor(w.Label("Label_DriverStatus")), QColor(255, 0, 0));
  EXPECT_EQ(Text("Label_DriverError"), QStringLiteral("Over temperature"));
  EXPECT_EQ(FontColor(w.Label("Label_DriverError")), QColor(255, 0, 0));
  EXPECT_EQ(Text("Lab_WorkMode"), QStringLiteral("Current set by Modbus"));

  Status().DriverState = 0;
  Status().FaultCode = 0;
  Ticks(1);
  EXPECT_EQ(Text("Label_DriverStatus"), QStringLiteral("Idle"));
  EXPECT_EQ(FontColor(w.Label("Label_DriverStatus")), QColor(0, 0, 0));
  EXPECT_EQ(Text("Label_DriverError"), QStringLiteral(" "));

  Status().DriverState = 1;
  Ticks(1);
  EXPECT_EQ(FontColor(w.Label("Label_DriverStatus")), QColor(0, 128, 0));
  Status().DriverState = 3;
  Ticks(1);
  EXPECT_EQ(Text("Label_DriverStatus"), QStringLiteral("Stop on limit "));
  EXPECT_EQ(FontColor(w.Label("Label_DriverStatus")), QColor(0, 0, 255));
}

// Every state with every fault, in an order that lets each fault follow each state change: the
// fault text starts after the state text (at its laid-out place whenever the state text ends
// before it), and neither is clipped nor runs out of the driver strip.
TEST_F(LiveView, FaultTextNeverOverlapsTheStateText) {
  ASSERT_TRUE(w.Connect());
  w.Form->show();
  QLabel* state = w.Label("Label_DriverStatus");
  QLabel* fault = w.Label("Label_DriverError");
  const int laidOut = fault->x();
  ASSERT_EQ(laidOut, 181);
  for (int round = 0; round < 2; ++round) {
    for (std::uint8_t driverState = 0; driverState < 4; ++driverState) {
      for (std::uint8_t faultCode = 0; faultCode < 6; ++faultCode) {
        Status().DriverState = round == 0 ? driverState : static_cast<std::uint8_t>(3 - driverState);
        Status().FaultCode = faultCode;
        Ticks(1);
        const std::string pair = state->text().toStdString() + "|" + fault->text().toStdString();
        EXPECT_GE(fault->x(), state->geometry().right() + 1) << pair;
        if (state->geometry().right() < laidOut) {
          EXPECT_EQ(fault->x(), laidOut) << pair;
        }
        for (QLabel* label : {state, fault}) {
          EXPECT_GE(label->width(), label->sizeHint().width()) << pair;
          EXPECT_LE(label->geometry().right(), label->parentWidget()->contentsRect().right()) << pair;
        }
      }
    }
  }
  // The long pair does push the fault text.
  Status().DriverState = 3;
  Status().FaultCode = 2;
  Ticks(1);
  EXPECT_GT(fault->x(), laidOut);
}

TEST_F(LiveView, WorkModeEmbedsTheTextsOfTheSameTick) {
  ASSERT_TRUE(w.Connect());
  Status().Potentiometer = 1000;
  Status().WorkMode = 2;
  Ticks(1);
  Status().Potentiometer = 3300;
  Status().CurLim = 2500;
  Ticks(1);
  EXPECT_EQ(Text("Lab_WorkMode"),
            Local("Speed (PWM) set by potentiometer (100.0 % )   Current limit max (2.50 A )"));
}

// ---- Firmware gate ----

TEST_F(LiveView, FirmwareOf0Or120NeverWarnsAndTheViewKeepsRunning) {
  ASSERT_TRUE(w.Connect());
  Ticks(10);  // 0: no identity reply yet
  w.Reply(IdentityReply(120, "ZRV", 100));
  Ticks(10);
  EXPECT_TRUE(w.Boxes.Boxes.empty());
  EXPECT_TRUE(w.Form->LiveViewRunning());
  Status().PowerSupply = 12000;
  Ticks(1);
  EXPECT_EQ(Text("LabVal_PowerSupply"), QStringLiteral("12 V "));
}

TEST_F(LiveView, FirmwareOf119WarnsOnceThenTheViewStopsForGood) {
  w.Reply(IdentityReply(119, "ZRV", 100));
  ASSERT_TRUE(w.Connect());
  int nestedTicksSeen = 0;
  w.Boxes.WhileOpen = [&] {
    // The box is modal but timers go on: ticks run, find the flag set and repaint.
    Status().PowerSupply = 6000;
    SendStatus();
    w.Time.Advance(200);
    nestedTicksSeen = Text("LabVal_PowerSupply") == QStringLiteral("6 V ") ? 1 : 0;
    // Changed again just before the operator closes the box.
    Status().PowerSupply = 9000;
    SendStatus();
  };
  Ticks(1);
  ASSERT_EQ(w.Boxes.Boxes.size(), 1u);
  EXPECT_EQ(w.Boxes.Boxes[0].Kind, "Warning");
  EXPECT_EQ(w.Boxes.Boxes[0].Caption, "Warning");
  EXPECT_EQ(w.Boxes.Boxes[0].Text, "Firmware not supported. Please update device firmware (min. 1.20)");
  EXPECT_EQ(nestedTicksSeen, 1);
  EXPECT_TRUE(w.Form->FirmwareWarningShown());
  EXPECT_FALSE(w.Form->LiveViewRunning());
  // The interrupted tick completed after the box, with the state of that moment.
  EXPECT_EQ(Text("LabVal_PowerSupply"), QStringLiteral("9 V "));

  // From now on nothing changes, also across a reconnection.
  w.Boxes.WhileOpen = nullptr;
  const auto frozen = Snapshot();
  Status().PowerSupply = 24000;
  Status().Switches = 0x3F;
  Ticks(25);
  ASSERT_TRUE(w.Disconnect());
  Ticks(5);
  w.Reply(IdentityReply(125, "ZRV", 100));
  ASSERT_TRUE(w.Connect());
  Ticks(25);
  EXPECT_EQ(Snapshot(), frozen);
  EXPECT_EQ(w.Boxes.Boxes.size(), 1u);
}

// The firmware box on the real clock: ticks that fall due while it is open enter the view again,
// so a reading that changes while it is open is on screen before it closes.
TEST(LiveViewOnTheRealClock, TheViewKeepsMovingWhileTheFirmwareBoxIsOpen) {
  FakeMessageBoxes boxes;
  SimHidPlatform platform;
  DriverSession session(RealTimeSource(), platform);
  TForm1 form(session, RealTimeSource(), boxes);
  Deliver(session, IdentityReply(119, "ZRV", 100, DriverLimits{30000, 0, 0, 0}));
  LiveStatus status{};
  auto* supply = form.findChild<QLabel*>(QStringLiteral("LabVal_PowerSupply"));
  bool seenWhileOpen = false;
  boxes.WhileOpen = [&] {
    status.PowerSupply = 6000;
    Deliver(session, StatusReply(status));
    QEventLoop box;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
      if (supply->text() == QStringLiteral("6 V ")) {
        seenWhileOpen = true;
        box.quit();
      }
    });
    look.start(1);
    // A bound in case the view stands still; the flag then tells.
    QTimer::singleShot(10000, &box, &QEventLoop::quit);
    box.exec();
    status.PowerSupply = 9000;
    Deliver(session, StatusReply(status));
  };
  ASSERT_NE(PlugConnectedDriver(platform, session), nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.Boxes.empty() && !form.LiveViewRunning(); }, 20000));
  EXPECT_TRUE(seenWhileOpen);
  EXPECT_EQ(boxes.Boxes.size(), 1u);
  // The interrupted tick completed with the reading of that moment; nothing moves after it.
  EXPECT_EQ(supply->text(), QStringLiteral("9 V "));
  status.PowerSupply = 12000;
  Deliver(session, StatusReply(status));
  QTest::qWait(200);
  EXPECT_EQ(supply->text(), QStringLiteral("9 V "));
  EXPECT_EQ(boxes.Boxes.size(), 1u);
}

// ---- Repaints ----

class PaintCounter : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    ++Events;
    if (event->type() == QEvent::Paint) {
      ++Paints[watched->objectName()];
    }
    return false;
  }
  int Total() const {
    int total = 0;
    for (const auto& [name, count] : Paints) {
      total += count;
    }
    return total;
  }
  std::map<QString, int> Paints;
  // Every event of any kind: a setter that touched a widget whose value was unchanged would cause
  // palette, style, geometry or update events even when it caused no paint.
  int Events = 0;
};

void FlushPaints() {
  for (int i = 0; i < 5; ++i) {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
  }
}

TEST_F(LiveView, ASteadyReadingRepaintsNothingAndTouchesNoWidget) {
  Status() = LiveStatus{2, 1, 2, 0x05, 0x08, 0x21, 1650, 2500, 40, 3000, 6000, 24000, 400, 800};
  ASSERT_TRUE(w.Connect());
  w.Form->show();
  Ticks(1);
  FlushPaints();

  PaintCounter counter;
  std::vector<QWidget*> watched;
  for (const char* name : kIndicators) watched.push_back(w.Edit(name));
  for (const char* name : kValueLabels) watched.push_back(w.Label(name));
  for (const char* name : kGauges) watched.push_back(w.Find<QWidget>(name));
  for (const char* name : {"Label_DriverStatus", "Label_DriverError", "Lab_WorkMode"}) {
    watched.push_back(w.Label(name));
  }
  for (QWidget* widget : watched) {
    widget->installEventFilter(&counter);
  }

  for (int tick = 0; tick < 25; ++tick) {
    Ticks(1);
    FlushPaints();
  }
  EXPECT_EQ(counter.Total(), 0);
  EXPECT_EQ(counter.Events, 0);

  // The counter does see paints: one changed reading repaints its widgets.
  Status().PowerSupply = 12000;
  Ticks(1);
  FlushPaints();
  EXPECT_GT(counter.Paints[QStringLiteral("LabVal_PowerSupply")], 0);
  EXPECT_GT(counter.Paints[QStringLiteral("Pb_PowerSupply")], 0);
  EXPECT_EQ(counter.Paints[QStringLiteral("SW1")], 0);
}

QImage OnScreen(const TForm1& form) {
  return form.screen()->grabWindow(form.winId()).toImage().convertToFormat(QImage::Format_RGB32);
}
QImage Rendered(TForm1& form) { return form.grab().toImage().convertToFormat(QImage::Format_RGB32); }

// Empty when the screen shows what a full rendering draws; else where they differ, and the widget
// there, for the one who reads a failure.
std::string ScreenDiffers(TForm1& form) {
  const QImage screen = OnScreen(form);
  const QImage rendered = Rendered(form);
  if (screen == rendered) return {};
  if (screen.size() != rendered.size()) return "the screen and the rendering differ in size";
  QRect differs;
  for (int y = 0; y < screen.height(); ++y) {
    for (int x = 0; x < screen.width(); ++x) {
      if (screen.pixel(x, y) != rendered.pixel(x, y)) differs |= QRect(x, y, 1, 1);
    }
  }
  const QWidget* at = form.childAt(differs.center());
  return "differs in " + std::to_string(differs.x()) + "," + std::to_string(differs.y()) + " " +
         std::to_string(differs.width()) + "x" + std::to_string(differs.height()) + " at " +
         (at == nullptr ? std::string("the window") : at->objectName().toStdString());
}

// Texts that grow, shrink and change anywhere: after every tick the screen must look exactly as a
// full rendering of the window draws it.
TEST_F(LiveView, RepaintsLeaveTheWindowAsAFullRenderingDrawsIt) {
  Status() = LiveStatus{2, 0, 1, 0x05, 0x08, 0x21, 1650, 2500, 40, 3000, 6000, 24000, 400, 800};
  ASSERT_TRUE(w.Connect());
  w.Form->show();
  Ticks(1);
  FlushPaints();
  ASSERT_EQ(ScreenDiffers(*w.Form), "");

  PaintCounter paints;
  w.Label("Lab_WorkMode")->installEventFilter(&paints);
  const std::uint16_t potentiometer[] = {1650, 1660, 3300, 16, 0, 999, 1000, 3299, 3300, 4000, 12};
  const std::int32_t current[] = {800, 801, 9999, -1, 12345, 9995, -1500, 4, 0, -99999, 7};
  const std::uint32_t supply[] = {24000, 24499, 999500, 7000, 100000, 9000, 0, 24500, 1, 30000, 5};
  for (std::size_t tick = 0; tick < std::size(potentiometer); ++tick) {
    Status().Potentiometer = potentiometer[tick];
    Status().CurAct = current[tick];
    Status().CurLim = current[(tick + 3) % std::size(current)];
    Status().PowerSupply = supply[tick];
    Status().PwmAct = static_cast<std::int16_t>(static_cast<int>(tick) * 97 - 500);
    // Every work mode: texts that share a start with the one before, and texts that do not.
    Status().WorkMode = static_cast<std::uint8_t>(tick % 7);
    Ticks(1);
    FlushPaints();
    ASSERT_EQ(ScreenDiffers(*w.Form), "") << "tick " << tick;
  }
  EXPECT_GE(paints.Paints[QStringLiteral("Lab_WorkMode")], 8);
}

// Gauges creeping up and down by a point or two per tick, across the whole scale, must show where
// their reading is at every tick, not where it was when they last moved far enough.
TEST_F(LiveView, CreepingGaugesShowTheirReadingAtEveryTick) {
  Status() = LiveStatus{2, 0, 1, 0x05, 0x08, 0x21, 0, 0, 40, 3000, 0, 0, 0, 0};
  ASSERT_TRUE(w.Connect());
  w.Form->show();
  Ticks(1);
  FlushPaints();
  for (int tick = 0; tick < 130; ++tick) {
    const int up = std::min(tick, 100);
    const int down = std::max(0, 100 - tick * 2);
    Status().PowerSupply = static_cast<std::uint32_t>(up * 300);  // 1 % of 30 V a tick
    Status().Potentiometer = static_cast<std::uint16_t>(down * 33);  // 2 % a tick, downwards
    Status().PwmAct = static_cast<std::int16_t>(up % 7 == 0 ? up * 10 : up * 10 - 30);  // back and forth
    Ticks(1);
    FlushPaints();
    ASSERT_EQ(Gauge("Pb_PowerSupply"), up);
    ASSERT_EQ(ScreenDiffers(*w.Form), "") << "tick " << tick;
  }
}

}  // namespace
}  // namespace zrv::test
