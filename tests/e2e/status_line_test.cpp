// The status line: why nothing works (no access, no answer), and what became of a save.
#include <gtest/gtest.h>

#include "e2e_support.h"

namespace zrv::test {
namespace {

constexpr const char* kNoAnswer = "No answer from the driver";
constexpr const char* kNotSaved = "Ustawienia Modbus nie zapisane";
constexpr const char* kSaved = "Ustawienia Modbus zapisane";

QString NoAccess(const std::string& node) {
  return QString::fromStdString("Driver found, but " + node +
                                " cannot be opened for read/write: install the udev rule (see README)");
}

auto Refusing() {
  return [](SimHidDeviceConfig& config, sim::SimulatedDriver&) { config.RefuseReadWrite = true; };
}

TEST(StatusLine, ADriverThatMayNotBeOpenedIsNamedWithItsNode) {
  Bench b;
  ASSERT_TRUE(b.FirstScan());
  Driver driver = b.PlugDriver(u"ZRVXXX", Refusing());
  EXPECT_EQ(b.Status(), "No connection");
  EXPECT_EQ(b.LabelText("Label_Status"), NoAccess(driver.Device->Path()));
  // The strip may be too narrow for it at the window's fixed width: then the tooltip has it whole.
  const QLabel* label = b.Find<QLabel>("Label_Status");
  if (label->x() + label->sizeHint().width() > label->parentWidget()->width()) {
    EXPECT_EQ(label->toolTip(), label->text());
  }
  // Gone again: back to what it said before.
  b.Unplug(driver.Device);
  EXPECT_EQ(b.LabelText("Label_Status"), "...");
  EXPECT_TRUE(b.Find<QLabel>("Label_Status")->toolTip().isEmpty());
}

TEST(StatusLine, AnEarlierDriversIdentityDoesNotContradictALaterRefusedOne) {
  Bench b;
  ASSERT_TRUE(b.FirstScan());
  Driver first = b.PlugDriver();
  ASSERT_TRUE(b.Identified());
  Driver second = b.PlugDriver(u"ZRVXXX", Refusing());
  // The first driver was asked again and answers; the later one decides: no connection.
  ASSERT_TRUE(RunUntil([&] { return first.Count(CommandCode::ReadIdentity) == 2; }));
  RunRounds(20);
  EXPECT_EQ(b.Status(), "No connection");
  EXPECT_EQ(b.StatusColour(), QColor(253, 124, 102));
  EXPECT_FALSE(b.Session->Connected());
  EXPECT_FALSE(b.Session->Polling());
  EXPECT_EQ(b.LabelText("Label_Status"), NoAccess(second.Device->Path()));
  b.Ticks(5);
  EXPECT_EQ(first.Count(CommandCode::ReadStatus), 0u);

  // The refused one unplugged: the first is connected and identified again.
  b.Unplug(second.Device);
  ASSERT_TRUE(b.Identified());
  EXPECT_TRUE(b.Session->Polling());
  EXPECT_EQ(b.LabelText("Label_Status"), "...");
}

TEST(StatusLine, ASilentDriverIsReportedAfterOneSecondAndTheNextReplyClearsIt) {
  Bench b;
  ASSERT_TRUE(b.FirstScan());
  Driver driver = b.PlugDriver();
  ASSERT_TRUE(b.Identified());
  b.Ticks(2);
  RunRounds(5);
  driver.Sim().Faults().SilentAll = true;
  // One second after the latest reply, and not a tick sooner, is "no answer".
  b.Ticks(24);
  RunRounds(5);
  EXPECT_EQ(b.LabelText("Label_Status"), "...");
  b.Ticks(1);
  EXPECT_EQ(b.LabelText("Label_Status"), kNoAnswer);
  EXPECT_EQ(b.Status().left(13), "Connected to ");  // the connection field keeps its word

  // After a save was sent, a reply brings back the save's text.
  b.ShowPage(1);
  b.Click("Btn_SaveParams");
  EXPECT_EQ(b.LabelText("Label_Status"), kNoAnswer);
  driver.Sim().Faults().SilentAll = false;
  b.Advance(500);
  b.Ticks(1);
  ASSERT_TRUE(RunUntil([&] { return b.LabelText("Label_Status") != kNoAnswer; }));
  EXPECT_EQ(b.LabelText("Label_Status"), " ");

  // Not connected: never "no answer".
  b.Unplug(driver.Device);
  b.Ticks(40);
  EXPECT_EQ(b.LabelText("Label_Status"), " ");
}

TEST(StatusLine, OnTheRealClockSilenceIsReportedAndAnsweringDriversAreNot) {
  Bench b({}, &RealTimeSource());
  ASSERT_TRUE(b.FirstScan());
  int watchRunOuts = 0;
  QObject::connect(b.Session.get(), &DriverSession::AnswerWatchExpired, [&] { ++watchRunOuts; });
  // Answers everything: over 75 polls (three seconds) the watch never runs out, so it costs no
  // wake-up, and the text never appears.
  Driver driver = b.PlugDriver();
  ASSERT_TRUE(b.Identified());
  bool everNoAnswer = false;
  const int runOutsBefore = watchRunOuts;
  int polls = 0;
  // Polls answered, counted on this thread.
  QObject::connect(b.Session.get(), &DriverSession::StatusDecoded, [&] { ++polls; });
  ASSERT_TRUE(RunUntil([&] {
    everNoAnswer = everNoAnswer || b.LabelText("Label_Status") == kNoAnswer;
    return polls >= 75;
  }));
  EXPECT_FALSE(everNoAnswer);
  EXPECT_EQ(watchRunOuts, runOutsBefore);
  b.Unplug(driver.Device);

  // Answers nothing, not even the identity request: the watch runs out and says so.
  const int pluggedAt = watchRunOuts;
  Driver silent = b.PlugDriver(u"ZRVXXX", [](SimHidDeviceConfig&, sim::SimulatedDriver& sim) {
    sim.Faults().SilentAll = true;
  });
  ASSERT_TRUE(RunUntil([&] { return b.LabelText("Label_Status") == kNoAnswer; }));
  EXPECT_GE(watchRunOuts - pluggedAt, 1);
  EXPECT_EQ(b.Status(), "Connected");
}

TEST(StatusLine, AFailedSaveStaysFailedUntilTheNextSaveGoesOut) {
  Bench b;
  ASSERT_TRUE(b.FirstScan());
  Driver driver = b.PlugDriver();
  ASSERT_TRUE(b.Identified());
  b.ShowPage(1);

  driver.Device->SetFailWrites(true);
  b.Click("Btn_SaveParams");
  ASSERT_TRUE(RunUntil([&] { return b.LabelText("Label_Status") == kNotSaved; }));
  // A late or stray acknowledgement does not turn it into success.
  driver.Sim().SendReply(148);
  RunRounds(20);
  EXPECT_EQ(b.LabelText("Label_Status"), kNotSaved);

  // The next save that goes out makes acknowledgements count again.
  driver.Device->SetFailWrites(false);
  b.Click("Btn_SaveParams");
  ASSERT_TRUE(RunUntil([&] { return b.LabelText("Label_Status") == kSaved; }));
  EXPECT_EQ(driver.Count(CommandCode::WriteModbusSettings), 1u);
  // Unsolicited acknowledgements otherwise show as before.
  driver.Sim().SendReply(20);
  driver.Sim().SendReply(148);
  RunRounds(20);
  EXPECT_EQ(b.LabelText("Label_Status"), kSaved);
}

TEST(StatusLine, ASettingsReportThatWouldBeCutIsNotSent) {
  Bench b;
  ASSERT_TRUE(b.FirstScan());
  SimHidDeviceConfig config;
  config.Path = "/sim/short";
  config.Instance = 900;
  config.ProductString = u"ZRVXXX";
  config.OutputReportByteLength = 8;
  std::shared_ptr<SimHidDevice> device;
  b.Rescan([&] { device = b.Platform.Plug(config); });
  ASSERT_TRUE(b.Session->Connected());
  const int written = device->WriteCount();
  b.Click("Btn_SaveParams");
  EXPECT_EQ(device->WriteCount(), written);
  EXPECT_EQ(b.LabelText("Label_Status"), kNotSaved);
  // Commands still go out whole.
  b.Click("Btn_ReadSettings");
  EXPECT_EQ(device->WriteCount(), written + 1);
}

}  // namespace
}  // namespace zrv::test
