// Polling by the page shown, and its pauses.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
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
  EXPECT_FALSE(b.Session->Polling());
  b.Advance(1);  // 500 ms after the first press
  EXPECT_TRUE(b.Session->Polling());
  EXPECT_FALSE(b.Session->PollingPaused());
  b.Ticks(2);
  EXPECT_EQ(driver.Codes(), (std::vector<int>{20, 20, 12, 12}));
  // The pause fired once: nothing more happens to the timers.
  b.Ticks(25);
  EXPECT_EQ(driver.Codes().size(), 29u);
}

// Polling, the live view and the recorder tick at one moment (one wake-up of the event loop),
// from the identity reply on and again after a pause that ended off the 40 ms grid.
TEST_F(Polling, TheWindowsFortyMillisecondTimersTickTogether) {
  // How many 40 ms timers tick at each moment: polling, the live view and the recorder.
  std::map<std::int64_t, int> ticksAt;
  b.Time.OnTick = [&](std::int64_t nowMs, int intervalMs) {
    if (intervalMs == 40) ++ticksAt[nowMs];
  };
  b.Ticks(3);
  ASSERT_EQ(driver.Count(CommandCode::ReadStatus), 3u);
  ASSERT_EQ(ticksAt.size(), 3u);
  for (const auto& [at, count] : ticksAt) EXPECT_EQ(count, 3) << "at " << at;

  // A pause begun off the grid the timers kept so far: polling resumes 500 ms later, and the
  // other two timers follow its new grid.
  b.Advance(13);
  const std::int64_t pausedAt = b.Time.NowMs();
  b.Click("Btn_ReadSettings");
  ticksAt.clear();
  b.Advance(690);  // polls at 540, 580, 620 and 660 ms
  EXPECT_EQ(driver.Count(CommandCode::ReadStatus), 7u);
  std::map<std::int64_t, int> afterPause;
  for (const auto& [at, count] : ticksAt) {
    if (at > pausedAt + 500) afterPause[at] = count;
  }
  const std::map<std::int64_t, int> together = {
      {pausedAt + 540, 3}, {pausedAt + 580, 3}, {pausedAt + 620, 3}, {pausedAt + 660, 3}};
  EXPECT_EQ(afterPause, together);
  b.Time.OnTick = nullptr;
}

// Pauses across identity replies, unplugs and times without a connection are the session's
// rules: tests/session checks them without a window.

}  // namespace
}  // namespace zrv::test
