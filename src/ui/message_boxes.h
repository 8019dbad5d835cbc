// The window's modal message boxes behind one small interface, so tests can answer them and can
// let timers run while a box is "open", as the real modal box does.
#pragma once

#include <string_view>

class QWidget;

namespace zrv {

class IMessageBoxes {
 public:
  virtual ~IMessageBoxes() = default;
  // OK only, warning icon; returns when the operator has closed the box.
  virtual void Warning(std::string_view caption, std::string_view text) = 0;
  // OK and Cancel, question icon; true only for OK.
  virtual bool Question(std::string_view caption, std::string_view text) = 0;
  // OK only, error icon.
  virtual void Error(std::string_view caption, std::string_view text) = 0;
};

// Modal QMessageBox over `parent` (or over the application when none is set). Texts are UTF-8.
class QtMessageBoxes final : public IMessageBoxes {
 public:
  explicit QtMessageBoxes(QWidget* parent = nullptr) : parent_(parent) {}
  void SetParent(QWidget* parent) { parent_ = parent; }

  void Warning(std::string_view caption, std::string_view text) override;
  bool Question(std::string_view caption, std::string_view text) override;
  void Error(std::string_view caption, std::string_view text) override;

 private:
  QWidget* parent_;
};

}  // namespace zrv
