#include "link/platform/linux/linux_hid_platform.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "link/platform/linux/change_watch.h"
#include "link/platform/linux/hid_report_descriptor.h"
#include "link/platform/linux/hidraw_channel.h"
#include "link/platform/linux/sysfs_hid_device.h"
#include "link/platform/linux/sysfs_text.h"

namespace zrv {

namespace fs = std::filesystem;

namespace {

// hidraw keeps a fixed ring of this many reports per open file (HIDRAW_BUFFER_SIZE in the
// kernel) and offers no way to change it.
constexpr std::uint32_t kHidrawQueueReports = 64;

// A udev event burst larger than this is finished on the notifier's next activation.
constexpr int kMaxEventsPerDrain = 4096;

// The ioctl request numbers are built by macros full of C casts; keep that noise here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wsign-conversion"
#pragma GCC diagnostic ignored "-Wconversion"
constexpr unsigned long kGetDescriptorSize = HIDIOCGRDESCSIZE;
constexpr unsigned long kGetDescriptor = HIDIOCGRDESC;
#pragma GCC diagnostic pop

bool ReadDescriptorFromNode(int fd, std::vector<std::uint8_t>& out) {
  int size = 0;
  if (::ioctl(fd, kGetDescriptorSize, &size) < 0 || size <= 0 ||
      size > HID_MAX_DESCRIPTOR_SIZE) {
    return false;
  }
  hidraw_report_descriptor descriptor{};
  descriptor.size = static_cast<std::uint32_t>(size);
  if (::ioctl(fd, kGetDescriptor, &descriptor) < 0) return false;
  out.assign(descriptor.value, descriptor.value + descriptor.size);
  return true;
}

bool HidDirOfDevnum(const fs::path& sysfsRoot, dev_t rdev, fs::path& hidDir) {
  return ResolveHidrawHidDirectory(sysfsRoot, major(rdev), minor(rdev), hidDir);
}

}  // namespace

template class ChannelHidPlatform<LinuxHidHandle>;

// Ends a read outstanding on the handle; a reader inside WaitRead still holds the channel, so the
// descriptor is closed when the last of the two lets go.
void LinuxHidHandle::Shutdown() {
  if (Channel) Channel->Shutdown();
}

LinuxHidPlatform::LinuxHidPlatform(fs::path sysfsRoot)
    : ChannelHidPlatform(EBADF, EBADF), sysfsRoot_(std::move(sysfsRoot)), udev_(udev_new()) {}

LinuxHidPlatform::~LinuxHidPlatform() {
  StopWatch();
  handles_.CloseAll();
  if (udev_ != nullptr) udev_unref(udev_);
}

bool LinuxHidPlatform::HidServicesPresent() const { return udev_ != nullptr; }

bool LinuxHidPlatform::EnumerateInterfaces(std::vector<HidInterfaceInfo>& out) {
  out.clear();
  if (udev_ == nullptr) return false;
  udev_enumerate* enumerate = udev_enumerate_new(udev_);
  if (enumerate == nullptr) return false;
  bool ok = udev_enumerate_add_match_subsystem(enumerate, "hidraw") >= 0 &&
            udev_enumerate_scan_devices(enumerate) >= 0;
  if (ok) {
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
      const char* syspath = udev_list_entry_get_name(entry);
      if (syspath == nullptr) continue;
      udev_device* dev = udev_device_new_from_syspath(udev_, syspath);
      if (dev == nullptr) continue;  // gone since the scan
      const char* devnode = udev_device_get_devnode(dev);
      // The parent is owned by `dev`, not to be unreferenced.
      udev_device* hid = udev_device_get_parent_with_subsystem_devtype(dev, "hid", nullptr);
      const char* hidName = hid != nullptr ? udev_device_get_sysname(hid) : nullptr;
      std::uint32_t instance = 0;
      if (devnode != nullptr && hidName != nullptr && ParseHidDeviceInstance(hidName, instance)) {
        out.push_back(HidInterfaceInfo{devnode, instance});
      }
      udev_device_unref(dev);
    }
  }
  udev_enumerate_unref(enumerate);
  if (!ok) {
    out.clear();
    return false;
  }
  std::sort(out.begin(), out.end(), [](const HidInterfaceInfo& a, const HidInterfaceInfo& b) {
    return a.Instance < b.Instance;
  });
  return true;
}

std::shared_ptr<HidrawChannel> LinuxHidPlatform::ShareReadWriteFile(dev_t rdev,
                                                                     fs::path& hidDir) const {
  const auto source = handles_.FindIf([rdev](const LinuxHidHandle& h) {
    return h.Mode == HidOpenMode::ReadWrite && h.Rdev == rdev && !h.Channel->IsGone();
  });
  if (!source) return nullptr;
  // Our reference keeps the descriptor open even if its handle is closed meanwhile.
  const int fd = ::fcntl(source->Channel->Fd(), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  hidDir = source->HidDir;
  return std::make_shared<HidrawChannel>(fd, source->Channel->NumberedReports());
}

HidHandle LinuxHidPlatform::Open(const std::string& path, HidOpenMode mode) {
  auto h = std::make_shared<LinuxHidHandle>();
  h->Mode = mode;
  // stat() needs no access to the node itself, only to /dev.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return kInvalidHidHandle;
  h->Rdev = st.st_rdev;
  if (mode == HidOpenMode::Identify) {
    if (!HidDirOfDevnum(sysfsRoot_, st.st_rdev, h->HidDir)) return kInvalidHidHandle;
  } else {
    const int flags = mode == HidOpenMode::ReadWrite ? (O_RDWR | O_CLOEXEC)
                                                     : (O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0) return kInvalidHidHandle;
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISCHR(opened.st_mode) ||
        !HidDirOfDevnum(sysfsRoot_, opened.st_rdev, h->HidDir)) {
      ::close(fd);
      return kInvalidHidHandle;
    }
    h->Rdev = opened.st_rdev;
    std::vector<std::uint8_t> descriptor;
    HidReportDescriptorInfo info;
    // Without the descriptor we cannot tell whether reads carry a report ID.
    if ((!ReadDescriptorFromNode(fd, descriptor) &&
         !ReadSysfsReportDescriptor(h->HidDir, descriptor)) ||
        !ParseHidReportDescriptor(descriptor.data(), descriptor.size(), info)) {
      ::close(fd);
      return kInvalidHidHandle;
    }
    h->Channel = std::make_shared<HidrawChannel>(fd, info.NumberedReports);
  }
  if (mode == HidOpenMode::Read) {
    // hidraw queues a report only for the files open when it arrives, so a reply to a report
    // written just before the reader's file opened would be lost. The reader therefore shares
    // the open file of the node's read-write handle when there is one: whatever was written
    // through it was written after it opened. Looking only after our own open leaves no gap:
    // a write handle that appears later writes after our file is open. The shared file stays
    // blocking; reads come only after poll() has seen a report, and nothing else reads it.
    if (auto shared = ShareReadWriteFile(h->Rdev, h->HidDir)) h->Channel = std::move(shared);
  }
  if (h->Channel && !h->Channel->IsUsable()) return kInvalidHidHandle;
  return handles_.Add(std::move(h));
}

bool LinuxHidPlatform::GetAttributes(HidHandle handle, THidAttributes& out) {
  const auto h = handles_.Find(handle);
  SysfsHidIdentity identity;
  if (!h || !ReadSysfsHidIdentity(h->HidDir, identity)) return false;
  out.VendorID = identity.Ids.VendorID;
  out.ProductID = identity.Ids.ProductID;
  out.VersionNumber = identity.VersionNumber;
  return true;
}

bool LinuxHidPlatform::GetProductString(HidHandle handle, char16_t* buffer, std::size_t bytes) {
  const auto h = handles_.Find(handle);
  SysfsHidIdentity identity;
  std::u16string text;
  if (!h || !ReadSysfsHidIdentity(h->HidDir, identity) || !identity.HasProductString ||
      !Utf8ToUtf16(identity.ProductUtf8, text, kMaxProductStringUnits)) {
    return false;
  }
  return CopyUtf16ToBuffer(text, buffer, bytes);
}

bool LinuxHidPlatform::ReadDescriptor(const LinuxHidHandle& h,
                                      std::vector<std::uint8_t>& out) const {
  if (h.Channel && ReadDescriptorFromNode(h.Channel->Fd(), out)) return true;
  return ReadSysfsReportDescriptor(h.HidDir, out);
}

bool LinuxHidPlatform::GetPreparsedData(HidHandle handle, HidPreparsedData& out) {
  const auto h = handles_.Find(handle);
  std::vector<std::uint8_t> descriptor;
  HidReportDescriptorInfo info;
  if (!h || !ReadDescriptor(*h, descriptor) ||
      !ParseHidReportDescriptor(descriptor.data(), descriptor.size(), info)) {
    return false;
  }
  out.Caps = THidCaps{};
  out.Caps.Usage = info.Usage;
  out.Caps.UsagePage = info.UsagePage;
  out.Caps.InputReportByteLength = info.InputReportByteLength;
  out.Caps.OutputReportByteLength = info.OutputReportByteLength;
  out.Caps.FeatureReportByteLength = info.FeatureReportByteLength;
  return true;
}

bool LinuxHidPlatform::SetNumInputBuffers(HidHandle handle, std::uint32_t /*count*/) {
  // hidraw's queue length is fixed; accepting keeps the device layer's bookkeeping simple.
  return handles_.Find(handle) != nullptr;
}

bool LinuxHidPlatform::GetNumInputBuffers(HidHandle handle, std::uint32_t& count) {
  if (!handles_.Find(handle)) return false;
  count = kHidrawQueueReports;
  return true;
}

void LinuxHidPlatform::DrainMonitor() {
  for (int i = 0; i < kMaxEventsPerDrain; ++i) {
    udev_device* dev = udev_monitor_receive_device(monitor_);
    if (dev == nullptr) break;
    udev_device_unref(dev);
  }
}

void LinuxHidPlatform::StopWatch() {
  watch_.reset();
  if (monitor_ != nullptr) {
    udev_monitor_unref(monitor_);
    monitor_ = nullptr;
  }
}

void LinuxHidPlatform::SetChangeNotification(std::function<void()> onChange) {
  if (!onChange) {
    StopWatch();
    return;
  }
  if (watch_) {
    watch_->SetOnChange(std::move(onChange));
    return;
  }
  if (udev_ == nullptr) return;
  // udevd's events come after its rules have set the node's permissions; without udevd only
  // the kernel's own events exist.
  std::error_code ec;
  const char* source = fs::exists("/run/udev/control", ec) ? "udev" : "kernel";
  monitor_ = udev_monitor_new_from_netlink(udev_, source);
  if (monitor_ == nullptr) return;
  if (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor_) < 0) {
    StopWatch();
    return;
  }
  watch_ = std::make_unique<ChangeWatch>(udev_monitor_get_fd(monitor_),
                                         [this] { DrainMonitor(); }, std::move(onChange));
}

}  // namespace zrv
