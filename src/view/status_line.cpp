#include "view/status_line.h"



namespace zrv {

std::string NoAccessText(std::string_view node) {
  std::string text = "Driver found, but ";
  text.append(node).append(" cannot be opened for read/write: install the udev rule (see README)");
  return text;
}

void StatusLine::SaveNotSent() {
  saveText_ = kSettingsNotSavedText;
  noteIsLatest_ = false;
  saveFailed_ = true;
}

std::uint32_t StatusLine::SaveSent() {
  saveText_ = kSettingsSaveSentText;
  saveFailed_ = false;
  noteIsLatest_ = false;
  // 0 is "no outcome wanted"; never handed out.
  if (++lastSave_ == 0) ++lastSave_;
  return lastSave_;
}

void StatusLine::SaveWritten(std::uint32_t save, bool written) {
  if (written || save != lastSave_) return;
  SaveNotSent();
}

void StatusLine::Acknowledged() {
  if (saveFailed_) return;
  saveText_ = kSettingsSavedText;
  noteIsLatest_ = false;
}

void StatusLine::Note(std::string_view text) {
  note_.assign(text);
  noteIsLatest_ = true;
}

void StatusLine::SetNoAccess(std::string_view node) {
  noAccessText_ = node.empty() ? std::string() : NoAccessText(node);
}

bool StatusLine::ReplyArrived() {
  const bool wasShown = silent_;
  silent_ = false;
  return wasShown;
}

bool StatusLine::WatchExpired(bool connected) {
  const bool wasShown = silent_;
  silent_ = connected;
  return wasShown != silent_;
}

std::string_view StatusLine::Text() const {
  if (!noAccessText_.empty()) return noAccessText_;
  if (NoAnswer()) return kNoAnswerText;
  return noteIsLatest_ ? std::string_view(note_) : saveText_;
}

}  // namespace zrv
