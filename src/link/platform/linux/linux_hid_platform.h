// LinuxHidPlatform: the HID platform on Linux, over hidraw nodes found with libudev.
//
// Use: `zrv::LinuxHidPlatform platform;` (link zrv_link_linux, include
// "link/platform/linux/linux_hid_platform.h") and hand it to the device layer as an
// IHidPlatform. EnumerateInterfaces lists every hidraw node as {Path = "/dev/hidrawN", Instance
// = the kernel's HID device number from a name such as "0003:1234:5678.000A"}, sorted by
// Instance. Open(path, Identify) needs no access to the node: attributes, product string and
// report lengths then come from sysfs (product string: the USB device's `product`, or HID_NAME
// for a device with no USB parent such as uhid). Open(path, ReadWrite) and Open(path, Read) open
// the node itself; a Read handle opened while a ReadWrite handle of the same node is open shares
// that handle's open file, so replies to reports written before the reader opened are not lost.
// Write takes the whole report with its ID byte first (0 for a device without
// numbered reports) in one write(). Reads deliver the report ID first, a 0 being put in front
// for devices without numbered reports; StartRead/WaitRead/GetReadResult are for one reader
// thread per handle, while CancelRead and Close may come from any thread and wake it at once.
// When the device goes away the outstanding read completes with failure (0 bytes); reads started
// after that stay pending until cancelled or closed, so a reader does not spin. A node whose
// report descriptor cannot be read or parsed opens for Identify only.
// SetChangeNotification needs a Qt event loop (QCoreApplication) on the calling thread: the
// callback runs there, once per burst of hidraw add/remove events. Every method is safe to call
// from several threads, except EnumerateInterfaces and SetChangeNotification, which belong to
// the thread that owns the platform. Destroy the platform only after every reader has stopped.
// The constructor argument is only for tests that fake sysfs.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include <sys/types.h>

#include "link/platform/hid_platform.h"

struct udev;
struct udev_monitor;

namespace zrv {

class ChangeWatch;
class HidrawChannel;

class LinuxHidPlatform : public IHidPlatform {
 public:
  explicit LinuxHidPlatform(std::filesystem::path sysfsRoot = "/sys");
  ~LinuxHidPlatform() override;
  LinuxHidPlatform(const LinuxHidPlatform&) = delete;
  LinuxHidPlatform& operator=(const LinuxHidPlatform&) = delete;

  bool HidServicesPresent() const override;
  bool EnumerateInterfaces(std::vector<HidInterfaceInfo>& out) override;

  HidHandle Open(const std::string& path, HidOpenMode mode) override;
  void Close(HidHandle handle) override;

  bool GetAttributes(HidHandle handle, THidAttributes& out) override;
  bool GetProductString(HidHandle handle, char16_t* buffer, std::size_t bytes) override;
  bool GetPreparsedData(HidHandle handle, HidPreparsedData& out) override;

  bool SetNumInputBuffers(HidHandle handle, std::uint32_t count) override;
  bool GetNumInputBuffers(HidHandle handle, std::uint32_t& count) override;

  bool Write(HidHandle handle, const std::uint8_t* buffer, std::size_t length,
             std::uint32_t& written) override;

  bool StartRead(HidHandle handle, std::uint8_t* buffer, std::size_t length,
                 std::uint32_t& error) override;
  HidWaitResult WaitRead(HidHandle handle, int sliceMs) override;
  bool GetReadResult(HidHandle handle, std::uint32_t& bytesRead) override;
  void CancelRead(HidHandle handle) override;
  bool ReadQueued(HidHandle handle, std::uint8_t* buffer, std::size_t length,
                  std::uint32_t& bytesRead) override;

  void SetChangeNotification(std::function<void()> onChange) override;

  // Handles currently open (for leak checks in tests).
  std::size_t OpenHandleCount() const;

 private:
  struct Handle {
    HidOpenMode Mode = HidOpenMode::Identify;
    std::filesystem::path HidDir;              // the HID device in sysfs
    dev_t Rdev = 0;                            // the node's device number
    std::shared_ptr<HidrawChannel> Channel;    // none for an Identify handle
  };

  std::shared_ptr<Handle> Find(HidHandle handle) const;
  std::shared_ptr<HidrawChannel> ShareReadWriteFile(dev_t rdev,
                                                    std::filesystem::path& hidDir) const;
  bool ReadDescriptor(const Handle& h, std::vector<std::uint8_t>& out) const;
  void StopWatch();
  void DrainMonitor();

  const std::filesystem::path sysfsRoot_;
  udev* udev_ = nullptr;

  mutable std::mutex handlesMutex_;
  std::unordered_map<HidHandle, std::shared_ptr<Handle>> handles_;
  std::atomic<HidHandle> nextHandle_{1};

  udev_monitor* monitor_ = nullptr;
  std::unique_ptr<ChangeWatch> watch_;
};

}  // namespace zrv
