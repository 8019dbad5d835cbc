// The window's timers, on hand-driven time and once on the real clock.
#include "link/ttimer.h"
#include "support/manual_time_source.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/run_until.h"

namespace zrv {
namespace {

TEST(TTimerTest, TicksOncePerIntervalHoweverTimeIsAdvanced) {
  ManualTimeSource time;
  TTimer timer(time, 40, true);
  int ticks = 0;
  timer.OnTimer = [&] { ++ticks; };
  time.Advance(39);
  EXPECT_EQ(ticks, 0);
  time.Advance(1);
  EXPECT_EQ(ticks, 1);
  for (int i = 0; i < 60; ++i) time.Advance(7);  // 420 ms more
  EXPECT_EQ(ticks, 11);
  time.Advance(400);
  EXPECT_EQ(ticks, 21);
  EXPECT_EQ(time.NowMs(), 860);
}

TEST(TTimerTest, EnablingAnEnabledTimerDoesNotRestartIt) {
  ManualTimeSource time;
  TTimer timer(time, 500, false);
  int ticks = 0;
  timer.OnTimer = [&] { ++ticks; };
  time.Advance(1000);
  EXPECT_EQ(ticks, 0);
  timer.SetEnabled(true);
  time.Advance(300);
  timer.SetEnabled(true);
  time.Advance(200);
  EXPECT_EQ(ticks, 1);
  timer.SetEnabled(false);
  timer.SetEnabled(false);
  time.Advance(1000);
  EXPECT_EQ(ticks, 1);
  timer.SetEnabled(true);  // a real restart: a full interval from now
  time.Advance(499);
  EXPECT_EQ(ticks, 1);
  time.Advance(1);
  EXPECT_EQ(ticks, 2);
}

// The polling pause: two pauses 300 ms apart resume polling 500 ms after the first.
TEST(TTimerTest, TwoPausesResumeAfterTheFirst) {
  ManualTimeSource time;
  TTimer readData(time, 40, false);
  TTimer timeout(time, 500, false);
  int polls = 0;
  int timeouts = 0;
  readData.OnTimer = [&] { ++polls; };
  timeout.OnTimer = [&] {
    ++timeouts;
    readData.SetEnabled(true);
    timeout.SetEnabled(false);
  };
  auto pause = [&] {
    readData.SetEnabled(false);
    timeout.SetEnabled(true);
  };
  readData.SetEnabled(true);
  time.Advance(80);
  EXPECT_EQ(polls, 2);
  pause();
  time.Advance(300);
  pause();
  time.Advance(199);
  EXPECT_FALSE(readData.Enabled());
  time.Advance(1);
  EXPECT_TRUE(readData.Enabled());
  EXPECT_FALSE(timeout.Enabled());
  EXPECT_EQ(timeouts, 1);
  EXPECT_EQ(polls, 2);
  time.Advance(40);
  EXPECT_EQ(polls, 3);
  time.Advance(1000);
  EXPECT_EQ(timeouts, 1);
}

TEST(TTimerTest, SimultaneousTicksFireInArmingOrderAndHandlersMayChangeTimers) {
  ManualTimeSource time;
  TTimer a(time, 40, true);
  TTimer b(time, 20, true);
  TTimer c(time, 10, false);
  std::string log;
  a.OnTimer = [&] { log += 'a'; };
  b.OnTimer = [&] {
    log += 'b';
    if (log.size() == 1) c.SetEnabled(true);  // armed at 20: first tick at 30
  };
  c.OnTimer = [&] {
    log += 'c';
    c.SetEnabled(false);
  };
  time.Advance(40);
  EXPECT_EQ(log, "bcab");
}

TEST(TTimerTest, AHandlerMayRunANestedLoopThatMovesTheSameClock) {
  ManualTimeSource time;
  TTimer display(time, 40, true);
  TTimer box(time, 100, true);
  int displayTicks = 0;
  int boxes = 0;
  display.OnTimer = [&] { ++displayTicks; };
  box.OnTimer = [&] {
    ++boxes;
    box.SetEnabled(false);
    time.Advance(200);  // a modal box open for 200 ms: other timers go on
  };
  time.Advance(100);
  EXPECT_EQ(boxes, 1);
  EXPECT_EQ(time.NowMs(), 300);
  EXPECT_EQ(displayTicks, 7);  // 40 .. 280
}

TEST(TTimerTest, NewIntervalRestartsAndZeroNeverTicks) {
  ManualTimeSource time;
  TTimer timer(time, 100, true);
  int ticks = 0;
  timer.OnTimer = [&] { ++ticks; };
  time.Advance(90);
  timer.SetInterval(50);
  time.Advance(40);
  EXPECT_EQ(ticks, 0);
  time.Advance(10);
  EXPECT_EQ(ticks, 1);
  timer.SetInterval(0);
  time.Advance(1000);
  EXPECT_EQ(ticks, 1);
  EXPECT_TRUE(timer.Enabled());
  timer.SetInterval(10);
  time.Advance(10);
  EXPECT_EQ(ticks, 2);
}

// A deadline moved on by each event: restarted more often than its interval, it never ticks;
// left alone, it ticks one interval after the latest restart, then once per interval again.
TEST(TTimerTest, RestartCountsTheIntervalAgainAndLeavesADisabledTimerAlone) {
  ManualTimeSource time;
  TTimer timer(time, 1000, true);
  int ticks = 0;
  timer.OnTimer = [&] { ++ticks; };
  for (int i = 0; i < 100; ++i) {
    time.Advance(40);
    timer.Restart();
  }
  EXPECT_EQ(ticks, 0);
  time.Advance(999);
  EXPECT_EQ(ticks, 0);
  time.Advance(1);
  EXPECT_EQ(ticks, 1);
  time.Advance(1000);
  EXPECT_EQ(ticks, 2);
  timer.SetEnabled(false);
  timer.Restart();
  time.Advance(5000);
  EXPECT_EQ(ticks, 2);
  EXPECT_FALSE(timer.Enabled());
}

TEST(TTimerTest, RealTimerRestartedFasterThanItsIntervalNeverTicks) {
  TTimer deadline(RealTimeSource(), 200, true);
  TTimer often(RealTimeSource(), 5, true);
  int deadlineTicks = 0;
  int restarts = 0;
  deadline.OnTimer = [&] { ++deadlineTicks; };
  often.OnTimer = [&] {
    deadline.Restart();
    if (++restarts == 60) often.SetEnabled(false);
  };
  ASSERT_TRUE(test::RunUntil([&] { return restarts >= 60; }));
  EXPECT_EQ(deadlineTicks, 0);
  ASSERT_TRUE(test::RunUntil([&] { return deadlineTicks >= 1; }));
}

TEST(TTimerTest, DestroyedTimerNoLongerTicks) {
  ManualTimeSource time;
  int ticks = 0;
  {
    TTimer timer(time, 10, true);
    timer.OnTimer = [&] { ++ticks; };
    time.Advance(10);
  }
  time.Advance(100);
  EXPECT_EQ(ticks, 1);
}

TEST(TTimerTest, RealClockTicksOnTheOwningThread) {
  TTimer timer(RealTimeSource(), 1, true);
  int ticks = 0;
  bool elsewhere = false;
  const auto main = std::this_thread::get_id();
  timer.OnTimer = [&] {
    ++ticks;
    elsewhere = elsewhere || std::this_thread::get_id() != main;
    if (ticks == 3) timer.SetEnabled(false);
  };
  ASSERT_TRUE(test::RunUntil([&] { return ticks >= 3; }));
  test::RunRounds(20);
  EXPECT_EQ(ticks, 3);
  EXPECT_FALSE(elsewhere);
}

// A handler waiting in a nested event loop (a modal box) is entered again by the ticks of its own
// timer, also from a box opened by such a nested tick, while the other timers go on. Once the boxes
// are closed, the timer ticks once per interval again: as often as a partner of the same interval.
TEST(TTimerTest, RealTimersEnterAHandlerWaitingInANestedLoopAgain) {
  TTimer boxed(RealTimeSource(), 3, true);
  TTimer other(RealTimeSource(), 3, true);
  int inside = 0;
  int deepest = 0;
  int boxedTicks = 0;
  int otherTicks = 0;
  int otherTicksInBox = 0;
  std::vector<int> ticksAtDepth(4, 0);
  QEventLoop outerBox;
  QEventLoop innerBox;
  boxed.OnTimer = [&] {
    ++boxedTicks;
    const int depth = ++inside;
    deepest = std::max(deepest, depth);
    ++ticksAtDepth[static_cast<std::size_t>(std::min(depth, 3))];
    if (depth == 1 && boxedTicks == 1) {
      const int before = otherTicks;
      // Bounds in case the ticks stall: the counts below then tell.
      QTimer::singleShot(10000, &outerBox, &QEventLoop::quit);
      outerBox.exec();
      otherTicksInBox = otherTicks - before;
    } else if (depth == 2 && ticksAtDepth[2] == 2) {
      QTimer::singleShot(10000, &innerBox, &QEventLoop::quit);
      innerBox.exec();
    } else if (depth == 3 && ticksAtDepth[3] == 4) {
      innerBox.quit();
    } else if (depth == 2 && ticksAtDepth[2] == 5) {
      outerBox.quit();
    }
    --inside;
  };
  other.OnTimer = [&] { ++otherTicks; };
  ASSERT_TRUE(test::RunUntil([&] { return ticksAtDepth[1] >= 2; }));
  EXPECT_EQ(deepest, 3);
  EXPECT_EQ(ticksAtDepth[3], 4);
  EXPECT_EQ(ticksAtDepth[2], 5);
  EXPECT_GE(otherTicksInBox, 5);

  // The relief timers are gone: 30 ticks of the partner, about as many of the boxed timer, not twice as many.
  const int boxedBefore = boxedTicks;
  const int otherBefore = otherTicks;
  ASSERT_TRUE(test::RunUntil([&] { return otherTicks >= otherBefore + 30; }));
  EXPECT_LE(boxedTicks - boxedBefore, 40);
  EXPECT_GE(boxedTicks - boxedBefore, 20);
}

// A timer disabled while its handler waits in a nested loop ticks no more, inside the loop or after.
TEST(TTimerTest, RealTimerDisabledWhileItsHandlerWaitsTicksNoMore) {
  TTimer boxed(RealTimeSource(), 3, true);
  TTimer other(RealTimeSource(), 3, true);
  int boxedTicks = 0;
  int otherTicks = 0;
  int disabledAt = -1;
  QEventLoop box;
  boxed.OnTimer = [&] {
    if (++boxedTicks == 1) {
      QTimer::singleShot(10000, &box, &QEventLoop::quit);
      box.exec();
    }
  };
  other.OnTimer = [&] {
    ++otherTicks;
    if (boxedTicks >= 3 && disabledAt < 0) {
      boxed.SetEnabled(false);
      disabledAt = otherTicks;
    }
    if (disabledAt > 0 && otherTicks == disabledAt + 20) box.quit();
  };
  ASSERT_TRUE(test::RunUntil([&] { return disabledAt > 0 && !box.isRunning() && otherTicks > disabledAt + 40; }));
  EXPECT_EQ(boxedTicks, 3);
}

// Timers destroyed by a handler, their own or another's, tick no more.
TEST(TTimerTest, RealTimersDestroyedByAHandlerTickNoMore) {
  auto first = std::make_unique<TTimer>(RealTimeSource(), 2, true);
  auto second = std::make_unique<TTimer>(RealTimeSource(), 2, true);
  int secondTicks = 0;
  first->OnTimer = [&] { first.reset(); };
  second->OnTimer = [&] { ++secondTicks; };
  ASSERT_TRUE(test::RunUntil([&] { return !first; }));
  auto third = std::make_unique<TTimer>(RealTimeSource(), 2, true);
  third->OnTimer = [&] { second.reset(); };
  ASSERT_TRUE(test::RunUntil([&] { return !second; }));
  const int after = secondTicks;
  third.reset();
  test::RunRounds(30);
  EXPECT_EQ(secondTicks, after);
}

}  // namespace
}  // namespace zrv
