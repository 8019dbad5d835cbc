// What the POSIX and the Win32 serial port do alike with the notifiers that watch their port.
#pragma once

namespace zrv::bus::detail {

// Stops `notifier` at once and deletes it when the event loop is back: the port may be released
// from inside one of the notifier's own signals.
template <typename Notifier>
void LetGo(Notifier*& notifier) {
  if (notifier == nullptr) return;
  notifier->setEnabled(false);
  notifier->deleteLater();
  notifier = nullptr;
}

}  // namespace zrv::bus::detail
