// The window's timers, on hand-driven time and once on the real clock.
#include "link/ttimer.h"

#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/test_support/run_until.h"

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

// Timers of one interval share the thread's wake-ups: once the later one has joined, each beat
// ticks both without the event loop waking in between, the first-armed first.
TEST(TTimerTest, RealTimersOfOneIntervalTickInTheSameWakeUp) {
  std::vector<char> order;
  TTimer first(RealTimeSource(), 15, true);
  first.OnTimer = [&] { order.push_back('a'); };
  ASSERT_TRUE(test::RunUntil([&] { return order.size() >= 1; }));
  const auto armed = std::chrono::steady_clock::now();
  TTimer second(RealTimeSource(), 15, true);
  std::chrono::steady_clock::duration firstWait{};
  second.OnTimer = [&] {
    if (std::count(order.begin(), order.end(), 'b') == 0) firstWait = std::chrono::steady_clock::now() - armed;
    order.push_back('b');
  };
  QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
                   [&] { order.push_back('|'); });
  ASSERT_TRUE(test::RunUntil([&] { return std::count(order.begin(), order.end(), 'b') >= 6; }));
  first.SetEnabled(false);
  second.SetEnabled(false);
  QObject::disconnect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake, nullptr, nullptr);

  // Never early: the second timer's first tick is a whole interval or more after it was armed.
  EXPECT_GE(firstWait, std::chrono::milliseconds(15));
  // From its first tick on, every tick of one comes with a tick of the other, between the same two
  // wake-ups.
  const std::string seen(order.begin(), order.end());
  const std::size_t from = seen.find('b');
  ASSERT_NE(from, std::string::npos);
  ASSERT_GE(from, 1U);
  EXPECT_EQ(seen[from - 1], 'a') << seen;
  std::string beats;
  for (std::size_t i = from - 1; i < seen.size(); ++i) {
    if (seen[i] != '|') beats.push_back(seen[i]);
    else if (!beats.empty() && beats.back() != '|') beats.push_back('|');
  }
  for (std::size_t i = 0; i + 2 < beats.size(); i += 3) {
    EXPECT_EQ(beats.substr(i, 3), "ab|") << seen;
  }
}

// A handler in a nested event loop (a message box) is not entered again, and does not hold back
// the other timers of its beat; timers destroyed by a handler, their own or another's, tick no more.
TEST(TTimerTest, RealTimersGoOnDuringANestedLoopAndMayBeDestroyedByAHandler) {
  auto boxed = std::make_unique<TTimer>(RealTimeSource(), 5, true);
  auto other = std::make_unique<TTimer>(RealTimeSource(), 5, true);
  int inside = 0;
  int deepest = 0;
  int boxedTicks = 0;
  int otherTicks = 0;
  int otherTicksInBox = 0;
  QEventLoop box;  // waits as a modal box's loop does
  int quitAt = 0;
  boxed->OnTimer = [&] {
    ++boxedTicks;
    ++inside;
    deepest = std::max(deepest, inside);
    if (boxedTicks == 1) {
      const int before = otherTicks;
      quitAt = before + 5;
      // A bound, in case the beat stalls: the count below then tells.
      QTimer::singleShot(10000, &box, &QEventLoop::quit);
      box.exec();
      otherTicksInBox = otherTicks - before;
    }
    --inside;
  };
  other->OnTimer = [&] {
    ++otherTicks;
    if (box.isRunning() && otherTicks >= quitAt) box.quit();
  };
  ASSERT_TRUE(test::RunUntil([&] { return boxedTicks >= 3; }));
  EXPECT_EQ(deepest, 1);
  EXPECT_GE(otherTicksInBox, 5);

  // One destroys itself, the other its partner, within the same beat.
  TTimer* self = boxed.get();
  self->OnTimer = [&] { boxed.reset(); };
  other->OnTimer = [&] {
    ++otherTicks;
    boxed.reset();
  };
  ASSERT_TRUE(test::RunUntil([&] { return !boxed; }));
  const int after = otherTicks;
  other.reset();
  test::RunRounds(30);
  EXPECT_EQ(otherTicks, after);
}

}  // namespace
}  // namespace zrv
