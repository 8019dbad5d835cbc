// The application object: every exception that escapes an event handler ends in one error box,
// and the event loop goes on.
#pragma once

#include <QApplication>
#include <string>
#include <string_view>

#include "ui/message_boxes.h"

namespace zrv {

inline constexpr std::string_view kApplicationTitle = "ZRV512-PC";

// The error box text: the message, with a full stop appended when its last character sorts
// after '.' (bytes compare unsigned, so a message ending in a non-ASCII letter gets one too).
std::string ErrorBoxText(std::string_view message);

// Shows the error box for the exception being handled; call only inside a catch block.
void ShowCurrentException(IMessageBoxes& boxes);

class TApplication : public QApplication {
  Q_OBJECT

 public:
  TApplication(int& argc, char** argv, IMessageBoxes& boxes);

  bool notify(QObject* receiver, QEvent* event) override;

  IMessageBoxes& MessageBoxes() const { return boxes_; }

 private:
  IMessageBoxes& boxes_;
};

}  // namespace zrv
