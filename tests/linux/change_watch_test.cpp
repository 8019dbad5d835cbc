#include "link/platform/linux/change_watch.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <memory>

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
  void Event() const {
    const char c = 'e';
    ASSERT_EQ(::write(fds_[1], &c, 1), 1);
  }
  void Drain() {
    ++drains_;
    char buf[64];
    while (::read(fds_[0], buf, sizeof buf) > 0) {
    }
  }
  // Several passes of the loop, enough for the notifier and then the queued call.
  static void Pump() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  }
  std::unique_ptr<ChangeWatch> Make(std::function<void()> onChange) {
    return std::make_unique<ChangeWatch>(fds_[0], [this] { Drain(); }, std::move(onChange));
  }

  int fds_[2] = {-1, -1};
  int drains_ = 0;
};

TEST_F(ChangeWatchTest, ABurstOfEventsGivesOneCall) {
  int calls = 0;
  auto watch = Make([&] { ++calls; });
  Pump();
  EXPECT_EQ(calls, 0);  // nothing happened, nothing reported

  Event();
  Event();
  Event();
  Pump();
  EXPECT_EQ(calls, 1);
  EXPECT_GE(drains_, 1);
  char c;
  EXPECT_EQ(::read(fds_[0], &c, 1), -1);  // every event was taken off the socket

  Event();
  Pump();
  EXPECT_EQ(calls, 2);
}

TEST_F(ChangeWatchTest, ReplacedCallbackGetsTheNextCall) {
  int first = 0;
  int second = 0;
  auto watch = Make([&] { ++first; });
  watch->SetOnChange([&] { ++second; });
  Event();
  Pump();
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);
}

TEST_F(ChangeWatchTest, CallbackMayEndTheWatch) {
  int calls = 0;
  std::unique_ptr<ChangeWatch> watch;
  watch = Make([&] {
    ++calls;
    watch.reset();
  });
  Event();
  Pump();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(watch, nullptr);
  Event();
  Pump();
  EXPECT_EQ(calls, 1);
}

TEST_F(ChangeWatchTest, EventsDrainedButNotYetReportedAreDroppedWithTheWatch) {
  int calls = 0;
  auto watch = Make([&] { ++calls; });
  Event();
  // One pass delivers the notifier; the report is queued for the next pass.
  QCoreApplication::processEvents();
  watch.reset();
  Pump();
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace zrv
