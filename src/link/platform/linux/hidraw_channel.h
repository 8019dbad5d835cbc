// One open hidraw file descriptor with the read protocol of the platform interface: a read is
// started, then waited for one slice at a time with poll() on the descriptor and an eventfd.
// Cancelling or shutting down writes the eventfd, so a waiter wakes at once. The descriptor is
// closed only by the destructor, i.e. by whoever drops the last reference, never under a
// thread that is still polling it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "link/platform/hid_platform.h"
#include "link/platform/read_state.h"

namespace zrv {

class HidrawChannel {
 public:
  // Takes ownership of `fd`. `numberedReports` false: the device's reads carry no report ID, so
  // a 0 is put in front of each.
  HidrawChannel(int fd, bool numberedReports);
  ~HidrawChannel();
  HidrawChannel(const HidrawChannel&) = delete;
  HidrawChannel& operator=(const HidrawChannel&) = delete;

  // False when the eventfd could not be made; such a channel must not be used.
  bool IsUsable() const { return fd_ >= 0 && wakeFd_ >= 0; }
  bool NumberedReports() const { return numberedReports_; }
  int Fd() const { return fd_; }

  bool StartRead(std::uint8_t* buffer, std::size_t length, std::uint32_t& error);
  HidWaitResult WaitRead(int sliceMs);
  bool GetReadResult(std::uint32_t& bytesRead);
  // After either returns, the buffer of the read is no longer written.
  void CancelRead();
  void Shutdown();
  // One report already in the descriptor's queue, without waiting; false when none is there, a
  // read is outstanding, or the channel is shut down or gone.
  bool ReadQueued(std::uint8_t* buffer, std::size_t length, std::uint32_t& bytesRead);

  bool Write(const std::uint8_t* buffer, std::size_t length, std::uint32_t& written);

  // Whether the device was found gone (EIO, ENODEV, end of file, POLLHUP, POLLERR).
  bool IsGone() const;

 private:
  void FinishLocked(bool ok, std::uint32_t bytes);
  void Wake();
  void DrainWake();
  enum class ReadOutcome { Report, Empty, Gone };
  // One read of the descriptor, with the 0 put in front for devices without numbered reports.
  // Marks the channel gone on EIO/ENODEV/end of file. The caller holds mutex_.
  ReadOutcome ReadOnceLocked(std::uint8_t* buffer, std::size_t length, std::uint32_t& bytes);
  // Reads one report into the pending buffer; the caller holds mutex_.
  void ReadReportLocked();

  const int fd_;
  const bool numberedReports_;
  bool nonBlocking_ = false;  // the descriptor's file was opened O_NONBLOCK
  int wakeFd_ = -1;

  mutable std::mutex mutex_;  // guards everything below; never held across poll()
  HidReadState read_;
  std::uint8_t* buffer_ = nullptr;  // of the pending read
  std::size_t length_ = 0;
  bool shutdown_ = false;
  bool gone_ = false;
  bool wakePending_ = false;  // the eventfd may be non-zero: drain before the next wait
  bool polling_ = false;      // a WaitRead is inside poll(): a cancel must wake it
};

}  // namespace zrv
