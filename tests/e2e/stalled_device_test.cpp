// A driver that stops taking output reports: the window goes on ticking and painting, the
// settings report still arrives once and in order, and unplugging meanwhile loses nothing.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>

#include "e2e_support.h"
#include "ui/recorder_page.h"

namespace zrv::test {
namespace {

constexpr const char* kNoAnswer = "No answer from the driver";

// Counts the window's 40 ms ticks (the recorder page's timer, which ticks with the live view's)
// and the paint events of the window and its widgets.
class Activity : public QObject {
 public:
  explicit Activity(TForm1& form) : form_(form), timer_(form.findChild<RecorderPage*>()->Timer) {
    previous_ = timer_.OnTimer;
    timer_.OnTimer = [this] {
      ++Ticks;
      previous_();
    };
    qApp->installEventFilter(this);
  }
  ~Activity() override {
    qApp->removeEventFilter(this);
    timer_.OnTimer = previous_;
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && watched->isWidgetType() &&
        (watched == &form_ || form_.isAncestorOf(static_cast<QWidget*>(watched)))) {
      ++Paints;
    }
    return false;
  }
  int Ticks = 0;
  int Paints = 0;

 private:
  TForm1& form_;
  TTimer& timer_;
  std::function<void()> previous_;
};

void ClickWithoutWaiting(Bench& b, const char* button) { b.Find<QPushButton>(button)->click(); }

TEST(StalledDevice, TheWindowGoesOnAndTheSettingsStillArriveOnceInOrder) {
  Bench b;
  b.Form->show();
  ASSERT_TRUE(b.FirstScan());
  Driver driver = b.PlugDriver();
  ASSERT_TRUE(b.Identified());
  b.ShowPage(1);
  b.Ticks(2);
  RunRounds(5);
  driver.Sim().ClearReceived();

  driver.Device->SetWriteStall(5000);
  b.Time.Advance(40);
  ASSERT_TRUE(RunUntil([&] { return driver.Device->StalledWrites() == 1; }));
  const int attempts = driver.Device->WriteAttempts();

  // A second and a half while the write is stuck: every tick runs, each poll is dropped rather
  // than queued, and the status line says why nothing comes back.
  Activity activity(*b.Form);
  for (int i = 0; i < 38; ++i) b.Time.Advance(40);
  EXPECT_EQ(activity.Ticks, 38);
  EXPECT_EQ(driver.Device->WriteAttempts(), attempts);
  EXPECT_EQ(b.LabelText("Label_Status"), kNoAnswer);
  RunRounds(5);
  EXPECT_GT(activity.Paints, 0);

  // Save while stuck: it waits its turn behind the stuck poll.
  ClickWithoutWaiting(b, "Btn_SaveParams");
  for (int i = 0; i < 5; ++i) b.Time.Advance(40);
  EXPECT_EQ(activity.Ticks, 43);
  EXPECT_EQ(driver.Device->StalledWrites(), 1);

  driver.Device->SetWriteStall(0);
  driver.Device->ReleaseStalledWrites();
  ASSERT_TRUE(b.Flush());
  EXPECT_EQ(driver.Codes(), (std::vector<int>{12, 148}));
  ASSERT_TRUE(RunUntil([&] { return b.LabelText("Label_Status") == "Ustawienia Modbus zapisane"; }));
  // Polling resumes after the pause.
  b.Advance(500);
  b.Ticks(2);
  EXPECT_EQ(driver.Codes().back(), 12);
}

TEST(StalledDevice, OnTheRealClockTheWindowGoesOnAndUnpluggingLosesNothing) {
  Bench b({}, &RealTimeSource());
  b.Form->show();
  ASSERT_TRUE(b.FirstScan());
  Driver driver = b.PlugDriver();
  ASSERT_TRUE(b.Identified());
  driver.Device->SetWriteStall(5000);
  ASSERT_TRUE(RunUntil([&] { return driver.Device->StalledWrites() == 1; }));

  // Counted while the write stays stuck: ticks of the live view, the status line's new text and
  // the paints that show it.
  Activity activity(*b.Form);
  ASSERT_TRUE(RunUntil([&] {
    return activity.Ticks >= 30 && b.LabelText("Label_Status") == kNoAnswer && activity.Paints > 0;
  }));
  EXPECT_EQ(driver.Device->StalledWrites(), 1);

  // A save queued behind the stuck poll, then the driver is unplugged: its report can no longer
  // go out, and the status line says so; nothing is left behind.
  ClickWithoutWaiting(b, "Btn_SaveParams");
  b.Unplug(driver.Device);
  EXPECT_EQ(b.Status(), "No connection");
  ASSERT_TRUE(RunUntil([&] { return b.LabelText("Label_Status") == "Ustawienia Modbus nie zapisane"; }));
  EXPECT_EQ(driver.Count(CommandCode::WriteModbusSettings), 0u);
  EXPECT_EQ(driver.Device->StalledWrites(), 0);
  EXPECT_EQ(driver.Device->OpenHandleCount(), 0);
  EXPECT_TRUE(RunUntil([&] {
    if (b.Session->HidDeviceController1().FinishingWriters() == 0) return true;
    b.Platform.AnnounceChange();
    return false;
  }));
}

TEST(StalledDevice, AnotherDevicePluggedMidStallNeitherWaitsForTheWriteNorLosesTheDriver) {
  Bench b;
  ASSERT_TRUE(b.FirstScan());
  Driver driver = b.PlugDriver();
  ASSERT_TRUE(b.Identified());
  driver.Device->SetWriteStall(5000);
  b.Time.Advance(40);
  ASSERT_TRUE(RunUntil([&] { return driver.Device->StalledWrites() == 1; }));

  // The rescan releases the driver's device object while its write is stuck: the writer is kept
  // aside, and the fresh object connects with a writer of its own.
  driver.Device->SetWriteStall(0);
  auto mouse = b.PlugOther(u"USB Optical Mouse");
  EXPECT_EQ(driver.Device->StalledWrites(), 1);
  EXPECT_EQ(b.Session->HidDeviceController1().FinishingWriters(), 1u);
  ASSERT_TRUE(b.Identified());
  EXPECT_EQ(driver.Count(CommandCode::ReadIdentity), 2u);

  driver.Device->ReleaseStalledWrites();
  ASSERT_TRUE(RunUntil([&] { return driver.Device->StalledWrites() == 0; }));
  // A later scan lets the finished writer go.
  b.Unplug(mouse);
  EXPECT_TRUE(RunUntil([&] {
    if (b.Session->HidDeviceController1().FinishingWriters() == 0) return true;
    b.Platform.AnnounceChange();
    return false;
  }));
  EXPECT_TRUE(b.Session->Connected());
}

}  // namespace
}  // namespace zrv::test
