#include "link/platform/win32/win32_hid_platform.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <dbt.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <thread>
#include <vector>

#include "link/platform/win32/device_change_window.h"
#include "link/platform/win32/win32_hid_file.h"
#include "win32_test_devices.h"

namespace zrv {
namespace {

using test::SeenDevice;

class Win32HidPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    seen_ = test::SeenDevices(platform_);
    if (seen_.empty()) GTEST_SKIP() << "no HID device is attached to this machine";
  }
  // The first device whose interface opens for reading (not so on Windows for keyboards and mice).
  HidHandle OpenReadable(std::vector<std::uint8_t>& buffer) {
    for (const SeenDevice& device : seen_) {
      if (!device.Caps || device.Caps->InputReportByteLength == 0) continue;
      const HidHandle h = platform_.Open(device.Interface.Path, HidOpenMode::Read);
      buffer.assign(device.Caps->InputReportByteLength, 0xA5);
      if (h != kInvalidHidHandle) return h;
    }
    return kInvalidHidHandle;
  }

  Win32HidPlatform platform_;
  std::vector<SeenDevice> seen_;
};

TEST_F(Win32HidPlatformTest, EnumerationAndIdentificationOfTheAttachedDevices) {
  std::vector<HidInterfaceInfo> again;
  ASSERT_TRUE(platform_.EnumerateInterfaces(again));
  ASSERT_EQ(again.size(), seen_.size());
  for (std::size_t i = 0; i < again.size(); ++i) {
    EXPECT_EQ(again[i].Path, seen_[i].Interface.Path);
    EXPECT_EQ(again[i].Instance, seen_[i].Interface.Instance) << again[i].Path;
    EXPECT_TRUE(i == 0 || again[i - 1].Instance < again[i].Instance);
    // Identification works for every interface, also those the system keeps for itself.
    EXPECT_NE(seen_[i].Attributes.VendorID | seen_[i].Attributes.ProductID, 0) << again[i].Path;
    EXPECT_TRUE(seen_[i].Caps.has_value()) << again[i].Path;
  }
  EXPECT_EQ(platform_.OpenHandleCount(), 0u);
  const SeenDevice* mouse = test::FindWineDevice(seen_, 0x0001);
  const SeenDevice* keyboard = test::FindWineDevice(seen_, 0x0002);
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

TEST_F(Win32HidPlatformTest, WhatEachHandleRefuses) {
  EXPECT_EQ(platform_.Open("", HidOpenMode::Identify), kInvalidHidHandle);
  EXPECT_EQ(platform_.Open("\\\\?\\hid#none#0#{4d1e55b2-f16f-11cf-88cb-001111000030}", HidOpenMode::Identify),
            kInvalidHidHandle);
  const HidHandle identify = platform_.Open(seen_.front().Interface.Path, HidOpenMode::Identify);
  ASSERT_NE(identify, kInvalidHidHandle);
  char16_t tiny[2] = {u'x', u'x'};
  platform_.GetProductString(identify, tiny, sizeof tiny);
  EXPECT_EQ(tiny[1], u'\0');  // terminated, however short the buffer
  std::uint8_t report[64] = {0, 10};
  std::uint32_t written = 7, error = 0;
  EXPECT_FALSE(platform_.Write(identify, report, sizeof report, written));
  EXPECT_EQ(written, 0u);
  EXPECT_FALSE(platform_.StartRead(identify, report, sizeof report, error));
  EXPECT_EQ(error, static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
  // A closed number refuses every call (the numbering itself is the handle table's).
  platform_.Close(identify);
  THidAttributes attributes;
  EXPECT_FALSE(platform_.GetAttributes(identify, attributes));
  EXPECT_FALSE(platform_.StartRead(identify, report, sizeof report, error));
  EXPECT_EQ(error, static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(platform_.WaitRead(identify, 10), HidWaitResult::Completed);

  // A device without output reports refuses a write and stays usable (wine's mouse and keyboard;
  // on Windows the system keeps those for itself and they do not open for writing).
  for (const SeenDevice& device : seen_) {
    if (!device.Caps || device.Caps->OutputReportByteLength != 0) continue;
    const HidHandle h = platform_.Open(device.Interface.Path, HidOpenMode::ReadWrite);
    if (h == kInvalidHidHandle) continue;
    written = 99;
    EXPECT_FALSE(platform_.Write(h, report, 8, written));
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(platform_.GetAttributes(h, attributes));
    EXPECT_TRUE(platform_.SetNumInputBuffers(h, 16));
    std::uint32_t count = 0;
    EXPECT_TRUE(platform_.GetNumInputBuffers(h, count));
    EXPECT_EQ(count, 16u);
    platform_.Close(h);
  }
  EXPECT_EQ(platform_.OpenHandleCount(), 0u);
}

TEST_F(Win32HidPlatformTest, ReadStaysPendingUntilCancelledOrClosedAndEndsEmpty) {
  std::vector<std::uint8_t> buffer;
  const HidHandle h = OpenReadable(buffer);
  if (h == kInvalidHidHandle) GTEST_SKIP() << "no HID device opens for reading here";
  std::uint32_t error = 0, bytes = 9;
  // Nothing queued, nothing arriving (nobody moves wine's mouse).
  EXPECT_FALSE(platform_.ReadQueued(h, buffer.data(), buffer.size(), bytes));
  ASSERT_TRUE(platform_.StartRead(h, buffer.data(), buffer.size(), error)) << error;
  EXPECT_EQ(platform_.WaitRead(h, 50), HidWaitResult::Pending);
  EXPECT_FALSE(platform_.GetReadResult(h, bytes));
  EXPECT_FALSE(platform_.StartRead(h, buffer.data(), buffer.size(), error));  // one at a time
  EXPECT_FALSE(platform_.ReadQueued(h, buffer.data(), buffer.size(), bytes));
  platform_.CancelRead(h);
  EXPECT_EQ(platform_.WaitRead(h, 1000), HidWaitResult::Completed);
  bytes = 9;
  EXPECT_FALSE(platform_.GetReadResult(h, bytes));
  EXPECT_EQ(bytes, 0u);
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b == 0xA5; }));

  // Closed from another thread while the reader waits in slices far longer than the test.
  ASSERT_TRUE(platform_.StartRead(h, buffer.data(), buffer.size(), error)) << error;
  std::atomic<int> pendingSlices{0};
  std::atomic<bool> resultOk{true};
  std::atomic<std::uint32_t> resultBytes{99};
  std::thread reader([&] {
    while (platform_.WaitRead(h, 60000) == HidWaitResult::Pending) ++pendingSlices;
    std::uint32_t n = 99;
    resultOk = platform_.GetReadResult(h, n);
    resultBytes = n;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the outcome is the same either way
  platform_.Close(h);
  reader.join();
  EXPECT_EQ(pendingSlices, 0);
  EXPECT_FALSE(resultOk);
  EXPECT_EQ(resultBytes, 0u);
  EXPECT_EQ(platform_.OpenHandleCount(), 0u);
}

TEST_F(Win32HidPlatformTest, ReaderSharesTheFileObjectOfTheWriteHandle) {
  for (const SeenDevice& device : seen_) {
    const std::string& path = device.Interface.Path;
    const HidHandle writer = platform_.Open(path, HidOpenMode::ReadWrite);
    if (writer == kInvalidHidHandle) continue;
    // So it reads the replies to reports written before it opened.
    const HidHandle shared = platform_.Open(path, HidOpenMode::Read);
    const HidHandle identify = platform_.Open(path, HidOpenMode::Identify);
    EXPECT_TRUE(platform_.ShareFileObject(shared, writer));
    EXPECT_FALSE(platform_.ShareFileObject(identify, writer));
    platform_.Close(writer);  // the reader keeps working
    std::vector<std::uint8_t> buffer(64);
    std::uint32_t error = 0;
    EXPECT_TRUE(platform_.StartRead(shared, buffer.data(), buffer.size(), error)) << error;
    EXPECT_EQ(platform_.WaitRead(shared, 10), HidWaitResult::Pending);
    platform_.Close(shared);
    // Without a write handle a reader has a file object of its own.
    const HidHandle alone = platform_.Open(path, HidOpenMode::Read);
    const HidHandle laterWriter = platform_.Open(path, HidOpenMode::ReadWrite);
    EXPECT_FALSE(platform_.ShareFileObject(alone, laterWriter));
    for (HidHandle h : {identify, alone, laterWriter}) platform_.Close(h);
    EXPECT_EQ(platform_.OpenHandleCount(), 0u);
    return;
  }
  GTEST_SKIP() << "no HID device opens for writing here";
}

// A file of the disk stands in for a device: the system's own count of a write and its own
// overlapped completions, judged and kept as for a HID interface.
TEST(Win32HidFile, AWholeWriteIsTakenAndAReadCompletesWithItsCount) {
  wchar_t folder[MAX_PATH] = {};
  wchar_t name[MAX_PATH] = {};
  ASSERT_NE(::GetTempPathW(MAX_PATH, folder), 0u);
  ASSERT_NE(::GetTempFileNameW(folder, L"zrv", 0, name), 0u);
  const HANDLE handle = ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_FLAG_OVERLAPPED | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  Win32HidFile file(handle);
  ASSERT_TRUE(file.IsUsable());
  std::vector<std::uint8_t> report(64, 0x5A);
  report[0] = 0;
  std::uint32_t written = 0;
  ASSERT_TRUE(file.Write(report.data(), report.size(), written));
  EXPECT_EQ(written, 64u);  // Windows counts the ID byte

  std::vector<std::uint8_t> buffer(80, 0);
  std::uint32_t error = 0, bytes = 9;
  EXPECT_FALSE(file.GetReadResult(bytes));
  EXPECT_EQ(bytes, 0u);
  ASSERT_TRUE(file.StartRead(buffer.data(), buffer.size(), error)) << error;
  ASSERT_EQ(file.WaitRead(10000), HidWaitResult::Completed);
  ASSERT_TRUE(file.GetReadResult(bytes));
  EXPECT_EQ(bytes, 64u);
  EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 64), report);

  file.Shutdown();
  EXPECT_FALSE(file.Write(report.data(), report.size(), written));
  EXPECT_FALSE(file.StartRead(buffer.data(), buffer.size(), error));
  EXPECT_EQ(error, static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
}

// A device-change notice as the system sends it: the header, then the path it names.
void SendNotice(HWND window, WPARAM event, const std::string& path) {
  const std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  std::vector<wchar_t> storage(nameOffset / sizeof(wchar_t) + path.size() + 2, L'\0');
  DEV_BROADCAST_DEVICEINTERFACE_W header{};
  header.dbcc_size = static_cast<DWORD>(storage.size() * sizeof(wchar_t));
  header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  std::memcpy(storage.data(), &header, nameOffset);
  std::copy(path.begin(), path.end(), storage.begin() + static_cast<std::ptrdiff_t>(nameOffset / sizeof(wchar_t)));
  ::SendMessageW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(storage.data()));
}

void PumpMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
}

HWND ChangeWindow() { return ::FindWindowExW(HWND_MESSAGE, nullptr, DeviceChangeWindow::ClassName(), nullptr); }

TEST_F(Win32HidPlatformTest, ChangeNoticesCoalesceAndARemovalRetiresTheInstance) {
  int calls = 0;
  platform_.SetChangeNotification([&] { ++calls; });
  EXPECT_TRUE(platform_.IsWatchingChanges());
  const HWND window = ChangeWindow();
  ASSERT_NE(window, nullptr);
  // Called from the message loop, once per burst, not inside the system's broadcast.
  SendNotice(window, DBT_DEVICEARRIVAL, "\\\\?\\HID#VID_1234&PID_5678#1");
  SendNotice(window, DBT_DEVICEARRIVAL, "\\\\?\\HID#VID_1234&PID_5678#2");
  ::SendMessageW(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);  // not about the HID class
  EXPECT_EQ(calls, 0);
  PumpMessages();
  EXPECT_EQ(calls, 1);

  // The system names a removed interface in its own letter case. Still present, it came back:
  // another device for the layer above, listed last.
  std::string upper = seen_.front().Interface.Path;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; });
  SendNotice(window, DBT_DEVICEREMOVECOMPLETE, upper);
  PumpMessages();
  EXPECT_EQ(calls, 2);
  std::vector<HidInterfaceInfo> after;
  ASSERT_TRUE(platform_.EnumerateInterfaces(after));
  ASSERT_EQ(after.size(), seen_.size());
  EXPECT_EQ(after.back().Path, seen_.front().Interface.Path);
  EXPECT_GT(after.back().Instance, seen_.back().Interface.Instance);
  for (std::size_t i = 1; i < seen_.size(); ++i) EXPECT_EQ(after[i - 1].Instance, seen_[i].Interface.Instance);

  // The callback may stop the watch from inside itself; the window goes with it.
  platform_.SetChangeNotification([&] {
    calls += 10;
    platform_.SetChangeNotification({});
  });
  SendNotice(window, DBT_DEVICEARRIVAL, "\\\\?\\HID#X");
  PumpMessages();
  EXPECT_EQ(calls, 12);
  EXPECT_FALSE(platform_.IsWatchingChanges());
  EXPECT_EQ(ChangeWindow(), nullptr);
}

}  // namespace
}  // namespace zrv
