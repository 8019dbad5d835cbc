#include "link/hid_report_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace zrv {

THidReportWriter::THidReportWriter(IHidPlatform& platform)
    : platform_(platform), wakeup_([this] { DeliverOutcomes(); }) {
  thread_ = std::thread([this] { Run(); });
}

THidReportWriter::~THidReportWriter() {
  Retire();
  if (thread_.joinable()) thread_.join();
}

THidReportWriter::Posted THidReportWriter::Post(HidHandle handle, const std::uint8_t* report,
                                                std::size_t length, Kind kind, std::uint32_t tag) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (stop_) return Posted::Full;
    if (kind == Kind::Poll && count_ > 0) {
      droppedPolls_.fetch_add(1, std::memory_order_relaxed);
      return Posted::Dropped;
    }
    if (count_ == kSlots) return Posted::Full;
    Slot& slot = slots_[(head_ + count_) % kSlots];
    slot.Length = std::min(length, kMaxReportLength);
    if (slot.Length > 0) std::memcpy(slot.Bytes.data(), report, slot.Length);
    slot.Handle = handle;
    slot.Tag = kind == Kind::Kept ? tag : 0;
    ++count_;
  }
  wake_.notify_one();
  return Posted::Taken;
}

bool THidReportWriter::Busy() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return count_ > 0;
}

void THidReportWriter::Retire() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
}

bool THidReportWriter::Finished() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return finished_;
}

void THidReportWriter::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || count_ > 0; });
    if (stop_) break;
    // The head slot stays taken while it is written: Post fills only slots behind it.
    const Slot& slot = slots_[head_];
    writing_ = true;
    lock.unlock();
    std::uint32_t bytes = 0;
    bool ok = false;
    try {
      ok = platform_.Write(slot.Handle, slot.Bytes.data(), slot.Length, bytes);
    } catch (...) {
      // A device gone a moment ago: the report is lost like a refused one.
    }
    lock.lock();
    (ok ? written_ : refused_).fetch_add(1, std::memory_order_relaxed);
    writing_ = false;
    const bool report = slot.Tag != 0;
    if (report) AddOutcomeLocked(slot.Tag, ok);
    head_ = (head_ + 1) % kSlots;
    --count_;
    if (report) Signal();
  }
  // Whatever still waits will not be written.
  bool report = false;
  for (; count_ > 0; --count_, head_ = (head_ + 1) % kSlots) {
    if (slots_[head_].Tag != 0) {
      AddOutcomeLocked(slots_[head_].Tag, false);
      report = true;
    }
  }
  finished_ = true;
  if (report) Signal();
}

void THidReportWriter::AddOutcomeLocked(std::uint32_t tag, bool written) {
  // Full only when the UI thread has not looked for a long time; the latest outcome matters most.
  if (outcomeCount_ == outcomes_.size()) --outcomeCount_;
  outcomes_[outcomeCount_++] = Outcome{tag, written};
}

void THidReportWriter::Signal() { wakeup_.Signal(); }

void THidReportWriter::DeliverOutcomes() {
  std::array<Outcome, kSlots + 1> outcomes{};
  std::size_t count = 0;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    count = outcomeCount_;
    std::copy_n(outcomes_.begin(), count, outcomes.begin());
    outcomeCount_ = 0;
  }
  // Copied out first: only the local copies are touched while the handlers run.
  const DoneHandler handler = onDone_;
  if (!handler) return;
  for (std::size_t i = 0; i < count; ++i) handler(outcomes[i].Tag, outcomes[i].Written);
}

}  // namespace zrv
