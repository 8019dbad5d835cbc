// One open HID file handle with the read protocol of the platform interface: a read is started as
// an overlapped ReadFile, then waited for one slice at a time on the handle's own event. Cancelling
// or shutting down cancels that very request (CancelIoEx with its OVERLAPPED) and waits until the
// system has finished it, so the caller's buffer is no longer written when either returns. The
// handle is closed only by the destructor, i.e. by whoever drops the last reference, never under a
// thread that is still waiting on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "link/platform/hid_platform.h"
#include "link/platform/read_state.h"
#include "link/platform/win32/hid_api.h"

namespace zrv {

class Win32HidFile {
 public:
  // Takes ownership of `file`, which must have been opened with FILE_FLAG_OVERLAPPED when it is
  // to be read or written.
  explicit Win32HidFile(HANDLE file);
  ~Win32HidFile();
  Win32HidFile(const Win32HidFile&) = delete;
  Win32HidFile& operator=(const Win32HidFile&) = delete;

  // False when an event could not be made; such a file must not be used.
  bool IsUsable() const { return file_ != INVALID_HANDLE_VALUE && readEvent_ != nullptr && writeEvent_ != nullptr; }
  HANDLE Native() const { return file_; }

  bool StartRead(std::uint8_t* buffer, std::size_t length, std::uint32_t& error);
  HidWaitResult WaitRead(int sliceMs);
  bool GetReadResult(std::uint32_t& bytesRead);
  // After either returns, the buffer of the read is no longer written.
  void CancelRead();
  // Also ends a write under way; every later read or write is refused.
  void Shutdown();
  // One report already in the handle's input queue, without waiting; false when none is there,
  // a read is outstanding, or the file is shut down.
  bool ReadQueued(std::uint8_t* buffer, std::size_t length, std::uint32_t& bytesRead);

  // USB's own time-out for a transfer; a write not taken by then is given up.
  static constexpr DWORD kWriteTimeoutMs = 5000;

  // One whole report (WholeReportWritten judges the count the system gives). A device that does
  // not take it within `timeoutMs` has it cancelled, as the USB stack's own time-out does on
  // other systems, so a stalled device cannot hold the writing thread for ever.
  bool Write(const std::uint8_t* buffer, std::size_t length, std::uint32_t& written,
             DWORD timeoutMs = kWriteTimeoutMs);

 private:
  // Takes the outcome of the pending read if the system has finished it.
  void HarvestLocked();
  // Cancels the pending read and waits until the system lets go of its buffer.
  void AbortReadLocked();

  HANDLE file_;
  HANDLE readEvent_ = nullptr;   // manual reset, as GetOverlappedResult wants
  HANDLE writeEvent_ = nullptr;

  mutable std::mutex mutex_;  // guards everything below; held across no wait but a cancel's completion
  HidReadState read_;
  OVERLAPPED readOverlapped_{};
  bool shutdown_ = false;
  OVERLAPPED* writeUnderWay_ = nullptr;  // the OVERLAPPED of a write in progress

  std::mutex writeMutex_;  // one write at a time per handle
};

}  // namespace zrv
