// A hidden message-only window on the thread that makes it, registered for the arrival and
// removal of HID interfaces. Each WM_DEVICECHANGE that names one calls `onRemoval` (for a
// removal, with the interface path) at once, and posts the window one message of its own, so a
// burst of notices gives one `onChange`, called from the thread's message loop (Qt's event loop
// dispatches the messages of every window of its thread) rather than inside the system's
// broadcast. Make, use and destroy it on one thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace zrv {

class DeviceChangeWindow {
 public:
  DeviceChangeWindow(std::function<void(const std::string& path)> onRemoval, std::function<void()> onChange);
  ~DeviceChangeWindow();
  DeviceChangeWindow(const DeviceChangeWindow&) = delete;
  DeviceChangeWindow& operator=(const DeviceChangeWindow&) = delete;

  // False when the window or the registration could not be made; no notice then arrives.
  bool IsWatching() const;
  void SetOnChange(std::function<void()> onChange);

  // The window class, for tests that look for the window.
  static const wchar_t* ClassName();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace zrv
