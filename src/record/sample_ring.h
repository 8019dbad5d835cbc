// The last minutes of samples, oldest first, in one block allocated up front: adding a sample
// copies it into place and never touches the heap; the oldest is overwritten when full.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "record/sample.h"

namespace zrv {

// Two neighbouring samples further apart than this have no line between them: replies stopped.
inline constexpr std::chrono::milliseconds kGapThreshold{400};

// True when no line may join `earlier` to `later`: either is a disconnection marker, or the
// replies stopped for longer than kGapThreshold in between.
inline bool IsGap(const Sample& earlier, const Sample& later) {
  return !earlier.IsReading() || !later.IsReading() || later.Time - earlier.Time > kGapThreshold;
}

class SampleRing {
 public:
  // 10 minutes at 25 samples a second is 15000; the rest is headroom for a faster driver.
  static constexpr std::size_t kDefaultCapacity = 16384;

  explicit SampleRing(std::size_t capacity = kDefaultCapacity);

  // Samples must come in time order (they do: a steady clock, one thread).
  void Push(const Sample& sample) noexcept {
    std::size_t slot = start_ + size_;
    if (slot >= capacity_) slot -= capacity_;
    samples_[slot] = sample;
    if (size_ < capacity_) {
      ++size_;
    } else {
      start_ = start_ + 1 == capacity_ ? 0 : start_ + 1;
    }
    ++pushed_;
  }

  std::size_t Size() const { return size_; }
  std::size_t Capacity() const { return capacity_; }
  bool Empty() const { return size_ == 0; }
  // How many samples were ever pushed; grows by one per Push, so it tells what is new.
  std::uint64_t Pushed() const { return pushed_; }

  // index 0 is the oldest sample kept, Size() - 1 the newest.
  const Sample& operator[](std::size_t index) const {
    std::size_t slot = start_ + index;
    if (slot >= capacity_) slot -= capacity_;
    return samples_[slot];
  }
  const Sample& Newest() const { return (*this)[size_ - 1]; }

  // Index of the first sample at or after `time` (Size() when there is none).
  std::size_t FirstAtOrAfter(SteadyTime time) const;
  // Index of the sample nearest to `time` (Size() when the ring is empty).
  std::size_t Nearest(SteadyTime time) const;

  void Clear() { start_ = size_ = 0; }

 private:
  std::unique_ptr<Sample[]> samples_;
  std::size_t capacity_;
  std::size_t start_ = 0;
  std::size_t size_ = 0;
  std::uint64_t pushed_ = 0;
};

}  // namespace zrv
