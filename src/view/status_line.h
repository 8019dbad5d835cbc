// What the status line at the foot of the window says: the latest event (the outcome of a Modbus
// settings save, or a note such as where a recording or a fault capture went), unless there is a
// reason why nothing works at all, which a technician needs first.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zrv {

inline constexpr std::string_view kStatusLineStartText = "...";
inline constexpr std::string_view kSettingsSaveSentText = " ";
inline constexpr std::string_view kSettingsSavedText = "Ustawienia Modbus zapisane";
inline constexpr std::string_view kSettingsNotSavedText = "Ustawienia Modbus nie zapisane";
inline constexpr std::string_view kNoAnswerText = "No answer from the driver";

// "Driver found, but NODE cannot be opened for read/write: install the udev rule (see README)".
std::string NoAccessText(std::string_view node);

class StatusLine {
 public:
  // A driver this long without any reply is not answering. The window's watch is a one-shot
  // deadline moved on by every reply, so a driver that answers costs it no wake-up at all.
  static constexpr int kNoAnswerAfterMs = 1000;

  // Save: nothing went out (a list without a selection, no connection, a report too short for the
  // settings).
  void SaveNotSent();
  // Save: the settings report went out. Returns the number that its written/refused outcome
  // carries. Acknowledgements count again from here.
  std::uint32_t SaveSent();
  // The settings report numbered `save` was written, or not. Only the latest save's failure shows.
  void SaveWritten(std::uint32_t save, bool written);
  // Reply 148. Shows "saved", except after a save that failed (a late or stray acknowledgement
  // must not turn that into success).
  void Acknowledged();

  // A note of the window's own (UTF-8), shown until the next save or note.
  void Note(std::string_view text);

  // A driver is attached that may not be opened for reading and writing: its node, or empty.
  void SetNoAccess(std::string_view node);
  // Every change of the attached devices rebuilds the connection: its silence counts from here
  // (the window restarts its watch too).
  void ConnectionRebuilt() { silent_ = false; }
  // Any input report at all. True when this changed the text.
  bool ReplyArrived();
  // The watch ran out: kNoAnswerAfterMs without a reply or a rebuilt connection. Silence counts
  // only while connected. True when this changed the text.
  bool WatchExpired(bool connected);

  std::string_view Text() const;
  bool NoAnswer() const { return silent_; }

 private:
  std::string_view saveText_ = kStatusLineStartText;
  bool saveFailed_ = false;
  std::uint32_t lastSave_ = 0;
  std::string note_;
  bool noteIsLatest_ = false;
  std::string noAccessText_;
  bool silent_ = false;
};

}  // namespace zrv
