#include "link/platform/win32/win32_hid_platform.h"

#include "link/platform/win32/hid_api.h"

#include <setupapi.h>

#include <algorithm>

#include "link/platform/win32/device_change_window.h"
#include "link/platform/win32/wide_text.h"
#include "link/platform/win32/win32_hid_file.h"

namespace zrv {

namespace {

// The interface paths of every present HID interface, in the order the system lists them.
bool PresentInterfacePaths(std::vector<std::string>& paths) {
  GUID hidClass{};
  ::HidD_GetHidGuid(&hidClass);
  const HDEVINFO set = ::SetupDiGetClassDevsW(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  std::vector<std::uint8_t> detailBuffer;
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof interfaceData;
    if (!::SetupDiEnumDeviceInterfaces(set, nullptr, &hidClass, index, &interfaceData)) {
      ok = ::GetLastError() == ERROR_NO_MORE_ITEMS;
      break;
    }
    DWORD needed = 0;
    ::SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &needed, nullptr);
    if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;  // gone since the listing
    // The detail record ends in a path of variable length; the vector's storage is suitably
    // aligned for it (operator new aligns for any fundamental type).
    detailBuffer.assign(needed, 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(detailBuffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!::SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, needed, nullptr, nullptr)) continue;
    std::string path = WideToUtf8(detail->DevicePath);
    if (!path.empty()) paths.push_back(std::move(path));
  }
  ::SetupDiDestroyDeviceInfoList(set);
  return ok;
}

}  // namespace

template class ChannelHidPlatform<Win32HidHandle>;

// Ends a read outstanding on the handle; a reader inside WaitRead still holds the file, so the
// system handle is closed when the last of the two lets go.
void Win32HidHandle::Shutdown() { Channel->Shutdown(); }

Win32HidPlatform::Win32HidPlatform() : ChannelHidPlatform(ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED) {}

Win32HidPlatform::~Win32HidPlatform() {
  watch_.reset();
  handles_.CloseAll();
}

bool Win32HidPlatform::HidServicesPresent() const {
  // hid.dll and setupapi.dll are part of every Windows this program runs on.
  return true;
}

bool Win32HidPlatform::EnumerateInterfaces(std::vector<HidInterfaceInfo>& out) {
  out.clear();
  std::vector<std::string> paths;
  if (!PresentInterfacePaths(paths)) return false;
  std::lock_guard lock(instancesMutex_);
  std::unordered_map<std::string, std::uint32_t> seen;
  for (std::string& path : paths) {
    std::string key = InterfacePathKey(path);
    if (seen.count(key) != 0) continue;
    const auto known = instances_.find(key);
    std::uint32_t instance = 0;
    if (known != instances_.end()) {
      instance = known->second;
    } else {
      instance = nextInstance_++;
      if (nextInstance_ == 0) nextInstance_ = 1;
    }
    seen.emplace(std::move(key), instance);
    out.push_back(HidInterfaceInfo{std::move(path), instance});
  }
  // A path this scan missed was unplugged: when it comes back it is another device.
  instances_.swap(seen);
  std::sort(out.begin(), out.end(), [](const HidInterfaceInfo& a, const HidInterfaceInfo& b) {
    return a.Instance < b.Instance;
  });
  return true;
}

void Win32HidPlatform::ForgetInstance(const std::string& path) {
  std::lock_guard lock(instancesMutex_);
  instances_.erase(InterfacePathKey(path));
}

std::shared_ptr<Win32HidFile> Win32HidPlatform::ShareReadWriteFile(const std::string& pathKey) const {
  const auto source = handles_.FindIf([&pathKey](const Win32HidHandle& h) {
    return h.Mode == HidOpenMode::ReadWrite && h.PathKey == pathKey;
  });
  if (!source) return nullptr;
  // A second handle to the same file object: it stays open even if the source is closed
  // meanwhile, and it reads the same input queue.
  HANDLE duplicate = INVALID_HANDLE_VALUE;
  const HANDLE process = ::GetCurrentProcess();
  if (!::DuplicateHandle(process, source->Channel->Native(), process, &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  return std::make_shared<Win32HidFile>(duplicate);
}

HidHandle Win32HidPlatform::Open(const std::string& path, HidOpenMode mode) {
  const std::wstring widePath = Utf8ToWide(path);
  if (widePath.empty()) return kInvalidHidHandle;
  DWORD access = 0;
  if (mode == HidOpenMode::ReadWrite) access = GENERIC_READ | GENERIC_WRITE;
  if (mode == HidOpenMode::Read) access = GENERIC_READ;
  // Identification opens with no access at all, which Windows grants even for keyboards and
  // mice that the system holds for itself.
  const DWORD flags = mode == HidOpenMode::Identify ? 0 : FILE_FLAG_OVERLAPPED;
  const HANDLE file = ::CreateFileW(widePath.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kInvalidHidHandle;
  auto h = std::make_shared<Win32HidHandle>();
  h->Mode = mode;
  h->PathKey = InterfacePathKey(path);
  h->Channel = std::make_shared<Win32HidFile>(file);
  if (mode == HidOpenMode::Read) {
    // The HID class driver queues a report only for the handles open when it arrives, so a reply
    // to a report written just before the reader opened would be lost. The reader therefore
    // reads through the path's read-write handle when there is one: whatever was written
    // through it was written after it opened. Looking only after our own open leaves no gap: a
    // write handle that appears later writes after our handle is open.
    if (auto shared = ShareReadWriteFile(h->PathKey)) h->Channel = std::move(shared);
  }
  if (!h->Channel->IsUsable()) return kInvalidHidHandle;
  return handles_.Add(std::move(h));
}

bool Win32HidPlatform::GetAttributes(HidHandle handle, THidAttributes& out) {
  const auto h = handles_.Find(handle);
  if (!h) return false;
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  if (!::HidD_GetAttributes(h->Channel->Native(), &attributes)) return false;
  out.VendorID = attributes.VendorID;
  out.ProductID = attributes.ProductID;
  out.VersionNumber = attributes.VersionNumber;
  return true;
}

bool Win32HidPlatform::GetProductString(HidHandle handle, char16_t* buffer, std::size_t bytes) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows text is UTF-16");
  const std::size_t units = bytes / sizeof(char16_t);
  const auto h = handles_.Find(handle);
  if (!h || buffer == nullptr || units < 2) return false;
  std::fill(buffer, buffer + units, u'\0');
  // The last unit is kept for the terminating NUL, which the system leaves out of a text
  // that fills the buffer. 4093 bytes is the most the call takes.
  const std::size_t room = std::min<std::size_t>((units - 1) * sizeof(char16_t), 4092);
  if (!::HidD_GetProductString(h->Channel->Native(), buffer, static_cast<ULONG>(room))) {
    buffer[0] = u'\0';
    return false;
  }
  return true;
}

bool Win32HidPlatform::GetPreparsedData(HidHandle handle, HidPreparsedData& out) {
  const auto h = handles_.Find(handle);
  if (!h) return false;
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  if (!::HidD_GetPreparsedData(h->Channel->Native(), &preparsed)) return false;
  HIDP_CAPS caps{};
  const bool ok = ::HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
  ::HidD_FreePreparsedData(preparsed);
  if (!ok) return false;
  out.Caps = THidCaps{};
  out.Caps.Usage = caps.Usage;
  out.Caps.UsagePage = caps.UsagePage;
  out.Caps.InputReportByteLength = caps.InputReportByteLength;
  out.Caps.OutputReportByteLength = caps.OutputReportByteLength;
  out.Caps.FeatureReportByteLength = caps.FeatureReportByteLength;
  return true;
}

bool Win32HidPlatform::SetNumInputBuffers(HidHandle handle, std::uint32_t count) {
  const auto h = handles_.Find(handle);
  return h && ::HidD_SetNumInputBuffers(h->Channel->Native(), count);
}

bool Win32HidPlatform::GetNumInputBuffers(HidHandle handle, std::uint32_t& count) {
  const auto h = handles_.Find(handle);
  ULONG value = 0;
  if (!h || !::HidD_GetNumInputBuffers(h->Channel->Native(), &value)) return false;
  count = value;
  return true;
}

void Win32HidPlatform::SetChangeNotification(std::function<void()> onChange) {
  if (!onChange) {
    watch_.reset();
    return;
  }
  if (watch_) {
    watch_->SetOnChange(std::move(onChange));
    return;
  }
  watch_ = std::make_unique<DeviceChangeWindow>([this](const std::string& path) { ForgetInstance(path); },
                                                std::move(onChange));
}

bool Win32HidPlatform::ShareFileObject(HidHandle a, HidHandle b) const {
  const auto first = handles_.Find(a);
  const auto second = handles_.Find(b);
  if (!first || !second) return false;
  // Windows 10's call, looked up so that no import library needs to know it.
  using CompareFunction = BOOL(WINAPI*)(HANDLE, HANDLE);
  const HMODULE kernelBase = ::GetModuleHandleW(L"kernelbase.dll");
  const FARPROC found = kernelBase != nullptr ? ::GetProcAddress(kernelBase, "CompareObjectHandles") : nullptr;
  if (found == nullptr) return false;
  const auto compare = reinterpret_cast<CompareFunction>(reinterpret_cast<void (*)()>(found));
  return compare(first->Channel->Native(), second->Channel->Native()) != FALSE;
}

bool Win32HidPlatform::IsWatchingChanges() const { return watch_ && watch_->IsWatching(); }

}  // namespace zrv
