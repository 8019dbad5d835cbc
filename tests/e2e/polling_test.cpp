// Polling by the page shown, and its pauses.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "e2e_support.h"
#include "ui/recorder_page.h"

namespace zrv::test {
namespace {

class Polling : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(b.FirstScan());
    driver = b.PlugDriver();
    ASSERT_TRUE(b.Identified());
    driver.Sim().ClearReceived();
  }
  Bench b;
  Driver driver;
};

TEST_F(Polling, EachTickAsksForWhatThePageShows) {
  b.Ticks(3);
  EXPECT_EQ(driver.Codes(), (std::vector<int>{11, 11, 11}));
  // Switching pages sends nothing by itself; the next tick asks for the registers.
  b.ShowPage(1);
  b.Advance(39);
  EXPECT_EQ(driver.Codes().size(), 3u);
  b.Advance(1);
  b.Ticks(1);
  b.ShowPage(0);
  b.Ticks(1);
  EXPECT_EQ(driver.Codes(), (std::vector<int>{11, 11, 11, 12, 12, 11}));
  // The answers arrive and are shown: the register page's frame counter and value column.
  driver.Sim().Model().GoodFrames = 321;
  b.ShowPage(1);
  b.Ticks(1);
  EXPECT_TRUE(RunUntil([&] { return b.LabelText("Lab_ModbusOkFrames") == "321"; }));
  EXPECT_EQ(b.LabelText("Lab_ModbusNokFrames"), "0");
}

TEST_F(Polling, TwoPausesResumeFiveHundredMillisecondsAfterTheFirst) {
  b.ShowPage(1);
  b.Click("Btn_ReadSettings");
  b.Advance(300);
  b.Click("Btn_ReadSettings");
  b.Advance(199);
  EXPECT_EQ(driver.Codes(), (std::vector<int>{20, 20}));
  EXPECT_FALSE(b.Form->ReadDataTimer.Enabled());
  b.Advance(1);  // 500 ms after the first press
  EXPECT_TRUE(b.Form->ReadDataTimer.Enabled());
  EXPECT_FALSE(b.Form->TimerTimeout.Enabled());
  b.Ticks(2);
  EXPECT_EQ(driver.Codes(), (std::vector<int>{20, 20, 12, 12}));
  // The pause fired once: nothing more happens to the timers.
  b.Ticks(25);
  EXPECT_EQ(driver.Codes().size(), 29u);
}

// Polling, the live view and the recorder tick at one moment (one wake-up of the event loop),
// from the identity reply on and again after a pause that ended off the 40 ms grid.
TEST_F(Polling, TheWindowsFortyMillisecondTimersTickTogether) {
  std::vector<std::int64_t> polls, views, recorder;
  const auto record = [this](TTimer& timer, std::vector<std::int64_t>& at) {
    const auto handler = timer.OnTimer;
    timer.OnTimer = [this, handler, &at] {
      at.push_back(b.Time.NowMs());
      handler();
    };
  };
  record(b.Form->ReadDataTimer, polls);
  record(b.Form->DisplayData, views);
  record(b.Form->Recorder().Timer, recorder);
  b.Ticks(3);
  ASSERT_EQ(polls.size(), 3u);
  EXPECT_EQ(views, polls);
  EXPECT_EQ(recorder, polls);

  // A pause begun off the grid the timers kept so far: polling resumes 500 ms later, and the
  // other two timers follow its new grid.
  b.Advance(13);
  const std::int64_t pausedAt = b.Time.NowMs();
  b.Click("Btn_ReadSettings");
  polls.clear();
  views.clear();
  recorder.clear();
  b.Advance(690);  // polls at 540, 580, 620 and 660 ms
  ASSERT_EQ(polls.size(), 4u);
  EXPECT_EQ(polls.front(), pausedAt + 540);
  const auto lastFour = [](const std::vector<std::int64_t>& at) {
    return std::vector<std::int64_t>(at.end() - 4, at.end());
  };
  ASSERT_GE(views.size(), 4u);
  ASSERT_GE(recorder.size(), 4u);
  EXPECT_EQ(lastFour(views), polls);
  EXPECT_EQ(lastFour(recorder), polls);
}

TEST_F(Polling, IdentityDuringAPauseStartsPollingAndThePauseStillEnds) {
  b.Click("Btn_ReadSettings");
  driver.Sim().SendReply(10);
  ASSERT_TRUE(RunUntil([&] { return b.Form->ReadDataTimer.Enabled(); }));
  EXPECT_TRUE(b.Form->TimerTimeout.Enabled());
  b.Ticks(12);  // 480 ms
  EXPECT_EQ(driver.Count(CommandCode::ReadStatus), 12u);
  b.Advance(20);
  EXPECT_FALSE(b.Form->TimerTimeout.Enabled());
  EXPECT_TRUE(b.Form->ReadDataTimer.Enabled());
}

TEST_F(Polling, APauseThatOutlivesTheConnectionTurnsPollingOnButTicksSendNothing) {
  auto mouse = b.PlugOther(u"USB Optical Mouse");
  ASSERT_TRUE(b.Identified());
  b.Click("Btn_ReadSettings");
  b.Unplug(driver.Device);
  ASSERT_EQ(b.Status(), "Disconnected");
  b.Advance(500);
  EXPECT_TRUE(b.Form->ReadDataTimer.Enabled());
  const std::size_t received = driver.Sim().Received().size();
  b.Ticks(10);
  EXPECT_EQ(driver.Sim().Received().size(), received);
  EXPECT_EQ(mouse->WriteAttempts(), 0);
}

TEST(PollingOff, APauseWhileOffTurnsPollingOnLater) {
  Bench b;
  ASSERT_TRUE(b.FirstScan());
  b.Form->PausePolling();
  b.Advance(499);
  EXPECT_FALSE(b.Form->ReadDataTimer.Enabled());
  b.Advance(1);
  EXPECT_TRUE(b.Form->ReadDataTimer.Enabled());
  EXPECT_FALSE(b.Form->TimerTimeout.Enabled());
  // A driver found now is connected by the scan, which stops polling until its identity reply.
  Driver driver = b.PlugDriver(u"ZRVXXX", [](SimHidDeviceConfig&, sim::SimulatedDriver& sim) {
    sim.Faults().SilentFor[10] = true;
  });
  EXPECT_TRUE(b.Form->Connected());
  EXPECT_FALSE(b.Form->ReadDataTimer.Enabled());
  b.Ticks(5);
  EXPECT_EQ(driver.Codes(), std::vector<int>{10});
}

}  // namespace
}  // namespace zrv::test
