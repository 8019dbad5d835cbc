#include "link/platform/win32/win32_hid_file.h"

namespace zrv {

Win32HidFile::Win32HidFile(HANDLE file) : file_(file) {
  readEvent_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  writeEvent_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

Win32HidFile::~Win32HidFile() {
  {
    // The OVERLAPPED lives in this object: the system must be done with it before it goes.
    std::lock_guard lock(mutex_);
    if (read_.Pending()) AbortReadLocked();
  }
  if (file_ != INVALID_HANDLE_VALUE) ::CloseHandle(file_);
  if (readEvent_ != nullptr) ::CloseHandle(readEvent_);
  if (writeEvent_ != nullptr) ::CloseHandle(writeEvent_);
}

void Win32HidFile::HarvestLocked() {
  DWORD bytes = 0;
  if (::GetOverlappedResult(file_, &readOverlapped_, &bytes, FALSE)) {
    read_.Finish(true, bytes);
  } else if (::GetLastError() != ERROR_IO_INCOMPLETE) {
    // ERROR_DEVICE_NOT_CONNECTED after an unplug, ERROR_OPERATION_ABORTED after a cancel.
    read_.Finish(false, 0);
  }
}

void Win32HidFile::AbortReadLocked() {
  ::CancelIoEx(file_, &readOverlapped_);
  DWORD bytes = 0;
  // Waits for the completion, which the cancel makes prompt: only then is the buffer free.
  ::GetOverlappedResult(file_, &readOverlapped_, &bytes, TRUE);
  read_.Finish(false, 0);
}

bool Win32HidFile::StartRead(std::uint8_t* buffer, std::size_t length, std::uint32_t& error) {
  std::lock_guard lock(mutex_);
  if (shutdown_ || !IsUsable()) {
    error = ERROR_INVALID_HANDLE;
    return false;
  }
  if (read_.Pending()) {
    error = ERROR_BUSY;
    return false;
  }
  if (buffer == nullptr || length == 0 || length > MAXDWORD) {
    error = ERROR_INVALID_PARAMETER;
    return false;
  }
  readOverlapped_ = OVERLAPPED{};
  readOverlapped_.hEvent = readEvent_;
  // The HID class driver puts the report ID in front of every report, 0 for a device without
  // numbered reports, which is what the layer above expects.
  read_.Start();
  if (::ReadFile(file_, buffer, static_cast<DWORD>(length), nullptr, &readOverlapped_)) {
    HarvestLocked();
    return true;
  }
  const DWORD lastError = ::GetLastError();
  if (lastError == ERROR_IO_PENDING) return true;
  read_.Abandon();
  error = lastError;
  return false;
}

HidWaitResult Win32HidFile::WaitRead(int sliceMs) {
  {
    std::lock_guard lock(mutex_);
    if (!read_.Pending()) return HidWaitResult::Completed;
  }
  // The event lives as long as this object, which the caller holds: safe to wait on unlocked.
  const DWORD waited = ::WaitForSingleObject(readEvent_, sliceMs < 0 ? 0 : static_cast<DWORD>(sliceMs));
  std::lock_guard lock(mutex_);
  if (!read_.Pending()) return HidWaitResult::Completed;  // cancelled or shut down
  if (waited == WAIT_OBJECT_0) {
    HarvestLocked();
  } else if (waited == WAIT_FAILED) {
    AbortReadLocked();
  }
  return read_.Progress();
}

bool Win32HidFile::GetReadResult(std::uint32_t& bytesRead) {
  std::lock_guard lock(mutex_);
  return read_.Result(bytesRead);
}

void Win32HidFile::CancelRead() {
  std::lock_guard lock(mutex_);
  if (read_.Pending()) AbortReadLocked();
}

void Win32HidFile::Shutdown() {
  std::lock_guard lock(mutex_);
  shutdown_ = true;
  if (read_.Pending()) AbortReadLocked();
  // The writer waits on its own event and sees the cancel as a failed write.
  if (writeUnderWay_ != nullptr) ::CancelIoEx(file_, writeUnderWay_);
}

bool Win32HidFile::ReadQueued(std::uint8_t* buffer, std::size_t length, std::uint32_t& bytesRead) {
  bytesRead = 0;
  std::lock_guard lock(mutex_);
  if (shutdown_ || !IsUsable() || read_.Pending() || buffer == nullptr || length == 0 ||
      length > MAXDWORD) {
    return false;
  }
  OVERLAPPED overlapped{};
  overlapped.hEvent = readEvent_;
  DWORD bytes = 0;
  bool ok = false;
  if (::ReadFile(file_, buffer, static_cast<DWORD>(length), nullptr, &overlapped)) {
    ok = ::GetOverlappedResult(file_, &overlapped, &bytes, FALSE) != FALSE;
  } else if (::GetLastError() == ERROR_IO_PENDING) {
    // Nothing was queued. A report that arrives before the cancel takes effect completes the
    // read normally and is delivered rather than lost.
    ::CancelIoEx(file_, &overlapped);
    ok = ::GetOverlappedResult(file_, &overlapped, &bytes, TRUE) != FALSE;
  }
  if (!ok || bytes == 0) return false;
  bytesRead = bytes;
  return true;
}

bool Win32HidFile::Write(const std::uint8_t* buffer, std::size_t length, std::uint32_t& written,
                         DWORD timeoutMs) {
  written = 0;
  if (buffer == nullptr || length == 0 || length > MAXDWORD || !IsUsable()) return false;
  std::lock_guard writeLock(writeMutex_);
  OVERLAPPED overlapped{};
  overlapped.hEvent = writeEvent_;
  {
    std::lock_guard lock(mutex_);
    if (shutdown_) return false;
    // Windows takes the report ID as the first byte, 0 for a device without numbered reports,
    // and a report of exactly the device's output length, whole or not at all.
    if (!::WriteFile(file_, buffer, static_cast<DWORD>(length), nullptr, &overlapped) &&
        ::GetLastError() != ERROR_IO_PENDING) {
      return false;
    }
    writeUnderWay_ = &overlapped;
  }
  if (::WaitForSingleObject(writeEvent_, timeoutMs) != WAIT_OBJECT_0) ::CancelIoEx(file_, &overlapped);
  DWORD bytes = 0;
  const bool ok = ::GetOverlappedResult(file_, &overlapped, &bytes, TRUE) != FALSE;
  {
    std::lock_guard lock(mutex_);
    writeUnderWay_ = nullptr;
  }
  if (!ok) return false;
  written = bytes;
  return WholeReportWritten(length, bytes);
}

}  // namespace zrv
