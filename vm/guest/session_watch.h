// A front end of the driver session for the guest scenarios: it listens to the session's signals
// as the window does and keeps what they said, so a scenario checks what the session decoded and
// in which order it told it.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "session/driver_session.h"

namespace zrv::vmtest {

// One input report as the session received it.
struct ReceivedInput {
  std::uint8_t ReportId = 0;
  std::vector<std::uint8_t> Data;
  bool OnOwnerThread = false;
};

class SessionWatch {
 public:
  // Watches `session` from now on; it must outlive the watch.
  explicit SessionWatch(DriverSession& session);
  ~SessionWatch();
  SessionWatch(const SessionWatch&) = delete;
  SessionWatch& operator=(const SessionWatch&) = delete;

  DriverSession& Session() const { return session_; }
  int Scans() const { return scans_; }
  // OnUnplug calls of the connected driver (the session leaves that event to its front end).
  int Unplugs() const { return unplugs_; }
  const std::vector<ConnectionShown>& Shown() const { return shown_; }
  const QString& RefusedNode() const { return refusedNode_; }
  // IdentityDecoded(true) signals.
  int Identities() const { return identities_; }
  int SettingsSaved() const { return settingsSaved_; }
  // ReportWritten outcomes by tag.
  const std::map<std::uint32_t, bool>& Written() const { return written_; }
  const std::vector<ReceivedInput>& Received() const { return received_; }
  // Product strings of the latest scan's devices.
  std::vector<std::string> Products() const;

  // The driver's reader has its own file open, so round trips do not also test the reader's start
  // (connect-send does that).
  bool ReaderListening() const;

 private:
  DriverSession& session_;
  std::thread::id ownerThread_;
  int scans_ = 0;
  int unplugs_ = 0;
  int identities_ = 0;
  int settingsSaved_ = 0;
  QString refusedNode_;
  std::vector<ConnectionShown> shown_;
  std::map<std::uint32_t, bool> written_;
  std::vector<ReceivedInput> received_;
  QObject context_;  // last, so it goes first: no signal reaches a half-destroyed watch
};

// Records of two device states compare equal (DeviceIdentity has padding, so not as a whole).
bool SameState(const DeviceState& a, const DeviceState& b);

}  // namespace zrv::vmtest
