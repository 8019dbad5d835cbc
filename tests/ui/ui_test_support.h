// Shared pieces of the window tests: message boxes that tests answer, and a window on hand-driven time.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "link/platform/sim/sim_hid_platform.h"
#include "link/ttimer.h"
#include "support/manual_time_source.h"
#include "view/live_view_model.h"
#include "ui/form1.h"
#include "ui/message_boxes.h"

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

// A simulated platform without HID services: the window's controller then never scans.
inline std::unique_ptr<SimHidPlatform> PlatformWithoutHid() {
  auto platform = std::make_unique<SimHidPlatform>();
  platform->SetHidServicesPresent(false);
  return platform;
}

// A window whose timers run on ManualTimeSource, with no HID device layer behind it.
class WindowOnManualTime {
 public:
  explicit WindowOnManualTime(const TForm1::FormCreateStepHook& hook = {})
      : Form(std::make_unique<TForm1>(Time, Boxes, *Platform, nullptr, hook)) {}

  template <typename T>
  T* Find(const char* name) const {
    return Form->findChild<T*>(QString::fromLatin1(name));
  }
  QLabel* Label(const char* name) const { return Find<QLabel>(name); }
  QLineEdit* Edit(const char* name) const { return Find<QLineEdit>(name); }

  // Delivers one input report's data (after the report ID) to the reply handler.
  void Reply(const std::vector<std::uint8_t>& data) {
    Form->HandleReply(nullptr, 0, data.data(), static_cast<std::uint16_t>(data.size()));
  }
  // A 28-byte identity reply.
  static std::vector<std::uint8_t> IdentityReply(std::int8_t firmware, const char* name, std::int8_t hardware);

  void Ticks(int count) { Time.Advance(40 * count); }

  ManualTimeSource Time;
  FakeMessageBoxes Boxes;
  std::unique_ptr<SimHidPlatform> Platform = PlatformWithoutHid();
  std::unique_ptr<TForm1> Form;
};

inline std::vector<std::uint8_t> WindowOnManualTime::IdentityReply(std::int8_t firmware, const char* name,
                                                                   std::int8_t hardware) {
  std::vector<std::uint8_t> data(28, 0);
  data[0] = 10;
  data[1] = static_cast<std::uint8_t>(firmware);
  for (std::size_t i = 0; name[i] != '\0' && i < 8; ++i) {
    data[2 + i] = static_cast<std::uint8_t>(name[i]);
  }
  data[11] = static_cast<std::uint8_t>(hardware);
  return data;
}

}  // namespace zrv::test
