#include "link/platform/win32/win32_hid_platform.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <dbt.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <optional>
#include <atomic>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "link/platform/win32/device_change_window.h"
#include "win32_test_devices.h"

namespace zrv {
namespace {

using test::FindWineDevice;
using test::SeenDevice;
using test::SeenDevices;

#define SKIP_WITHOUT_DEVICES(seen)                                  \
  do {                                                              \
    if ((seen).empty()) {                                           \
      GTEST_SKIP() << "no HID device is attached to this machine"; \
    }                                                               \
  } while (false)

// The first device whose interface opens for reading, with its read handle.
struct Readable {
  SeenDevice Device;
  HidHandle Handle = kInvalidHidHandle;
};
std::optional<Readable> OpenReadable(Win32HidPlatform& platform, const std::vector<SeenDevice>& seen) {
  for (const SeenDevice& device : seen) {
    if (!device.Caps || device.Caps->InputReportByteLength == 0) continue;
    const HidHandle h = platform.Open(device.Interface.Path, HidOpenMode::Read);
    if (h != kInvalidHidHandle) return Readable{device, h};
  }
  return std::nullopt;
}

void PumpMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

TEST(Win32HidPlatform, EnumerationKeepsInstancesAcrossScansAndListsWineDevices) {
  Win32HidPlatform platform;
  EXPECT_TRUE(platform.HidServicesPresent());
  std::vector<HidInterfaceInfo> first, second;
  ASSERT_TRUE(platform.EnumerateInterfaces(first));
  ASSERT_TRUE(platform.EnumerateInterfaces(second));
  if (first.empty()) GTEST_SKIP() << "no HID device is attached to this machine";
  ASSERT_EQ(first.size(), second.size());
  std::set<std::uint32_t> instances;
  for (std::size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(first[i].Path, second[i].Path);
    EXPECT_EQ(first[i].Instance, second[i].Instance) << first[i].Path;
    EXPECT_NE(first[i].Instance, 0u);
    EXPECT_EQ(first[i].Path.rfind("\\\\?\\", 0), 0u) << first[i].Path;
    instances.insert(first[i].Instance);
    if (i > 0) {
      EXPECT_LT(first[i - 1].Instance, first[i].Instance);
    }
  }
  EXPECT_EQ(instances.size(), first.size());
  // A second platform object numbers on its own, but sees the same paths.
  Win32HidPlatform other;
  std::vector<HidInterfaceInfo> third;
  ASSERT_TRUE(other.EnumerateInterfaces(third));
  ASSERT_EQ(third.size(), first.size());
  for (std::size_t i = 0; i < first.size(); ++i) EXPECT_EQ(third[i].Path, first[i].Path);
}

TEST(Win32HidPlatform, IdentifyHandlesReadAttributesStringsAndCapabilities) {
  Win32HidPlatform platform;
  const std::vector<SeenDevice> seen = SeenDevices(platform);
  SKIP_WITHOUT_DEVICES(seen);
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
  for (const SeenDevice& device : seen) {
    // Identification works for every interface, also those the system keeps for itself.
    EXPECT_NE(device.Attributes.VendorID | device.Attributes.ProductID, 0) << device.Interface.Path;
    EXPECT_TRUE(device.Caps.has_value()) << device.Interface.Path;
  }
  const SeenDevice* mouse = FindWineDevice(seen, 0x0001);
  const SeenDevice* keyboard = FindWineDevice(seen, 0x0002);
  if (mouse == nullptr || keyboard == nullptr) return;  // not under wine: nothing more is known
  EXPECT_EQ(mouse->Product, u"Wine HID mouse");
  EXPECT_EQ(keyboard->Product, u"Wine HID keyboard");
  ASSERT_TRUE(mouse->Caps && keyboard->Caps);
  EXPECT_EQ(mouse->Caps->UsagePage, 1);
  EXPECT_EQ(mouse->Caps->Usage, 2);
  EXPECT_EQ(mouse->Caps->InputReportByteLength, 2);
  EXPECT_EQ(mouse->Caps->OutputReportByteLength, 0);
  EXPECT_EQ(keyboard->Caps->Usage, 6);
  EXPECT_EQ(keyboard->Caps->InputReportByteLength, 14);
}

TEST(Win32HidPlatform, OpenModesAndWhatEachHandleRefuses) {
  Win32HidPlatform platform;
  const std::vector<SeenDevice> seen = SeenDevices(platform);
  SKIP_WITHOUT_DEVICES(seen);
  const std::string& path = seen.front().Interface.Path;

  EXPECT_EQ(platform.Open("", HidOpenMode::Identify), kInvalidHidHandle);
  EXPECT_EQ(platform.Open("\\\\?\\hid#no_such_device#0#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                          HidOpenMode::Identify),
            kInvalidHidHandle);

  const HidHandle identify = platform.Open(path, HidOpenMode::Identify);
  ASSERT_NE(identify, kInvalidHidHandle);
  std::array<char16_t, 2> tiny{};
  platform.GetProductString(identify, tiny.data(), sizeof tiny);
  EXPECT_EQ(tiny[1], u'\0');  // always terminated, however short the buffer
  std::uint8_t report[64] = {0, 10};
  std::uint32_t written = 7, error = 0;
  EXPECT_FALSE(platform.Write(identify, report, sizeof report, written));
  EXPECT_EQ(written, 0u);
  EXPECT_FALSE(platform.StartRead(identify, report, sizeof report, error));
  EXPECT_EQ(error, static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(platform.ReadQueued(identify, report, sizeof report, written));

  // Handle numbers are never handed out twice: a closed one stays dead.
  platform.Close(identify);
  platform.Close(identify);
  THidAttributes attributes;
  EXPECT_FALSE(platform.GetAttributes(identify, attributes));
  EXPECT_FALSE(platform.StartRead(identify, report, sizeof report, error));
  EXPECT_EQ(error, static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(platform.WaitRead(identify, 10), HidWaitResult::Completed);
  const HidHandle again = platform.Open(path, HidOpenMode::Identify);
  EXPECT_NE(again, identify);
  platform.Close(again);
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

TEST(Win32HidPlatform, WriteToADeviceWithoutOutputReportsFailsCleanly) {
  Win32HidPlatform platform;
  const std::vector<SeenDevice> seen = SeenDevices(platform);
  SKIP_WITHOUT_DEVICES(seen);
  bool tried = false;
  for (const SeenDevice& device : seen) {
    if (!device.Caps || device.Caps->OutputReportByteLength != 0) continue;
    const HidHandle h = platform.Open(device.Interface.Path, HidOpenMode::ReadWrite);
    if (h == kInvalidHidHandle) continue;  // held by the system, as keyboards and mice are on Windows
    tried = true;
    std::uint8_t report[8] = {0, 10};
    std::uint32_t written = 99;
    EXPECT_FALSE(platform.Write(h, report, sizeof report, written));
    EXPECT_EQ(written, 0u);
    EXPECT_FALSE(platform.Write(h, nullptr, 8, written));
    // The handle is still good afterwards.
    THidAttributes attributes;
    EXPECT_TRUE(platform.GetAttributes(h, attributes));
    std::uint32_t count = 0;
    EXPECT_TRUE(platform.SetNumInputBuffers(h, 16));
    ASSERT_TRUE(platform.GetNumInputBuffers(h, count));
    EXPECT_EQ(count, 16u);
    platform.Close(h);
  }
  if (!tried) GTEST_SKIP() << "no device without output reports opens for writing here";
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

TEST(Win32HidPlatform, ReadStaysPendingUntilCancelledAndCancelEndsItEmpty) {
  Win32HidPlatform platform;
  const std::vector<SeenDevice> seen = SeenDevices(platform);
  SKIP_WITHOUT_DEVICES(seen);
  auto readable = OpenReadable(platform, seen);
  if (!readable) GTEST_SKIP() << "no HID device opens for reading here";
  const HidHandle h = readable->Handle;
  std::vector<std::uint8_t> buffer(readable->Device.Caps->InputReportByteLength, 0xA5);
  std::uint32_t error = 0, bytes = 9;

  // Nothing queued, nothing arriving (nobody moves wine's mouse).
  EXPECT_FALSE(platform.ReadQueued(h, buffer.data(), buffer.size(), bytes));
  EXPECT_EQ(bytes, 0u);

  ASSERT_TRUE(platform.StartRead(h, buffer.data(), buffer.size(), error)) << error;
  EXPECT_EQ(platform.WaitRead(h, 50), HidWaitResult::Pending);
  EXPECT_EQ(platform.WaitRead(h, 0), HidWaitResult::Pending);
  EXPECT_FALSE(platform.GetReadResult(h, bytes));
  // One read at a time, and no queued read beside it.
  EXPECT_FALSE(platform.StartRead(h, buffer.data(), buffer.size(), error));
  EXPECT_FALSE(platform.ReadQueued(h, buffer.data(), buffer.size(), bytes));

  platform.CancelRead(h);
  EXPECT_EQ(platform.WaitRead(h, 1000), HidWaitResult::Completed);
  bytes = 9;
  EXPECT_FALSE(platform.GetReadResult(h, bytes));
  EXPECT_EQ(bytes, 0u);
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b == 0xA5; }));
  platform.CancelRead(h);  // nothing outstanding: harmless

  // The handle reads again after a cancel.
  ASSERT_TRUE(platform.StartRead(h, buffer.data(), buffer.size(), error)) << error;
  EXPECT_EQ(platform.WaitRead(h, 20), HidWaitResult::Pending);
  platform.Close(h);
  EXPECT_EQ(platform.WaitRead(h, 20), HidWaitResult::Completed);
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

TEST(Win32HidPlatform, CloseFromAnotherThreadEndsTheWaitersRead) {
  Win32HidPlatform platform;
  const std::vector<SeenDevice> seen = SeenDevices(platform);
  SKIP_WITHOUT_DEVICES(seen);
  auto readable = OpenReadable(platform, seen);
  if (!readable) GTEST_SKIP() << "no HID device opens for reading here";
  const HidHandle h = readable->Handle;
  std::vector<std::uint8_t> buffer(readable->Device.Caps->InputReportByteLength);
  std::uint32_t error = 0;
  ASSERT_TRUE(platform.StartRead(h, buffer.data(), buffer.size(), error)) << error;

  std::atomic<int> pendingSlices{0};
  std::atomic<bool> completed{false};
  std::atomic<bool> resultOk{true};
  std::atomic<std::uint32_t> resultBytes{99};
  std::thread reader([&] {
    // Long slices: only the close can end this wait in time.
    while (platform.WaitRead(h, 60000) == HidWaitResult::Pending) ++pendingSlices;
    completed = true;
    std::uint32_t bytes = 99;
    resultOk = platform.GetReadResult(h, bytes);
    resultBytes = bytes;
  });
  // Let the reader get into its wait; whether it is there yet or not, the outcome is the same.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  platform.Close(h);
  reader.join();
  EXPECT_TRUE(completed);
  EXPECT_EQ(pendingSlices, 0);
  EXPECT_FALSE(resultOk);
  EXPECT_EQ(resultBytes, 0u);
  EXPECT_EQ(platform.OpenHandleCount(), 0u);
}

TEST(Win32HidPlatform, ReaderSharesTheInputQueueOfTheWriteHandle) {
  Win32HidPlatform platform;
  const std::vector<SeenDevice> seen = SeenDevices(platform);
  SKIP_WITHOUT_DEVICES(seen);
  for (const SeenDevice& device : seen) {
    const HidHandle writeHandle = platform.Open(device.Interface.Path, HidOpenMode::ReadWrite);
    if (writeHandle == kInvalidHidHandle) continue;
    // A reader opened beside the write handle reads through its file object, and so sees the
    // replies to reports written before it opened; another write handle of the path does not
    // change that.
    const HidHandle shared = platform.Open(device.Interface.Path, HidOpenMode::Read);
    ASSERT_NE(shared, kInvalidHidHandle);
    EXPECT_TRUE(platform.ShareFileObject(shared, writeHandle));
    const HidHandle identify = platform.Open(device.Interface.Path, HidOpenMode::Identify);
    const HidHandle secondWriter = platform.Open(device.Interface.Path, HidOpenMode::ReadWrite);
    EXPECT_FALSE(platform.ShareFileObject(identify, writeHandle));
    EXPECT_FALSE(platform.ShareFileObject(secondWriter, writeHandle));
    platform.Close(identify);
    platform.Close(secondWriter);
    // Closing the write handle leaves the shared reader working.
    platform.Close(writeHandle);
    std::vector<std::uint8_t> buffer(std::max<std::uint16_t>(device.Caps ? device.Caps->InputReportByteLength : 0, 64));
    std::uint32_t error = 0;
    EXPECT_TRUE(platform.StartRead(shared, buffer.data(), buffer.size(), error)) << error;
    EXPECT_EQ(platform.WaitRead(shared, 10), HidWaitResult::Pending);
    platform.Close(shared);
    // Without a write handle a reader has a file object of its own.
    const HidHandle alone = platform.Open(device.Interface.Path, HidOpenMode::Read);
    const HidHandle laterWriter = platform.Open(device.Interface.Path, HidOpenMode::ReadWrite);
    ASSERT_NE(alone, kInvalidHidHandle);
    EXPECT_FALSE(platform.ShareFileObject(alone, laterWriter));
    EXPECT_TRUE(platform.ShareFileObject(alone, alone));
    platform.Close(alone);
    platform.Close(laterWriter);
    EXPECT_EQ(platform.OpenHandleCount(), 0u);
    return;
  }
  GTEST_SKIP() << "no HID device opens for writing here";
}

// A device-change notice as the system sends it: the header, then the path it names.
LRESULT SendNotice(HWND window, WPARAM event, const std::string& path) {
  const std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  std::vector<wchar_t> storage((nameOffset + sizeof(wchar_t) * (path.size() + 1)) / sizeof(wchar_t) + 1, L'\0');
  auto* bytes = reinterpret_cast<unsigned char*>(storage.data());
  DEV_BROADCAST_DEVICEINTERFACE_W header{};
  header.dbcc_size = static_cast<DWORD>(storage.size() * sizeof(wchar_t));
  header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  std::memcpy(bytes, &header, nameOffset);
  const std::wstring name(path.begin(), path.end());
  std::memcpy(bytes + nameOffset, name.c_str(), sizeof(wchar_t) * (name.size() + 1));
  return ::SendMessageW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(bytes));
}

TEST(Win32HidPlatform, ChangeNoticesCoalesceAndARemovalRetiresTheInstance) {
  Win32HidPlatform platform;
  std::vector<HidInterfaceInfo> before;
  ASSERT_TRUE(platform.EnumerateInterfaces(before));
  int calls = 0;
  platform.SetChangeNotification([&] { ++calls; });
  EXPECT_TRUE(platform.IsWatchingChanges());
  const HWND window = ::FindWindowExW(HWND_MESSAGE, nullptr, DeviceChangeWindow::ClassName(), nullptr);
  ASSERT_NE(window, nullptr);

  // Delivered from the message loop, once per burst, not inside the system's broadcast.
  SendNotice(window, DBT_DEVICEARRIVAL, "\\\\?\\HID#VID_1234&PID_5678#1");
  SendNotice(window, DBT_DEVICEARRIVAL, "\\\\?\\HID#VID_1234&PID_5678#2");
  EXPECT_EQ(calls, 0);
  PumpMessages();
  EXPECT_EQ(calls, 1);
  PumpMessages();
  EXPECT_EQ(calls, 1);
  // Other device events are not changes of the HID set.
  ::SendMessageW(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
  PumpMessages();
  EXPECT_EQ(calls, 1);

  if (!before.empty()) {
    // The system names the removed interface in its own letter case.
    std::string upper = before.front().Path;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
      return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    });
    SendNotice(window, DBT_DEVICEREMOVECOMPLETE, upper);
    PumpMessages();
    EXPECT_EQ(calls, 2);
    std::vector<HidInterfaceInfo> after;
    ASSERT_TRUE(platform.EnumerateInterfaces(after));
    ASSERT_EQ(after.size(), before.size());
    // Still present, so it came back: another device for the layer above, listed last.
    EXPECT_EQ(after.back().Path, before.front().Path);
    EXPECT_GT(after.back().Instance, before.back().Instance);
    for (std::size_t i = 1; i < before.size(); ++i) EXPECT_EQ(after[i - 1].Instance, before[i].Instance);
  }

  // A new callback replaces the old one; an empty one stops the watch and removes the window.
  int replaced = 0;
  platform.SetChangeNotification([&] { ++replaced; });
  SendNotice(window, DBT_DEVICEARRIVAL, "\\\\?\\HID#X");
  PumpMessages();
  EXPECT_EQ(replaced, 1);
  platform.SetChangeNotification({});
  EXPECT_FALSE(platform.IsWatchingChanges());
  EXPECT_EQ(::FindWindowExW(HWND_MESSAGE, nullptr, DeviceChangeWindow::ClassName(), nullptr), nullptr);
  EXPECT_EQ(calls, before.empty() ? 1 : 2);
}

TEST(Win32HidPlatform, CallbackMayStopTheWatchFromInsideIt) {
  Win32HidPlatform platform;
  int calls = 0;
  platform.SetChangeNotification([&] {
    ++calls;
    platform.SetChangeNotification({});
  });
  const HWND window = ::FindWindowExW(HWND_MESSAGE, nullptr, DeviceChangeWindow::ClassName(), nullptr);
  ASSERT_NE(window, nullptr);
  SendNotice(window, DBT_DEVICEARRIVAL, "\\\\?\\HID#X");
  PumpMessages();
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(::IsWindow(window));
}

}  // namespace
}  // namespace zrv
