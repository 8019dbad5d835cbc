#include "link/platform/win32/device_change_window.h"

#include "link/platform/win32/hid_api.h"
#include "link/platform/win32/wide_text.h"

#include <dbt.h>

#include <mutex>

namespace zrv {

namespace {

constexpr UINT kChangePosted = WM_APP + 1;
constexpr wchar_t kClassName[] = L"ZrvHidDeviceChangeWindow";

}  // namespace

struct DeviceChangeWindow::State {
  std::function<void(const std::string&)> OnRemoval;
  std::function<void()> OnChange;
  HWND Window = nullptr;
  HDEVNOTIFY Registration = nullptr;
  bool Posted = false;

  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void OnDeviceChange(WPARAM event, LPARAM data);
};

void DeviceChangeWindow::State::OnDeviceChange(WPARAM event, LPARAM data) {
  if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return;
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
  if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return;
  if (event == DBT_DEVICEREMOVECOMPLETE && OnRemoval) {
    const auto* device = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
    OnRemoval(WideToUtf8(device->dbcc_name));
  }
  if (!Posted && ::PostMessageW(Window, kChangePosted, 0, 0)) Posted = true;
}

LRESULT CALLBACK DeviceChangeWindow::State::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<State*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (state != nullptr) {
    if (message == WM_DEVICECHANGE) {
      state->OnDeviceChange(wParam, lParam);
      return TRUE;
    }
    if (message == kChangePosted) {
      state->Posted = false;
      // A copy: the callback may replace or stop the watch, and this state with it.
      const std::function<void()> callback = state->OnChange;
      if (callback) callback();
      return 0;
    }
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

DeviceChangeWindow::DeviceChangeWindow(std::function<void(const std::string&)> onRemoval,
                                       std::function<void()> onChange)
    : state_(std::make_unique<State>()) {
  state_->OnRemoval = std::move(onRemoval);
  state_->OnChange = std::move(onChange);
  const HINSTANCE module = ::GetModuleHandleW(nullptr);
  static std::once_flag registered;
  std::call_once(registered, [module] {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &State::Proc;
    windowClass.hInstance = module;
    windowClass.lpszClassName = kClassName;
    ::RegisterClassExW(&windowClass);
  });
  state_->Window = ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr);
  if (state_->Window == nullptr) return;
  ::SetWindowLongPtrW(state_->Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state_.get()));
  DEV_BROADCAST_DEVICEINTERFACE_W filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  ::HidD_GetHidGuid(&filter.dbcc_classguid);
  state_->Registration = ::RegisterDeviceNotificationW(state_->Window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

DeviceChangeWindow::~DeviceChangeWindow() {
  if (state_->Registration != nullptr) ::UnregisterDeviceNotification(state_->Registration);
  if (state_->Window != nullptr) {
    // Nothing reaches the state any more, even from inside this window's own procedure.
    ::SetWindowLongPtrW(state_->Window, GWLP_USERDATA, 0);
    ::DestroyWindow(state_->Window);
  }
}

bool DeviceChangeWindow::IsWatching() const { return state_->Window != nullptr && state_->Registration != nullptr; }

void DeviceChangeWindow::SetOnChange(std::function<void()> onChange) { state_->OnChange = std::move(onChange); }

const wchar_t* DeviceChangeWindow::ClassName() { return kClassName; }

}  // namespace zrv
