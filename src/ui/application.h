// The application object: every exception that escapes an event handler ends in one error box,
// and the event loop goes on.
#pragma once

#include <QApplication>
#include <functional>
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

// The program entry shared by the tool and its demo: ignores the command line (Qt's own options
// included), sizes text for the 96 DPI layout unless the user chose otherwise, makes the
// application, runs `runWindow` (which builds the window and runs the event loop), shows whatever
// escapes in the error box, and returns 0 in every case.
int RunProgram(const char* programName, const std::function<void(QtMessageBoxes&)>& runWindow);

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
