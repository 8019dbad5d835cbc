#include "link/platform/linux/change_watch.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>

namespace zrv {
namespace {

class ChangeWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "zrv_link_linux_test";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
    ASSERT_EQ(::pipe2(fds_, O_NONBLOCK | O_CLOEXEC), 0);
  }
  void TearDown() override {
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  // One event, as one udev message on the monitor socket.
  void Event() const { ASSERT_EQ(::write(fds_[1], "e", 1), 1); }
  // Enough passes of the loop for the notifier and then the queued call.
  static void Pump() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  }
  std::unique_ptr<ChangeWatch> Make(std::function<void()> onChange) {
    return std::make_unique<ChangeWatch>(
        fds_[0], [this] { while (::read(fds_[0], buf_, sizeof buf_) > 0) {} },
        std::move(onChange));
  }

  int fds_[2] = {-1, -1};
  char buf_[64] = {};
};

TEST_F(ChangeWatchTest, ABurstOfEventsGivesOneCall) {
  int calls = 0;
  auto watch = Make([&] { ++calls; });
  Pump();
  EXPECT_EQ(calls, 0);
  Event();
  Event();
  Event();
  Pump();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(::read(fds_[0], buf_, 1), -1);  // all were drained
  watch->SetOnChange([&] { calls += 10; });
  Event();
  Pump();
  EXPECT_EQ(calls, 11);
}

TEST_F(ChangeWatchTest, EndingTheWatchInsideOrBeforeTheCallIsSafe) {
  int calls = 0;
  std::unique_ptr<ChangeWatch> watch = Make([&] {
    ++calls;
    watch.reset();
  });
  Event();
  Pump();
  EXPECT_EQ(calls, 1);
  Event();
  Pump();
  EXPECT_EQ(calls, 1);

  // Drained on one pass, reported on the next: ending the watch in between drops the call.
  watch = Make([&] { ++calls; });
  Event();
  QCoreApplication::processEvents();
  watch.reset();
  Pump();
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace zrv
