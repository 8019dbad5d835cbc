#include "ui/application.h"

#include <QtGlobal>
#include <memory>

#include <exception>

namespace zrv {

std::string ErrorBoxText(std::string_view message) {
  std::string text(message);
  if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.')) {
    text.push_back('.');
  }
  return text;
}

void ShowCurrentException(IMessageBoxes& boxes) {
  std::string message;
  try {
    throw;
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    // Not an exception object: shown as one with an empty message.
  }
  boxes.Error(kApplicationTitle, ErrorBoxText(message));
}

TApplication::TApplication(int& argc, char** argv, IMessageBoxes& boxes)
    : QApplication(argc, argv), boxes_(boxes) {
  setApplicationName(QString::fromLatin1(kApplicationTitle.data(),
                                         static_cast<qsizetype>(kApplicationTitle.size())));
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    try {
      ShowCurrentException(boxes_);
    } catch (...) {
      // A failing error box must not take the event loop down with it.
    }
  }
  return false;
}

int RunProgram(const char* programName, const std::function<void(QtMessageBoxes&)>& runWindow) {
  // Qt keeps the argument vector for the life of the application.
  static std::string name;
  name = programName;
  static char* qtArgv[] = {name.data(), nullptr};
  static int qtArgc = 1;

  if (!qEnvironmentVariableIsSet("QT_FONT_DPI")) {
    qputenv("QT_FONT_DPI", "96");
  }
  // The window repaints the same few small texts 25 times a second. Through shared memory, every
  // repaint of a spot already handed to the X server first waits for a round trip to it; sent in
  // the request, such small pictures cost less than that wait.
  if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM")) {
    qputenv("QT_XCB_NO_MITSHM", "1");
  }

  QtMessageBoxes boxes;
  std::unique_ptr<TApplication> app;
  try {
    app = std::make_unique<TApplication>(qtArgc, qtArgv, boxes);
    runWindow(boxes);
  } catch (...) {
    if (app) {
      try {
        ShowCurrentException(boxes);
      } catch (...) {
        // Nothing is left to report to.
      }
    }
  }
  return 0;
}

}  // namespace zrv
