// The pieces the Linux and Win32 platforms share: the handle table and the judgement of a write's
// byte count. (The read's bookkeeping is tested through the hidraw channel and the Win32 file.)
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "link/platform/handle_table.h"
#include "link/platform/hid_platform.h"

namespace zrv {
namespace {

struct Entry {
  int Value = 0;
  std::atomic<int> Shutdowns{0};
  std::function<void()> OnShutdown;
  void Shutdown() {
    ++Shutdowns;
    if (OnShutdown) OnShutdown();
  }
};

std::shared_ptr<Entry> MakeEntry(int value) {
  auto entry = std::make_shared<Entry>();
  entry->Value = value;
  return entry;
}

TEST(HandleTable, NumbersAreNeverHandedOutAgainAndAClosedOneStaysDead) {
  HandleTable<Entry> table;
  const auto first = MakeEntry(1);
  const HidHandle a = table.Add(first);
  const HidHandle b = table.Add(MakeEntry(2));
  EXPECT_NE(a, kInvalidHidHandle);
  EXPECT_NE(a, b);
  EXPECT_EQ(table.Find(a), first);
  EXPECT_EQ(table.FindIf([](const Entry& e) { return e.Value == 2; }), table.Find(b));
  EXPECT_EQ(table.FindIf([](const Entry& e) { return e.Value == 3; }), nullptr);

  table.Close(a);
  table.Close(a);  // twice, or a number never given: nothing happens
  table.Close(kInvalidHidHandle);
  EXPECT_EQ(first->Shutdowns, 1);
  EXPECT_EQ(table.Find(a), nullptr);
  EXPECT_EQ(table.Size(), 1u);
  const HidHandle c = table.Add(MakeEntry(3));
  EXPECT_NE(c, a);
  EXPECT_NE(c, b);
  EXPECT_EQ(table.Find(a), nullptr);

  // Shut down outside the lock: it may look handles up, as a platform's shutdown does.
  const auto last = table.Find(c);
  last->OnShutdown = [&] { EXPECT_NE(table.Find(b), nullptr); };
  table.Close(c);
  EXPECT_EQ(last->Shutdowns, 1);
  table.CloseAll();
  EXPECT_EQ(table.Size(), 0u);
  EXPECT_EQ(table.Find(b), nullptr);
}

TEST(HandleTable, AnEntryClosedFromAnotherThreadLivesUntilItsLastUserLetsGo) {
  HandleTable<Entry> table;
  const HidHandle h = table.Add(MakeEntry(1));
  std::weak_ptr<Entry> watched = table.Find(h);
  std::atomic<bool> holding{false};
  std::atomic<bool> released{false};
  std::atomic<bool> aliveAfterClose{false};
  std::thread user([&] {
    auto held = table.Find(h);  // as a reader inside a wait holds its channel
    holding = true;
    while (held->Shutdowns == 0) std::this_thread::yield();
    aliveAfterClose = held->Value == 1;
    held.reset();
    released = true;
  });
  while (!holding) std::this_thread::yield();
  table.Close(h);
  user.join();
  EXPECT_TRUE(aliveAfterClose);
  EXPECT_TRUE(released);
  EXPECT_TRUE(watched.expired());
}

TEST(HandleTable, ManyThreadsOpeningAndClosingGetDistinctNumbers) {
  HandleTable<Entry> table;
  constexpr int kThreads = 4, kEach = 500;
  std::vector<std::vector<HidHandle>> given(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        const HidHandle h = table.Add(MakeEntry(i));
        given[static_cast<std::size_t>(t)].push_back(h);
        if (i % 2 == 0) table.Close(h);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::vector<HidHandle> all;
  for (const auto& numbers : given) all.insert(all.end(), numbers.begin(), numbers.end());
  std::sort(all.begin(), all.end());
  EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
  EXPECT_EQ(table.Size(), static_cast<std::size_t>(kThreads * kEach / 2));
}

TEST(WholeReportWritten, TheWholeCountOrOneWithoutTheIdByteAndNothingElse) {
  EXPECT_TRUE(WholeReportWritten(64, 64));  // Windows, Linux
  EXPECT_TRUE(WholeReportWritten(64, 63));  // wine
  EXPECT_FALSE(WholeReportWritten(64, 62));
  EXPECT_FALSE(WholeReportWritten(64, 0));
  EXPECT_FALSE(WholeReportWritten(64, 65));
  EXPECT_TRUE(WholeReportWritten(1, 1));
  EXPECT_FALSE(WholeReportWritten(1, 0));  // an ID byte alone: nothing at all was written
  EXPECT_FALSE(WholeReportWritten(0, 0));
}

}  // namespace
}  // namespace zrv
