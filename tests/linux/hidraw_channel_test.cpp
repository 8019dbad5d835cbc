#include "link/platform/linux/hidraw_channel.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cerrno>
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
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) == 0) {
      ours = fds[0];
      peer = fds[1];
    }
  }
  ~Pair() {
    if (peer >= 0) ::close(peer);
  }
  void Send(const Bytes& b) const { ASSERT_EQ(::send(peer, b.data(), b.size(), 0), static_cast<ssize_t>(b.size())); }
  Bytes Receive() const {
    Bytes b(256);
    const ssize_t n = ::recv(peer, b.data(), b.size(), MSG_DONTWAIT);
    b.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return b;
  }
  void ClosePeer() {
    ::close(peer);
    peer = -1;
  }
};

// Waits without a clock: a long slice that only a report, a cancel or a close can end.
constexpr int kLongSlice = 60000;

TEST(HidrawChannel, NumberedReportIsDeliveredAsRead) {
  Pair p;
  HidrawChannel ch(p.ours, true);
  ASSERT_TRUE(ch.IsUsable());
  std::array<std::uint8_t, 64> buf{};
  std::uint32_t error = 0;
  ASSERT_TRUE(ch.StartRead(buf.data(), buf.size(), error));
  EXPECT_EQ(ch.WaitRead(0), HidWaitResult::Pending);
  std::uint32_t n = 99;
  EXPECT_FALSE(ch.GetReadResult(n));  // still under way
  EXPECT_EQ(n, 0u);

  p.Send({1, 10, 20, 30});
  ASSERT_EQ(ch.WaitRead(kLongSlice), HidWaitResult::Completed);
  ASSERT_TRUE(ch.GetReadResult(n));
  ASSERT_EQ(n, 4u);
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 4), (Bytes{1, 10, 20, 30}));
  // Asking again gives the same completed read.
  EXPECT_EQ(ch.WaitRead(0), HidWaitResult::Completed);
}

TEST(HidrawChannel, UnnumberedReportGetsAZeroIdInFront) {
  Pair p;
  HidrawChannel ch(p.ours, false);
  std::array<std::uint8_t, 9> buf;
  buf.fill(0xAA);
  std::uint32_t error = 0;
  ASSERT_TRUE(ch.StartRead(buf.data(), buf.size(), error));
  p.Send({1, 2, 3, 4, 5, 6, 7, 8});
  ASSERT_EQ(ch.WaitRead(kLongSlice), HidWaitResult::Completed);
  std::uint32_t n = 0;
  ASSERT_TRUE(ch.GetReadResult(n));
  EXPECT_EQ(n, 9u);
  EXPECT_EQ(Bytes(buf.begin(), buf.end()), (Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8}));

  // A report longer than the buffer is cut to it, the ID byte included.
  buf.fill(0xAA);
  ASSERT_TRUE(ch.StartRead(buf.data(), 4, error));
  p.Send({9, 9, 9, 9, 9, 9});
  ASSERT_EQ(ch.WaitRead(kLongSlice), HidWaitResult::Completed);
  ASSERT_TRUE(ch.GetReadResult(n));
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 5), (Bytes{0, 9, 9, 9, 0xAA}));
}

TEST(HidrawChannel, ReadsThatCannotStartSayWhy) {
  Pair p;
  HidrawChannel unnumbered(p.ours, false);
  std::uint8_t one = 0;
  std::uint32_t error = 0;
  EXPECT_FALSE(unnumbered.StartRead(&one, 1, error));  // no room beside the ID byte
  EXPECT_EQ(error, static_cast<std::uint32_t>(EINVAL));
  EXPECT_FALSE(unnumbered.StartRead(nullptr, 64, error));
  EXPECT_EQ(error, static_cast<std::uint32_t>(EINVAL));
  unnumbered.Shutdown();
  std::array<std::uint8_t, 8> buf{};
  EXPECT_FALSE(unnumbered.StartRead(buf.data(), buf.size(), error));
  EXPECT_EQ(error, static_cast<std::uint32_t>(EBADF));
}

TEST(HidrawChannel, CancelFromAnotherThreadEndsTheWaitAndKeepsTheReport) {
  Pair p;
  HidrawChannel ch(p.ours, true);
  for (int round = 0; round < 20; ++round) {
    std::array<std::uint8_t, 8> buf;
    buf.fill(0xAA);
    std::uint32_t error = 0;
    ASSERT_TRUE(ch.StartRead(buf.data(), buf.size(), error));
    std::atomic<bool> waiting{false};
    HidWaitResult result = HidWaitResult::Pending;
    std::thread reader([&] {
      waiting = true;
      result = ch.WaitRead(kLongSlice);
    });
    while (!waiting) std::this_thread::yield();
    ch.CancelRead();
    reader.join();
    EXPECT_EQ(result, HidWaitResult::Completed);
    std::uint32_t n = 7;
    EXPECT_FALSE(ch.GetReadResult(n));
    EXPECT_EQ(n, 0u);

    // A report that arrives after the cancel is not written into the old buffer...
    p.Send({5, 6, 7});
    EXPECT_EQ(ch.WaitRead(0), HidWaitResult::Completed);
    EXPECT_EQ(buf[0], 0xAA);
    // ...and is not lost either: the next read gets it.
    ASSERT_TRUE(ch.StartRead(buf.data(), buf.size(), error));
    ASSERT_EQ(ch.WaitRead(kLongSlice), HidWaitResult::Completed);
    ASSERT_TRUE(ch.GetReadResult(n));
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(buf[0], 5);
  }
}

TEST(HidrawChannel, AnEarlierCancelDoesNotEndTheNextRead) {
  Pair p;
  HidrawChannel ch(p.ours, true);
  std::array<std::uint8_t, 8> buf{};
  std::uint32_t error = 0;
  ASSERT_TRUE(ch.StartRead(buf.data(), buf.size(), error));
  ch.CancelRead();
  ch.CancelRead();  // twice: harmless
  ASSERT_TRUE(ch.StartRead(buf.data(), buf.size(), error));
  EXPECT_EQ(ch.WaitRead(0), HidWaitResult::Pending);
  EXPECT_EQ(ch.WaitRead(0), HidWaitResult::Pending);
}

TEST(HidrawChannel, ShutdownWakesTheReaderAndRefusesWrites) {
  Pair p;
  HidrawChannel ch(p.ours, true);
  std::array<std::uint8_t, 8> buf{};
  std::uint32_t error = 0;
  ASSERT_TRUE(ch.StartRead(buf.data(), buf.size(), error));
  std::atomic<bool> waiting{false};
  HidWaitResult result = HidWaitResult::Pending;
  std::thread reader([&] {
    waiting = true;
    result = ch.WaitRead(kLongSlice);
  });
  while (!waiting) std::this_thread::yield();
  ch.Shutdown();
  reader.join();
  EXPECT_EQ(result, HidWaitResult::Completed);
  std::uint32_t n = 0;
  EXPECT_FALSE(ch.GetReadResult(n));
  std::uint32_t written = 9;
  const std::uint8_t report[3] = {1, 2, 3};
  EXPECT_FALSE(ch.Write(report, sizeof report, written));
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(p.Receive().empty());
}

TEST(HidrawChannel, GoneDeviceFailsTheReadOnceThenWaitsQuietly) {
  Pair p;
  HidrawChannel ch(p.ours, true);
  std::array<std::uint8_t, 8> buf{};
  std::uint32_t error = 0;
  ASSERT_TRUE(ch.StartRead(buf.data(), buf.size(), error));
  p.ClosePeer();  // as an unplug: POLLHUP, then end of file
  ASSERT_EQ(ch.WaitRead(kLongSlice), HidWaitResult::Completed);
  std::uint32_t n = 5;
  EXPECT_FALSE(ch.GetReadResult(n));
  EXPECT_EQ(n, 0u);
  EXPECT_TRUE(ch.IsGone());

  // Later reads do not complete again and again (a reader would spin); they wait for the end.
  ASSERT_TRUE(ch.StartRead(buf.data(), buf.size(), error));
  EXPECT_EQ(ch.WaitRead(0), HidWaitResult::Pending);
  EXPECT_EQ(ch.WaitRead(1), HidWaitResult::Pending);
  ch.CancelRead();
  EXPECT_EQ(ch.WaitRead(kLongSlice), HidWaitResult::Completed);
}

TEST(HidrawChannel, WriteSendsTheWholeBufferInOnePiece) {
  Pair p;
  HidrawChannel numbered(::dup(p.ours), true);
  Bytes report(64, 0);
  report[0] = 1;
  report[1] = 10;
  std::uint32_t written = 0;
  ASSERT_TRUE(numbered.Write(report.data(), report.size(), written));
  EXPECT_EQ(written, 64u);
  EXPECT_EQ(p.Receive(), report);

  // Without numbered reports the 0 ID byte goes along: hidraw expects it first and strips it
  // itself, so dropping it here would lose the report's first data byte.
  HidrawChannel unnumbered(p.ours, false);
  const Bytes plain = {0, 0, 7, 8};
  ASSERT_TRUE(unnumbered.Write(plain.data(), plain.size(), written));
  EXPECT_EQ(written, 4u);
  EXPECT_EQ(p.Receive(), plain);

  EXPECT_FALSE(unnumbered.Write(plain.data(), 0, written));
  EXPECT_FALSE(unnumbered.Write(nullptr, 4, written));
  EXPECT_EQ(written, 0u);
}

TEST(HidrawChannel, RefusedWriteIsAFailure) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  HidrawChannel readOnly(fds[0], true);  // a descriptor that cannot be written
  const std::uint8_t report[2] = {1, 2};
  std::uint32_t written = 5;
  EXPECT_FALSE(readOnly.Write(report, sizeof report, written));
  EXPECT_EQ(written, 0u);
  ::close(fds[1]);
}

TEST(HidrawChannel, TheLastReferenceClosesTheDescriptor) {
  Pair p;
  const int fd = p.ours;
  {
    HidrawChannel ch(fd, true);
    EXPECT_EQ(::fcntl(fd, F_GETFD), FD_CLOEXEC);
    ch.Shutdown();
    EXPECT_NE(::fcntl(fd, F_GETFD), -1);  // shut down, but not closed under a reader
  }
  errno = 0;
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
  EXPECT_EQ(errno, EBADF);
}

}  // namespace
}  // namespace zrv
