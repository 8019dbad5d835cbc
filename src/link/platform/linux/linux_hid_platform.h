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

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <sys/types.h>

#include "link/platform/channel_hid_platform.h"

struct udev;
struct udev_monitor;

namespace zrv {

class ChangeWatch;
class HidrawChannel;

struct LinuxHidHandle {
  HidOpenMode Mode = HidOpenMode::Identify;
  std::filesystem::path HidDir;              // the HID device in sysfs
  dev_t Rdev = 0;                            // the node's device number
  std::shared_ptr<HidrawChannel> Channel;    // none for an Identify handle
  void Shutdown();
};

extern template class ChannelHidPlatform<LinuxHidHandle>;

class LinuxHidPlatform : public ChannelHidPlatform<LinuxHidHandle> {
 public:
  explicit LinuxHidPlatform(std::filesystem::path sysfsRoot = "/sys");
  ~LinuxHidPlatform() override;
  LinuxHidPlatform(const LinuxHidPlatform&) = delete;
  LinuxHidPlatform& operator=(const LinuxHidPlatform&) = delete;

  bool HidServicesPresent() const override;
  bool EnumerateInterfaces(std::vector<HidInterfaceInfo>& out) override;

  HidHandle Open(const std::string& path, HidOpenMode mode) override;

  bool GetAttributes(HidHandle handle, THidAttributes& out) override;
  bool GetProductString(HidHandle handle, char16_t* buffer, std::size_t bytes) override;
  bool GetPreparsedData(HidHandle handle, HidPreparsedData& out) override;

  bool SetNumInputBuffers(HidHandle handle, std::uint32_t count) override;
  bool GetNumInputBuffers(HidHandle handle, std::uint32_t& count) override;

  void SetChangeNotification(std::function<void()> onChange) override;

 private:
  std::shared_ptr<HidrawChannel> ShareReadWriteFile(dev_t rdev,
                                                    std::filesystem::path& hidDir) const;
  bool ReadDescriptor(const LinuxHidHandle& h, std::vector<std::uint8_t>& out) const;
  void StopWatch();
  void DrainMonitor();

  const std::filesystem::path sysfsRoot_;
  udev* udev_ = nullptr;

  udev_monitor* monitor_ = nullptr;
  std::unique_ptr<ChangeWatch> watch_;
};

}  // namespace zrv
