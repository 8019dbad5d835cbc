#include "ui/message_boxes.h"

#include <QMessageBox>
#include <QString>

namespace zrv {

namespace {

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

void QtMessageBoxes::Warning(std::string_view caption, std::string_view text) {
  QMessageBox::warning(parent_, FromUtf8(caption), FromUtf8(text), QMessageBox::Ok);
}

bool QtMessageBoxes::Question(std::string_view caption, std::string_view text) {
  // Escape and the close box answer Cancel.
  const auto answer = QMessageBox::question(parent_, FromUtf8(caption), FromUtf8(text),
                                            QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok);
  return answer == QMessageBox::Ok;
}

void QtMessageBoxes::Error(std::string_view caption, std::string_view text) {
  QMessageBox::critical(parent_, FromUtf8(caption), FromUtf8(text), QMessageBox::Ok);
}

}  // namespace zrv
