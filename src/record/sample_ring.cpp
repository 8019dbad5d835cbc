#include "record/sample_ring.h"

namespace zrv {

SampleRing::SampleRing(std::size_t capacity)
    : samples_(std::make_unique<Sample[]>(capacity == 0 ? 1 : capacity)),
      capacity_(capacity == 0 ? 1 : capacity) {}

std::size_t SampleRing::FirstAtOrAfter(SteadyTime time) const {
  std::size_t low = 0;
  std::size_t high = size_;
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    if ((*this)[middle].Time < time) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low;
}

std::size_t SampleRing::Nearest(SteadyTime time) const {
  if (size_ == 0) return 0;
  const std::size_t after = FirstAtOrAfter(time);
  if (after == 0) return 0;
  if (after == size_) return size_ - 1;
  const auto before = (*this)[after - 1].Time;
  return time - before <= (*this)[after].Time - time ? after - 1 : after;
}

}  // namespace zrv
