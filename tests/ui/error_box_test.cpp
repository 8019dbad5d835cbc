// The error box: its text rule, and exceptions escaping handlers while the event loop runs.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <stdexcept>

#include "link/ttimer.h"
#include "ui/application.h"
#include "ui_test_support.h"

namespace zrv::test {
namespace {

TEST(ErrorBoxText, FullStopOnlyAfterCharactersThatSortAfterIt) {
  EXPECT_EQ(ErrorBoxText("Device cannot be opened"), "Device cannot be opened.");
  EXPECT_EQ(ErrorBoxText("Already a sentence."), "Already a sentence.");
  EXPECT_EQ(ErrorBoxText("Stop!"), "Stop!");         // '!' is below '.'
  EXPECT_EQ(ErrorBoxText("range 1-"), "range 1-");   // '-' is 0x2D
  EXPECT_EQ(ErrorBoxText("path a/"), "path a/.");    // '/' is 0x2F
  EXPECT_EQ(ErrorBoxText("code 7"), "code 7.");
  EXPECT_EQ(ErrorBoxText("(x)"), "(x)");             // ')' is 0x29
  EXPECT_EQ(ErrorBoxText(""), "");
  // A letter outside ASCII sorts after '.' too, whatever the signedness of char.
  EXPECT_EQ(ErrorBoxText("nie zapisa\xc4\x87"), "nie zapisa\xc4\x87.");
}

// An object whose event handler fails the way a handler of the window could.
class ThrowingObject : public QObject {
 public:
  enum class How { StdException, Other, Nothing };
  How Next = How::Nothing;
  int Handled = 0;

  bool event(QEvent* e) override {
    if (e->type() != QEvent::User) {
      return QObject::event(e);
    }
    ++Handled;
    switch (Next) {
      case How::StdException:
        throw std::runtime_error("Device cannot be identified");
      case How::Other:
        throw 42;
      case How::Nothing:
        break;
    }
    return true;
  }
};

class ErrorBox : public ::testing::Test {
 protected:
  void SetUp() override { AppBoxes().Boxes.clear(); }
  void TearDown() override { AppBoxes().Boxes.clear(); }
};

TEST_F(ErrorBox, AnEscapingExceptionIsShownAndTheLoopGoesOn) {
  ThrowingObject target;
  target.Next = ThrowingObject::How::StdException;
  QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
  QCoreApplication::sendPostedEvents(&target);
  ASSERT_EQ(AppBoxes().Boxes.size(), 1u);
  EXPECT_EQ(AppBoxes().Boxes[0].Kind, "Error");
  EXPECT_EQ(AppBoxes().Boxes[0].Caption, "ZRV512-PC");
  EXPECT_EQ(AppBoxes().Boxes[0].Text, "Device cannot be identified.");

  // Something that is not an exception object shows an empty text.
  target.Next = ThrowingObject::How::Other;
  QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
  QCoreApplication::sendPostedEvents(&target);
  ASSERT_EQ(AppBoxes().Boxes.size(), 2u);
  EXPECT_EQ(AppBoxes().Boxes[1].Text, "");

  // Later events are still delivered.
  target.Next = ThrowingObject::How::Nothing;
  QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
  QCoreApplication::sendPostedEvents(&target);
  EXPECT_EQ(target.Handled, 3);
  EXPECT_EQ(AppBoxes().Boxes.size(), 2u);
}

TEST_F(ErrorBox, ATimerHandlerThatThrowsDoesNotEndTheEventLoop) {
  QEventLoop loop;
  int ticks = 0;
  TTimer timer(RealTimeSource(), 1, true);
  timer.OnTimer = [&] {
    ++ticks;
    if (ticks == 1) {
      throw std::runtime_error("First tick fails");
    }
    if (ticks == 3) {
      timer.SetEnabled(false);
      loop.quit();
    }
  };
  // A guard against a hang only; nothing is measured.
  QTimer::singleShot(10000, &loop, &QEventLoop::quit);
  loop.exec();
  EXPECT_EQ(ticks, 3);
  ASSERT_EQ(AppBoxes().Boxes.size(), 1u);
  EXPECT_EQ(AppBoxes().Boxes[0].Text, "First tick fails.");
}

// A timer that fails at every tick must not starve the others.
TEST_F(ErrorBox, ATimerThatAlwaysThrowsLeavesTheOtherTimersOfItsIntervalTicking) {
  QEventLoop loop;
  int failures = 0;
  int ticks = 0;
  TTimer failing(RealTimeSource(), 2, true);
  TTimer counting(RealTimeSource(), 2, true);
  failing.OnTimer = [&] {
    ++failures;
    throw std::runtime_error("Always fails");
  };
  counting.OnTimer = [&] {
    if (++ticks == 5) {
      failing.SetEnabled(false);
      counting.SetEnabled(false);
      loop.quit();
    }
  };
  // A guard against a hang only; nothing is measured.
  QTimer::singleShot(10000, &loop, &QEventLoop::quit);
  loop.exec();
  // A failure is reported from an event of its own, after its beat.
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(ticks, 5);
  EXPECT_GE(failures, 4);
  EXPECT_EQ(AppBoxes().Boxes.size(), static_cast<std::size_t>(failures));
}

// While the error box of a failed tick is open, the other timers go on ticking.
TEST_F(ErrorBox, TheErrorBoxOfAFailedTickDoesNotHoldUpTheOtherTimers) {
  QEventLoop loop;
  QEventLoop box;
  int ticks = 0;
  int ticksWhileOpen = 0;
  int quitAt = -1;
  TTimer failing(RealTimeSource(), 2, true);
  TTimer counting(RealTimeSource(), 2, true);
  failing.OnTimer = [&] {
    failing.SetEnabled(false);
    throw std::runtime_error("Fails once");
  };
  counting.OnTimer = [&] {
    ++ticks;
    if (ticks == quitAt) box.quit();
    if (ticks == 20) loop.quit();
  };
  AppBoxes().WhileOpen = [&] {
    const int before = ticks;
    quitAt = before + 5;
    // A guard against a hang only; the count below tells.
    QTimer::singleShot(10000, &box, &QEventLoop::quit);
    box.exec();
    ticksWhileOpen = ticks - before;
  };
  QTimer::singleShot(20000, &loop, &QEventLoop::quit);
  loop.exec();
  AppBoxes().WhileOpen = nullptr;
  counting.SetEnabled(false);
  ASSERT_EQ(AppBoxes().Boxes.size(), 1u);
  EXPECT_EQ(AppBoxes().Boxes[0].Text, "Fails once.");
  EXPECT_GE(ticksWhileOpen, 5);
}

TEST_F(ErrorBox, TheViewSwallowsItsOwnFailures) {
  // A failing tick ends silently: a throwing message box inside the tick shows no error box.
  WindowOnManualTime w;
  w.Reply(IdentityReply(100, "ZRV", 100));
  ASSERT_TRUE(w.Connect());
  w.Boxes.WhileOpen = [] { throw std::runtime_error("box failed"); };
  w.Ticks(1);
  EXPECT_EQ(w.Boxes.Boxes.size(), 1u);  // the firmware warning that failed
  EXPECT_TRUE(AppBoxes().Boxes.empty());
  EXPECT_TRUE(w.Form->FirmwareWarningShown());
  // The next tick starts afresh and paints.
  LiveStatus status{};
  status.PowerSupply = 5000;
  w.Reply(StatusReply(status));
  w.Ticks(1);
  EXPECT_EQ(w.Label("LabVal_PowerSupply")->text(), QStringLiteral("5 V "));
}

}  // namespace
}  // namespace zrv::test
