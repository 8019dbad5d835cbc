// The send path: framing by the device's output report length, refusals, failures, and no heap
// allocation per report.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

#include "e2e_support.h"

namespace {

// Heap allocations made by the counting thread while counting is on.
thread_local bool tCounting = false;
std::atomic<long> gAllocations{0};

}  // namespace

// Under ThreadSanitizer the allocator must stay its own (it tracks memory through it).
#if defined(__SANITIZE_THREAD__)
#define ZRV_COUNT_ALLOCATIONS 0
#else
#define ZRV_COUNT_ALLOCATIONS 1
#endif

#if ZRV_COUNT_ALLOCATIONS
// Out of line on purpose: inlined into a caller, the free() below meets a pointer that GCC saw
// come from operator new and is reported as a mismatched pair (-Wmismatched-new-delete); that
// happens wherever the program is not compiled as position-independent code, as on arm64.
[[gnu::noinline]] void* operator new(std::size_t size) {
  if (tCounting) gAllocations.fetch_add(1);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void* operator new[](std::size_t size) { return operator new(size); }
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete[](void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#endif

namespace zrv::test {
namespace {

// Passes everything to the simulated platform, except that writes can be taken here and counted,
// so that only the window's own send path is measured.
class WriteTap : public IHidPlatform {
 public:
  explicit WriteTap(SimHidPlatform& inner) : inner_(inner) {}
  bool HidServicesPresent() const override { return inner_.HidServicesPresent(); }
  bool EnumerateInterfaces(std::vector<HidInterfaceInfo>& out) override { return inner_.EnumerateInterfaces(out); }
  HidHandle Open(const std::string& path, HidOpenMode mode) override { return inner_.Open(path, mode); }
  void Close(HidHandle handle) override { inner_.Close(handle); }
  bool GetAttributes(HidHandle handle, THidAttributes& out) override { return inner_.GetAttributes(handle, out); }
  bool GetProductString(HidHandle handle, char16_t* buffer, std::size_t bytes) override {
    return inner_.GetProductString(handle, buffer, bytes);
  }
  bool GetPreparsedData(HidHandle handle, HidPreparsedData& out) override {
    return inner_.GetPreparsedData(handle, out);
  }
  bool SetNumInputBuffers(HidHandle handle, std::uint32_t count) override {
    return inner_.SetNumInputBuffers(handle, count);
  }
  bool GetNumInputBuffers(HidHandle handle, std::uint32_t& count) override {
    return inner_.GetNumInputBuffers(handle, count);
  }
  bool Write(HidHandle handle, const std::uint8_t* buffer, std::size_t length, std::uint32_t& written) override {
    if (!Take) return inner_.Write(handle, buffer, length, written);
    // From the first taken report on, the writer thread's own allocations count too.
    tCounting = true;
    LastLength = length;
    std::copy_n(buffer, std::min(length, Last.size()), Last.begin());
    written = static_cast<std::uint32_t>(length);
    Taken.fetch_add(1);
    return true;
  }
  bool StartRead(HidHandle handle, std::uint8_t* buffer, std::size_t length, std::uint32_t& error) override {
    return inner_.StartRead(handle, buffer, length, error);
  }
  HidWaitResult WaitRead(HidHandle handle, int sliceMs) override { return inner_.WaitRead(handle, sliceMs); }
  bool GetReadResult(HidHandle handle, std::uint32_t& bytesRead) override {
    return inner_.GetReadResult(handle, bytesRead);
  }
  void CancelRead(HidHandle handle) override { inner_.CancelRead(handle); }
  bool ReadQueued(HidHandle handle, std::uint8_t* buffer, std::size_t length,
                  std::uint32_t& bytesRead) override {
    return inner_.ReadQueued(handle, buffer, length, bytesRead);
  }
  void SetChangeNotification(std::function<void()> onChange) override {
    inner_.SetChangeNotification(std::move(onChange));
  }

  std::atomic<bool> Take{false};
  std::atomic<int> Taken{0};
  std::size_t LastLength = 0;
  std::array<std::uint8_t, 256> Last{};

 private:
  SimHidPlatform& inner_;
};

TEST(SendPath, SendingAllocatesNothing) {
  if (!ZRV_COUNT_ALLOCATIONS) GTEST_SKIP() << "allocations are not counted under ThreadSanitizer";
  WriteTap* tap = nullptr;
  Bench b([&tap](SimHidPlatform& sim) {
    auto front = std::make_unique<WriteTap>(sim);
    tap = front.get();
    return front;
  });
  ASSERT_TRUE(b.FirstScan());
  Driver driver = b.PlugDriver();
  ASSERT_TRUE(b.Identified());
  tap->Take = true;
  const auto payload = std::array<std::uint8_t, 63>{148, 0x00, 0x4B, 0x00, 0x00, 1, 5};

  // Each report is written before the next is sent, so the polls are not dropped; the waits
  // between sends are not counted on this thread.
  // The writer must also have finished with the report: a poll posted while it is still busy
  // would be dropped, and the count would never be reached.
  auto waitFor = [&](int taken) {
    while (tap->Taken.load() < taken || b.Session->CurrentDevice()->WritesPending()) std::this_thread::yield();
  };
  gAllocations = 0;
  for (int i = 0; i < 100; ++i) {
    tCounting = true;
    b.Session->SendCommand(CommandCode::ReadStatus);
    tCounting = false;
    waitFor(2 * i + 1);
    tCounting = true;
    b.Session->SendReport(payload.data(), static_cast<std::uint32_t>(payload.size()));
    tCounting = false;
    waitFor(2 * i + 2);
  }
  ASSERT_TRUE(b.Flush());

  EXPECT_EQ(gAllocations.load(), 0);
  EXPECT_EQ(tap->Taken.load(), 200);
  EXPECT_EQ(tap->LastLength, 64u);
  // 19200 baud, odd parity, slave 5.
  const std::array<std::uint8_t, 8> head = {1, 148, 0x00, 0x4B, 0x00, 0x00, 1, 5};
  EXPECT_TRUE(std::equal(head.begin(), head.end(), tap->Last.begin()));
  EXPECT_TRUE(std::all_of(tap->Last.begin() + 8, tap->Last.begin() + 64, [](std::uint8_t v) { return v == 0; }));
}

// A device called "ZRVXXX" with an output report length of its own and nobody behind it.
std::shared_ptr<SimHidDevice> PlugWithOutputLength(Bench& b, std::uint16_t length, bool noDescriptor = false) {
  SimHidDeviceConfig config;
  config.Path = "/sim/odd" + std::to_string(length);
  config.Instance = 500u + length;
  config.ProductString = u"ZRVXXX";
  config.OutputReportByteLength = length;
  config.FailPreparsedData = noDescriptor;
  std::shared_ptr<SimHidDevice> device;
  b.Rescan([&] { device = b.Platform.Plug(config); });
  return device;
}

TEST(SendPath, ReportsTakeTheDevicesOutputLengthAndUnsendableLengthsSendNothing) {
  Bench b;
  ASSERT_TRUE(b.FirstScan());
  auto nine = PlugWithOutputLength(b, 9);
  ASSERT_TRUE(b.Session->Connected());
  b.Click("Btn_SaveParams");
  const auto written = nine->WrittenReports();
  ASSERT_EQ(written.size(), 2u);
  EXPECT_EQ(written[0], (std::vector<std::uint8_t>{1, 10, 0, 0, 0, 0, 0, 0, 0}));
  // The 63-byte payload cut to its first 8 bytes: 38400 baud, no parity, slave 1.
  EXPECT_EQ(written[1], (std::vector<std::uint8_t>{1, 148, 0x00, 0x96, 0x00, 0x00, 0, 1, 0}));
  b.Unplug(nine);

  // No report descriptor (length 0) and a length beyond the report buffer: nothing goes out,
  // and the window stays connected and quiet.
  auto none = PlugWithOutputLength(b, 0, true);
  ASSERT_TRUE(b.Session->Connected());
  b.Click("Btn_ReadSettings");
  EXPECT_EQ(none->WriteAttempts(), 0);
  b.Unplug(none);
  auto huge = PlugWithOutputLength(b, 300);
  ASSERT_TRUE(b.Session->Connected());
  b.Click("Btn_ReadSettings");
  b.Click("Btn_SaveParams");
  EXPECT_EQ(huge->WriteAttempts(), 0);
  auto exact = PlugWithOutputLength(b, 256);
  ASSERT_TRUE(b.Session->Connected());
  ASSERT_EQ(exact->WrittenReports().size(), 1u);
  EXPECT_EQ(exact->WrittenReports()[0].size(), 256u);
}

TEST(SendPath, RefusedWritesAreDroppedQuietly) {
  Bench b;
  ASSERT_TRUE(b.FirstScan());
  Driver driver = b.PlugDriver();
  ASSERT_TRUE(b.Identified());
  driver.Device->SetFailWrites(true);
  b.Ticks(5);
  b.Click("Btn_ReadSettings");
  b.Click("Btn_SaveParams");
  EXPECT_EQ(driver.Device->WriteAttempts(), 8);
  EXPECT_EQ(b.Boxes.Boxes.size(), 1u);  // only the question
  EXPECT_TRUE(b.Session->Connected());
  // Writes that work again are taken again, with nothing asked twice.
  driver.Device->SetFailWrites(false);
  b.Advance(500);
  b.Ticks(1);
  EXPECT_EQ(driver.Device->WriteCount(), 2);
}

}  // namespace
}  // namespace zrv::test
