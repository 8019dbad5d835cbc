#include "ui/application.h"

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

}  // namespace zrv
