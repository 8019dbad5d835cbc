// The knock of a worker thread on the UI thread, on each platform's own primitive: the handler runs
// on the thread that made the wake-up, signals before a run merge into it, and a signal made while
// the handler runs is never lost.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/run_until.h"
#include "link/thread_wakeup.h"

namespace zrv::test {
namespace {

TEST(ThreadWakeup, RunsTheHandlerOnItsOwnThreadForSignalsFromAnother) {
  int runs = 0;
  bool onOwnThread = true;
  const std::thread::id own = std::this_thread::get_id();
  TThreadWakeup wakeup([&] {
    ++runs;
    onOwnThread = onOwnThread && std::this_thread::get_id() == own;
  });
  std::thread worker([&] { wakeup.Signal(); });
  worker.join();
  ASSERT_TRUE(RunUntil([&] { return runs > 0; }));
  EXPECT_TRUE(onOwnThread);

  // Nothing more without another signal.
  RunRounds(20);
  EXPECT_EQ(runs, 1);
}

TEST(ThreadWakeup, MergesSignalsMadeBeforeTheHandlerRuns) {
  int runs = 0;
  TThreadWakeup wakeup([&] { ++runs; });
  std::thread worker([&] {
    for (int i = 0; i < 1000; ++i) wakeup.Signal();
  });
  worker.join();
  ASSERT_TRUE(RunUntil([&] { return runs > 0; }));
  RunRounds(20);
  // One run takes them all; a second may come from a signal that raced the first run's reset.
  EXPECT_LE(runs, 2);
}

TEST(ThreadWakeup, ASignalDuringTheHandlerBringsAnotherRun) {
  // The worker hands over values one at a time and waits until each is taken: every hand-over must
  // be served, however the signal falls against the handler.
  constexpr int kHandOvers = 300;
  std::atomic<int> offered{0};
  std::atomic<int> taken{0};
  TThreadWakeup* self = nullptr;
  TThreadWakeup wakeup([&] {
    taken.store(offered.load());
    // A signal from inside the handler stands for the worst race: it lands after the reset.
    if (taken.load() == kHandOvers / 2) self->Signal();
  });
  self = &wakeup;
  std::thread worker([&] {
    for (int i = 1; i <= kHandOvers; ++i) {
      offered.store(i);
      wakeup.Signal();
      while (taken.load() < i) std::this_thread::yield();
    }
  });
  const bool served = RunUntil([&] { return taken.load() == kHandOvers; }, 200000);
  if (!served) taken.store(kHandOvers);  // let the worker end so the test can report
  worker.join();
  EXPECT_TRUE(served) << "a hand-over was left waiting";
}

TEST(ThreadWakeup, ASignalLeftPendingDoesNotRunTheHandlerAfterDestruction) {
  int runs = 0;
  {
    TThreadWakeup wakeup([&] { ++runs; });
    wakeup.Signal();
  }
  RunRounds(20);
  EXPECT_EQ(runs, 0);
}

}  // namespace
}  // namespace zrv::test
