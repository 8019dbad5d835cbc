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
inline constexpr std::string_view kSettingsNotSavedText = "Ustawienia Modbus nie zapisane";
inline constexpr std::string_view kNoAnswerText = "No answer from the driver";

// "Driver found, but NODE cannot be opened for read/write: install the udev rule (see README)".
std::string NoAccessText(std::string_view node);

class StatusLine {
 public:
  // The watch ticks every 40 ms; this many ticks without a reply is more than one second.
  static constexpr int kWatchIntervalMs = 40;
  static constexpr int kSilentTicksForNoAnswer = 1000 / kWatchIntervalMs + 1;

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
  // Every change of the attached devices rebuilds the connection: its silence counts from here.
  void ConnectionRebuilt() { silentTicks_ = 0; }
  // Any input report at all. True when this changed the text.
  bool ReplyArrived();
  // One tick of the watch. True when this changed the text.
  bool WatchTick(bool connected);

  std::string_view Text() const;
  bool NoAnswer() const { return silentTicks_ >= kSilentTicksForNoAnswer; }

 private:
  std::string_view saveText_ = kStatusLineStartText;
  bool saveFailed_ = false;
  std::uint32_t lastSave_ = 0;
  std::string note_;
  bool noteIsLatest_ = false;
  std::string noAccessText_;
  int silentTicks_ = 0;
};

}  // namespace zrv
