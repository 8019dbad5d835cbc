// Writes a device's output reports on a thread of its own. A write to a HID device is synchronous:
// a device that stops taking output reports blocks the writing thread until the kernel gives up
// (seconds). That thread is this one, never the UI thread. Made, fed and stopped on the UI thread.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "link/platform/hid_platform.h"
#include "link/thread_wakeup.h"


namespace zrv {

class THidReportWriter {
 public:
  enum class Kind {
    Poll,  // dropped while an earlier report is still being written or waiting: the next poll asks again
    Kept,  // never dropped: waits its turn behind the reports before it
  };
  enum class Posted { Taken, Dropped, Full };

  // Called on the UI thread for every Kept report posted with a non-zero tag, once it has been
  // written (true) or refused, or can no longer be written (false). It must not destroy the
  // writer (nor the device that owns it).
  using DoneHandler = std::function<void(std::uint32_t tag, bool written)>;

  static constexpr std::size_t kMaxReportLength = 256;
  // Kept reports come from the operator's clicks; this many waiting is already far behind.
  static constexpr std::size_t kSlots = 8;

  explicit THidReportWriter(IHidPlatform& platform);
  // Stops the thread and waits for it: call only while not Busy, or from where waiting for the
  // report being written is acceptable. Outcomes not yet delivered are dropped.
  ~THidReportWriter();
  THidReportWriter(const THidReportWriter&) = delete;
  THidReportWriter& operator=(const THidReportWriter&) = delete;

  void SetOnDone(DoneHandler handler) { onDone_ = std::move(handler); }

  // Copies one whole output report (report ID byte first) for writing on `handle`, and returns at
  // once. Reports are written in the order they were taken. No allocation.
  Posted Post(HidHandle handle, const std::uint8_t* report, std::size_t length, Kind kind,
              std::uint32_t tag);

  // A report is being written or waits to be.
  bool Busy() const;
  // Takes nothing more: the reports still waiting are reported not written, the one being written
  // finishes. Returns at once.
  void Retire();
  // The thread has ended (after Retire).
  bool Finished() const;
  // UI thread: delivers the outcomes gathered so far (done by itself from the event loop; call it
  // before destroying a finished writer so that none is lost).
  void DeliverOutcomes();

  std::uint64_t Written() const { return written_.load(std::memory_order_relaxed); }
  std::uint64_t Refused() const { return refused_.load(std::memory_order_relaxed); }
  std::uint64_t DroppedPolls() const { return droppedPolls_.load(std::memory_order_relaxed); }

 private:
  struct Slot {
    std::array<std::uint8_t, kMaxReportLength> Bytes{};
    std::size_t Length = 0;
    HidHandle Handle = kInvalidHidHandle;
    std::uint32_t Tag = 0;
  };
  struct Outcome {
    std::uint32_t Tag = 0;
    bool Written = false;
  };

  void Run();
  void AddOutcomeLocked(std::uint32_t tag, bool written);  // mutex_ held
  void Signal();

  IHidPlatform& platform_;
  DoneHandler onDone_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::array<Slot, kSlots> slots_;        // guarded by mutex_, except the head slot while writing
  std::size_t head_ = 0;                  // guarded by mutex_
  std::size_t count_ = 0;                 // guarded by mutex_; the head is being written when writing_
  bool writing_ = false;                  // guarded by mutex_
  bool stop_ = false;                     // guarded by mutex_
  bool finished_ = false;                 // guarded by mutex_
  std::array<Outcome, kSlots + 1> outcomes_{};  // guarded by mutex_
  std::size_t outcomeCount_ = 0;                // guarded by mutex_

  std::atomic<std::uint64_t> written_{0};
  std::atomic<std::uint64_t> refused_{0};
  std::atomic<std::uint64_t> droppedPolls_{0};

  TThreadWakeup wakeup_;  // the thread tells the UI thread that outcomes wait
  std::thread thread_;
};

}  // namespace zrv
