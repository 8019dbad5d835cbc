#include <windows.h>

#include <filesystem>
#include <utility>

#include "record/os_file.h"

namespace zrv {

namespace {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
  return wide;
}

std::string ErrorText(DWORD error) {
  char* text = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length > 0 && text != nullptr ? std::string(text, length)
                                                      : "error " + std::to_string(error);
  if (text != nullptr) ::LocalFree(text);
  // The system's texts end in a full stop and a line break; ours are parts of a sentence.
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.')) {
    message.pop_back();
  }
  return message;
}

std::wstring ParentFolder(const std::wstring& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? std::wstring(L".") : parent.wstring();
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace

OsFile::~OsFile() {
  if (handle_ != nullptr) ::CloseHandle(handle_);
}

OsFile::OsFile(OsFile&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      error_(std::move(other.error_)),
      exists_(other.exists_),
      vanished_(other.vanished_) {}

OsFile& OsFile::operator=(OsFile&& other) noexcept {
  if (this != &other) {
    if (handle_ != nullptr) ::CloseHandle(handle_);
    handle_ = std::exchange(other.handle_, nullptr);
    error_ = std::move(other.error_);
    exists_ = other.exists_;
    vanished_ = other.vanished_;
  }
  return *this;
}

void OsFile::Fail() {
  const DWORD error = ::GetLastError();
  exists_ = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
  error_ = ErrorText(error);
}

bool OsFile::Open(const std::string& path, Create how) {
  // Shared for deleting as well: the operator may remove or rename a recording while it runs, as
  // on Linux, and GoneReason notices.
  // A recording shares no writing: a second writer (another window or process) is refused by the
  // system before anything is emptied. Emptied only once it is known to be a file on a disk.
  const DWORD share = how == Create::New ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE
                                         : FILE_SHARE_READ | FILE_SHARE_DELETE;
  HANDLE handle = ::CreateFileW(Wide(path).c_str(), GENERIC_WRITE, share, nullptr,
                                how == Create::New ? CREATE_NEW : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    Fail();
    if (error == ERROR_SHARING_VIOLATION) error_ = "another recording is writing to this file";
    return false;
  }
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    ::CloseHandle(handle);
    error_ = "it is a device or pipe, not a regular file";
    return false;
  }
  if (how == Create::Truncate && !::SetEndOfFile(handle)) {
    Fail();
    ::CloseHandle(handle);
    return false;
  }
  handle_ = handle;
  return true;
}

bool OsFile::IsOpen() const { return handle_ != nullptr; }

bool OsFile::WriteAll(const std::string& bytes) {
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!::WriteFile(handle_, data, chunk, &written, nullptr)) {
      Fail();
      return false;
    }
    if (written == 0) {
      ::SetLastError(ERROR_DISK_FULL);
      Fail();
      return false;
    }
    data += written;
    left -= written;
  }
  return true;
}

bool OsFile::Sync() {
  // Consoles and pipes cannot be flushed; nothing is lost there.
  if (::FlushFileBuffers(handle_) || ::GetFileType(handle_) != FILE_TYPE_DISK) return true;
  Fail();
  return false;
}

void OsFile::TruncateTo(std::uint64_t size) {
  LARGE_INTEGER position{};
  position.QuadPart = static_cast<LONGLONG>(size);
  if (::SetFilePointerEx(handle_, position, nullptr, FILE_BEGIN)) ::SetEndOfFile(handle_);
}

bool OsFile::Close() {
  HANDLE handle = std::exchange(handle_, nullptr);
  if (::CloseHandle(handle)) return true;
  Fail();
  return false;
}

std::string OsFile::GoneReason(const std::string& path) {
  BY_HANDLE_FILE_INFORMATION open{};
  if (!::GetFileInformationByHandle(handle_, &open)) return ErrorText(::GetLastError());
  // Deleted while open: gone at once on newer Windows, pending until the last handle closes on
  // older ones.
  FILE_STANDARD_INFO standard{};
  if (::GetFileInformationByHandleEx(handle_, FileStandardInfo, &standard, sizeof standard) &&
      standard.DeletePending) {
    vanished_ = true;
    return "the file was removed";
  }
  const std::wstring widePath = Wide(path);
  // No access asked for: only the identity is read. A file removed while open is pending deletion
  // and cannot be opened any more.
  HANDLE named = ::CreateFileW(widePath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (named == INVALID_HANDLE_VALUE) {
    vanished_ = true;
    return "the file was removed";
  }
  BY_HANDLE_FILE_INFORMATION namedInfo{};
  const bool same = ::GetFileInformationByHandle(named, &namedInfo) && SameFile(open, namedInfo);
  ::CloseHandle(named);
  if (!same) {
    vanished_ = true;
    return "the file was removed or replaced";
  }
  if ((namedInfo.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) return "the file was made read-only";
  // A folder's read-only attribute does not stop writing in it on Windows, so only its presence
  // counts.
  if (::GetFileAttributesW(ParentFolder(widePath).c_str()) == INVALID_FILE_ATTRIBUTES) {
    vanished_ = true;
    return "the folder was removed";
  }
  DWORD flags = 0;
  if (::GetVolumeInformationByHandleW(handle_, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
      (flags & FILE_READ_ONLY_VOLUME) != 0) {
    return "the file system is read-only";
  }
  return {};
}

void OsFile::Remove(const std::string& path) { ::DeleteFileW(Wide(path).c_str()); }

void OsFile::NameThisThread(const char* name) {
  // Windows 10 and later; older systems simply show no name.
  using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return;
  const auto set = reinterpret_cast<SetDescription>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "SetThreadDescription")));
  if (set != nullptr) set(::GetCurrentThread(), Wide(name).c_str());
}

}  // namespace zrv
