// Win32HidPlatform: the HID platform on Windows, over the HID class driver's interfaces.
//
// Use: `zrv::Win32HidPlatform platform;` (link zrv_link_win32, include
// "link/platform/win32/win32_hid_platform.h") and hand it to the device layer as an IHidPlatform.
// EnumerateInterfaces lists every present interface of the HID class (SetupDi) as {Path = the
// interface path, Instance = a number that this platform gives a path when it first sees it},
// sorted by Instance. A path keeps its number while scans keep seeing it; a scan that misses it,
// or a removal notice that names it, retires the number, so a device unplugged and plugged again
// gets a new one although Windows gives it the same path. Open(path, Identify) opens without
// read or write access (enough for attributes, strings and capabilities). Open(path, ReadWrite)
// and Open(path, Read) open for overlapped I/O; a Read handle opened while a ReadWrite handle of
// the same path is open shares that handle's file object, and with it its input queue, so replies
// to reports written before the reader opened are not lost. Write takes the whole report with its
// ID byte first and gives up after 5 s, the USB stack's own time-out elsewhere; wine counts the
// report written without its ID byte, which is taken as whole too. Reads deliver the
// report ID first (the HID class driver puts a 0 in front for devices without numbered reports).
// StartRead/WaitRead/GetReadResult are for one reader thread per handle, while CancelRead and
// Close may come from any thread: both end an outstanding read and wait until the system has let
// go of its buffer. SetChangeNotification needs a message loop on the calling thread (Qt's event
// loop is one): the callback runs there, once per burst of arrival and removal notices. Every
// method is safe to call from several threads, except EnumerateInterfaces and
// SetChangeNotification, which belong to the thread that owns the platform. Destroy the platform
// only after every reader has stopped.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "link/platform/channel_hid_platform.h"

namespace zrv {

class DeviceChangeWindow;
class Win32HidFile;

struct Win32HidHandle {
  HidOpenMode Mode = HidOpenMode::Identify;
  std::string PathKey;
  std::shared_ptr<Win32HidFile> Channel;
  void Shutdown();
};

extern template class ChannelHidPlatform<Win32HidHandle>;

class Win32HidPlatform : public ChannelHidPlatform<Win32HidHandle> {
 public:
  Win32HidPlatform();
  ~Win32HidPlatform() override;
  Win32HidPlatform(const Win32HidPlatform&) = delete;
  Win32HidPlatform& operator=(const Win32HidPlatform&) = delete;

  bool HidServicesPresent() const override;
  bool EnumerateInterfaces(std::vector<HidInterfaceInfo>& out) override;

  HidHandle Open(const std::string& path, HidOpenMode mode) override;

  bool GetAttributes(HidHandle handle, THidAttributes& out) override;
  bool GetProductString(HidHandle handle, char16_t* buffer, std::size_t bytes) override;
  bool GetPreparsedData(HidHandle handle, HidPreparsedData& out) override;

  bool SetNumInputBuffers(HidHandle handle, std::uint32_t count) override;
  bool GetNumInputBuffers(HidHandle handle, std::uint32_t& count) override;

  void SetChangeNotification(std::function<void()> onChange) override;

  // Whether the change notification is registered with the system.
  bool IsWatchingChanges() const;
  // Whether two open handles go through one system file object, and so one input queue.
  bool ShareFileObject(HidHandle a, HidHandle b) const;

 private:
  std::shared_ptr<Win32HidFile> ShareReadWriteFile(const std::string& pathKey) const;
  void ForgetInstance(const std::string& path);

  std::mutex instancesMutex_;
  std::unordered_map<std::string, std::uint32_t> instances_;  // by path key
  std::uint32_t nextInstance_ = 1;

  std::unique_ptr<DeviceChangeWindow> watch_;
};

}  // namespace zrv
