// The calls that a platform over real files only looks a handle up for and hands to the handle's
// channel (a hidraw descriptor, a Win32 file): closing, writing and the read protocol. The Linux
// and Win32 platforms derive from it and keep for themselves what each system does differently.
// `Entry` has `HidOpenMode Mode`, `std::shared_ptr<Channel> Channel` (none where the system gives
// nothing to read or write through) and `Shutdown()`; the channel has Write, StartRead,
// WaitRead, GetReadResult, CancelRead and ReadQueued with the meaning of IHidPlatform's.
// The calls are defined out of the class, so that a platform's header can declare their
// instantiation extern and its users need not see the channel (nor the system's headers).
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/platform/handle_table.h"
#include "link/platform/hid_platform.h"

namespace zrv {

template <typename Entry>
class ChannelHidPlatform : public IHidPlatform {
 public:
  void Close(HidHandle handle) override { handles_.Close(handle); }

  bool Write(HidHandle handle, const std::uint8_t* buffer, std::size_t length,
             std::uint32_t& written) override;
  bool StartRead(HidHandle handle, std::uint8_t* buffer, std::size_t length,
                 std::uint32_t& error) override;
  HidWaitResult WaitRead(HidHandle handle, int sliceMs) override;
  bool GetReadResult(HidHandle handle, std::uint32_t& bytesRead) override;
  void CancelRead(HidHandle handle) override;
  bool ReadQueued(HidHandle handle, std::uint8_t* buffer, std::size_t length,
                  std::uint32_t& bytesRead) override;

  // Handles currently open (for leak checks in tests).
  std::size_t OpenHandleCount() const { return handles_.Size(); }

 protected:
  // The system's error codes for StartRead on a number that is not open, and on a handle that
  // was not opened for reading.
  ChannelHidPlatform(std::uint32_t noHandleError, std::uint32_t notReadableError)
      : noHandleError_(noHandleError), notReadableError_(notReadableError) {}

  HandleTable<Entry> handles_;

 private:
  const std::uint32_t noHandleError_;
  const std::uint32_t notReadableError_;
};

template <typename Entry>
bool ChannelHidPlatform<Entry>::Write(HidHandle handle, const std::uint8_t* buffer,
                                      std::size_t length, std::uint32_t& written) {
  written = 0;
  const auto h = handles_.Find(handle);
  if (!h || !h->Channel || h->Mode != HidOpenMode::ReadWrite) return false;
  return h->Channel->Write(buffer, length, written);
}

template <typename Entry>
bool ChannelHidPlatform<Entry>::StartRead(HidHandle handle, std::uint8_t* buffer,
                                          std::size_t length, std::uint32_t& error) {
  const auto h = handles_.Find(handle);
  if (!h) {
    error = noHandleError_;
    return false;
  }
  if (!h->Channel || h->Mode == HidOpenMode::Identify) {
    error = notReadableError_;
    return false;
  }
  return h->Channel->StartRead(buffer, length, error);
}

template <typename Entry>
HidWaitResult ChannelHidPlatform<Entry>::WaitRead(HidHandle handle, int sliceMs) {
  const auto h = handles_.Find(handle);
  // A closed handle has no read left to wait for: the caller then finds 0 bytes.
  if (!h || !h->Channel) return HidWaitResult::Completed;
  return h->Channel->WaitRead(sliceMs);
}

template <typename Entry>
bool ChannelHidPlatform<Entry>::GetReadResult(HidHandle handle, std::uint32_t& bytesRead) {
  bytesRead = 0;
  const auto h = handles_.Find(handle);
  return h && h->Channel && h->Channel->GetReadResult(bytesRead);
}

template <typename Entry>
void ChannelHidPlatform<Entry>::CancelRead(HidHandle handle) {
  const auto h = handles_.Find(handle);
  if (h && h->Channel) h->Channel->CancelRead();
}

template <typename Entry>
bool ChannelHidPlatform<Entry>::ReadQueued(HidHandle handle, std::uint8_t* buffer,
                                           std::size_t length, std::uint32_t& bytesRead) {
  bytesRead = 0;
  const auto h = handles_.Find(handle);
  if (!h || !h->Channel || h->Mode != HidOpenMode::Read) return false;
  return h->Channel->ReadQueued(buffer, length, bytesRead);
}

}  // namespace zrv
