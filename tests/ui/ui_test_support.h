// Shared pieces of the window tests: message boxes that tests answer, and a window on hand-driven time.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QTemporaryDir>
#include <cstdint>
#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "link/platform/sim/sim_hid_platform.h"
#include "link/ttimer.h"
#include "support/driver_replies.h"
#include "support/manual_time_source.h"
#include "view/live_view_model.h"
#include "ui/form1.h"
#include "ui/message_boxes.h"
#include "ui/recorder_page.h"

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace zrv::test {

class FakeMessageBoxes : public IMessageBoxes {
 public:
  struct Shown {
    std::string Kind;
    std::string Caption;
    std::string Text;
  };

  void Warning(std::string_view caption, std::string_view text) override { Open("Warning", caption, text); }
  bool Question(std::string_view caption, std::string_view text) override {
    Open("Question", caption, text);
    return QuestionAnswer;
  }
  void Error(std::string_view caption, std::string_view text) override { Open("Error", caption, text); }

  std::vector<Shown> Boxes;
  bool QuestionAnswer = true;
  // Runs while a box is "open", as the real modal box keeps the timers going.
  std::function<void()> WhileOpen;

 private:
  void Open(const char* kind, std::string_view caption, std::string_view text) {
    Boxes.push_back({kind, std::string(caption), std::string(text)});
    if (WhileOpen) {
      WhileOpen();
    }
  }
};

// The boxes of the test program's TApplication.
FakeMessageBoxes& AppBoxes();

inline QColor ToColor(Rgb rgb) { return QColor(rgb.R, rgb.G, rgb.B); }

inline QColor Background(const QLineEdit* edit) { return edit->palette().color(QPalette::Base); }
inline QColor FontColor(const QLabel* label) { return label->palette().color(QPalette::WindowText); }

// A window whose timers run on ManualTimeSource, on a driver session over an empty simulated HID
// platform. The driver is connected the way an operator does it: by plugging it in.
class WindowOnManualTime {
 public:
  WindowOnManualTime() : Session(Time, Platform), Form(std::make_unique<TForm1>(Session, Time, Boxes)) {
    // The recorder's clocks follow the test's time too: on a slow machine five real seconds after
    // a fault would otherwise save a capture (and say so on the status line) in one window and not
    // in another. Captures go to a folder of the window's own, never the user's.
    if (auto* recorder = Form->findChild<RecorderPage*>()) {
      recorder->SetClocks([this] { return SteadyTime(std::chrono::milliseconds(Time.NowMs())); },
                          [this] { return WallTime(std::chrono::seconds(1'800'000'000) +
                                                   std::chrono::milliseconds(Time.NowMs())); });
      recorder->SetCaptureFolder(Captures.path());
    }
  }
  ~WindowOnManualTime() { Form.reset(); }

  template <typename T>
  T* Find(const char* name) const {
    return Form->findChild<T*>(QString::fromLatin1(name));
  }
  QLabel* Label(const char* name) const { return Find<QLabel>(name); }
  QLineEdit* Edit(const char* name) const { return Find<QLineEdit>(name); }

  // Delivers one input report's data (after the report ID) to the session's reply handler.
  void Reply(const std::vector<std::uint8_t>& data) { Deliver(Session, data); }
  // Plugs a device that says it is the driver (nothing answers behind it) and lets the session's
  // scan connect it.
  bool Connect() {
    Device = PlugConnectedDriver(Platform, Session);
    return Device != nullptr;
  }
  // Unplugs it again: the session scans and is no longer connected.
  bool Disconnect() {
    const bool done = UnplugAndRescan(Platform, Session, Device);
    Device.reset();
    return done;
  }

  void Ticks(int count) { Time.Advance(40 * count); }

  QTemporaryDir Captures;
  ManualTimeSource Time;
  FakeMessageBoxes Boxes;
  SimHidPlatform Platform;
  DriverSession Session;
  std::unique_ptr<TForm1> Form;
  std::shared_ptr<SimHidDevice> Device;
};

}  // namespace zrv::test
