#include "link/platform/linux/hidraw_channel.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <functional>
#include <thread>
#include <vector>

namespace zrv {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A packet socket pair keeps report boundaries as hidraw does: one read, one report.
struct Pair {
  int ours = -1;
  int peer = -1;
  Pair() {
    int fds[2] = {-1, -1};
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds), 0);
    ours = fds[0];
    peer = fds[1];
  }
  ~Pair() {
    if (peer >= 0) ::close(peer);
  }
  void Send(const Bytes& b) const { EXPECT_EQ(::send(peer, b.data(), b.size(), 0), static_cast<ssize_t>(b.size())); }
  Bytes Receive() const {
    Bytes b(256);
    const ssize_t n = ::recv(peer, b.data(), b.size(), MSG_DONTWAIT);
    b.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return b;
  }
};

// Only a report, a cancel or a close can end a slice this long; no clock is involved.
constexpr int kLongSlice = 60000;

// Runs WaitRead on another thread and calls `interrupt` once that thread is on its way in.
HidWaitResult WaitOnOtherThread(HidrawChannel& ch, const std::function<void()>& interrupt) {
  std::atomic<bool> waiting{false};
  HidWaitResult result = HidWaitResult::Pending;
  std::thread reader([&] {
    waiting = true;
    result = ch.WaitRead(kLongSlice);
  });
  while (!waiting) std::this_thread::yield();
  interrupt();
  reader.join();
  return result;
}

TEST(HidrawChannel, ReportsArriveWithTheirIdFirst) {
  Pair numberedPair, plainPair;
  HidrawChannel numbered(numberedPair.ours, true);
  HidrawChannel plain(plainPair.ours, false);
  std::array<std::uint8_t, 9> buf;
  buf.fill(0xAA);
  std::uint32_t error = 0, n = 99;
  ASSERT_TRUE(numbered.StartRead(buf.data(), buf.size(), error));
  EXPECT_EQ(numbered.WaitRead(0), HidWaitResult::Pending);
  EXPECT_FALSE(numbered.GetReadResult(n));
  EXPECT_EQ(n, 0u);
  numberedPair.Send({1, 10, 20});
  ASSERT_EQ(numbered.WaitRead(kLongSlice), HidWaitResult::Completed);
  ASSERT_TRUE(numbered.GetReadResult(n));
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + n), (Bytes{1, 10, 20}));

  // Without numbered reports a 0 goes in front of what the device sent.
  ASSERT_TRUE(plain.StartRead(buf.data(), buf.size(), error));
  plainPair.Send({1, 2, 3, 4, 5, 6, 7, 8});
  ASSERT_EQ(plain.WaitRead(kLongSlice), HidWaitResult::Completed);
  ASSERT_TRUE(plain.GetReadResult(n));
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + n), (Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8}));
  // A longer report is cut to the buffer, the ID byte included.
  buf.fill(0xAA);
  ASSERT_TRUE(plain.StartRead(buf.data(), 4, error));
  plainPair.Send({9, 9, 9, 9, 9, 9});
  ASSERT_EQ(plain.WaitRead(kLongSlice), HidWaitResult::Completed);
  ASSERT_TRUE(plain.GetReadResult(n));
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 5), (Bytes{0, 9, 9, 9, 0xAA}));

  std::uint8_t one = 0;
  EXPECT_FALSE(plain.StartRead(&one, 1, error));  // no room beside the ID byte
  EXPECT_EQ(error, static_cast<std::uint32_t>(EINVAL));
}

TEST(HidrawChannel, CancelFromAnotherThreadEndsTheWaitAndLosesNoReport) {
  Pair p;
  HidrawChannel ch(p.ours, true);
  for (int round = 0; round < 20; ++round) {
    std::array<std::uint8_t, 8> buf;
    buf.fill(0xAA);
    std::uint32_t error = 0, n = 7;
    ASSERT_TRUE(ch.StartRead(buf.data(), buf.size(), error));
    EXPECT_EQ(WaitOnOtherThread(ch, [&] { ch.CancelRead(); }), HidWaitResult::Completed);
    EXPECT_FALSE(ch.GetReadResult(n));
    EXPECT_EQ(n, 0u);
    // A report that comes after the cancel is not written into the old buffer...
    p.Send({5, 6, 7});
    EXPECT_EQ(ch.WaitRead(0), HidWaitResult::Completed);
    EXPECT_EQ(buf[0], 0xAA);
    // ...the cancel's wake-up does not end the next read, and that read gets the report.
    ASSERT_TRUE(ch.StartRead(buf.data(), buf.size(), error));
    ASSERT_EQ(ch.WaitRead(kLongSlice), HidWaitResult::Completed);
    ASSERT_TRUE(ch.GetReadResult(n));
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + n), (Bytes{5, 6, 7}));
  }
}

TEST(HidrawChannel, GoneDeviceFailsTheReadOnceThenWaitsQuietly) {
  Pair p;
  HidrawChannel ch(p.ours, true);
  std::array<std::uint8_t, 8> buf{};
  std::uint32_t error = 0, n = 5;
  ASSERT_TRUE(ch.StartRead(buf.data(), buf.size(), error));
  ::close(p.peer);  // as an unplug: POLLHUP, then end of file
  p.peer = -1;
  ASSERT_EQ(ch.WaitRead(kLongSlice), HidWaitResult::Completed);
  EXPECT_FALSE(ch.GetReadResult(n));
  EXPECT_EQ(n, 0u);
  EXPECT_TRUE(ch.IsGone());
  // Later reads do not complete at once again and again (a reader would spin on them).
  ASSERT_TRUE(ch.StartRead(buf.data(), buf.size(), error));
  EXPECT_EQ(ch.WaitRead(1), HidWaitResult::Pending);
  EXPECT_EQ(WaitOnOtherThread(ch, [&] { ch.CancelRead(); }), HidWaitResult::Completed);
}

TEST(HidrawChannel, QueuedReportsAreTakenWithoutWaitingAndNeverDuringARead) {
  Pair numberedPair, plainPair;
  // One descriptor blocking (a reader sharing a write handle's file), one opened non-blocking.
  ASSERT_EQ(::fcntl(plainPair.ours, F_SETFL, ::fcntl(plainPair.ours, F_GETFL) | O_NONBLOCK), 0);
  HidrawChannel numbered(numberedPair.ours, true);
  HidrawChannel plain(plainPair.ours, false);
  std::array<std::uint8_t, 8> buf;
  std::uint32_t n = 7, error = 0;
  EXPECT_FALSE(numbered.ReadQueued(buf.data(), buf.size(), n));  // empty: no wait, no block
  EXPECT_EQ(n, 0u);
  numberedPair.Send({1, 2});
  numberedPair.Send({3, 4, 5});
  ASSERT_TRUE(numbered.ReadQueued(buf.data(), buf.size(), n));
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + n), (Bytes{1, 2}));
  ASSERT_TRUE(numbered.ReadQueued(buf.data(), buf.size(), n));
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + n), (Bytes{3, 4, 5}));
  EXPECT_FALSE(numbered.ReadQueued(buf.data(), buf.size(), n));

  // While a read is outstanding its buffer owns the next report.
  std::array<std::uint8_t, 8> pending{};
  ASSERT_TRUE(numbered.StartRead(pending.data(), pending.size(), error));
  numberedPair.Send({6});
  EXPECT_FALSE(numbered.ReadQueued(buf.data(), buf.size(), n));
  ASSERT_EQ(numbered.WaitRead(kLongSlice), HidWaitResult::Completed);
  ASSERT_TRUE(numbered.GetReadResult(n));
  EXPECT_EQ(Bytes(pending.begin(), pending.begin() + n), (Bytes{6}));

  EXPECT_FALSE(plain.ReadQueued(buf.data(), buf.size(), n));
  plainPair.Send({9, 8});
  ASSERT_TRUE(plain.ReadQueued(buf.data(), buf.size(), n));
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + n), (Bytes{0, 9, 8}));
  EXPECT_FALSE(plain.IsGone());

  ::close(plainPair.peer);  // unplugged: end of file
  plainPair.peer = -1;
  EXPECT_FALSE(plain.ReadQueued(buf.data(), buf.size(), n));
  EXPECT_TRUE(plain.IsGone());
  numbered.Shutdown();
  numberedPair.Send({7});
  EXPECT_FALSE(numbered.ReadQueued(buf.data(), buf.size(), n));
}

TEST(HidrawChannel, WriteSendsTheWholeBufferIdByteIncluded) {
  Pair p;
  HidrawChannel numbered(::dup(p.ours), true);
  Bytes report(64, 0);
  report[0] = 1;
  report[1] = 10;
  std::uint32_t written = 0;
  ASSERT_TRUE(numbered.Write(report.data(), report.size(), written));
  EXPECT_EQ(written, 64u);
  EXPECT_EQ(p.Receive(), report);
  // Without numbered reports the 0 goes along too: hidraw expects it first and strips it
  // itself, so dropping it here would lose the report's first data byte.
  HidrawChannel plain(p.ours, false);
  const Bytes unnumbered = {0, 0, 7, 8};
  ASSERT_TRUE(plain.Write(unnumbered.data(), unnumbered.size(), written));
  EXPECT_EQ(written, 4u);
  EXPECT_EQ(p.Receive(), unnumbered);
  EXPECT_FALSE(plain.Write(unnumbered.data(), 0, written));

  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  ::close(fds[1]);
  HidrawChannel readOnly(fds[0], true);
  EXPECT_FALSE(readOnly.Write(report.data(), report.size(), written));
  EXPECT_EQ(written, 0u);
}

}  // namespace
}  // namespace zrv
