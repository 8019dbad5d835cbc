#include "bus/line_pacer.h"

namespace zrv::bus {

namespace {
constexpr std::uint64_t kBitsPerCharacter = 11;
constexpr std::uint64_t kUsPerSecond = 1000000;
}  // namespace

void LinePacer::SetBaudrate(std::uint32_t baudrate) { baud_ = baudrate == 0 ? 1 : baudrate; }

std::uint64_t LinePacer::CrossedBy(std::uint64_t nowUs) const {
  if (nowUs <= startUs_) return 0;
  return (nowUs - startUs_) * baud_ / (kBitsPerCharacter * kUsPerSecond);
}

void LinePacer::Queue(std::size_t queued, std::uint64_t nowUs) {
  if (Waiting() == 0) {
    // Idle: a new spell starts now, or where the last one's wire time ends if that is later.
    const std::uint64_t lastEnds =
        startUs_ + (static_cast<std::uint64_t>(queued_) * kBitsPerCharacter * kUsPerSecond + baud_ - 1) / baud_;
    startUs_ = nowUs > lastEnds ? nowUs : lastEnds;
    queued_ = 0;
    taken_ = 0;
  }
  queued_ += queued;
}

std::size_t LinePacer::Take(std::uint64_t nowUs) {
  const std::uint64_t crossed = CrossedBy(nowUs);
  const std::size_t upTo = crossed < queued_ ? static_cast<std::size_t>(crossed) : queued_;
  const std::size_t now = upTo > taken_ ? upTo - taken_ : 0;
  taken_ += now;
  return now;
}

std::uint64_t LinePacer::NextDueUs() const {
  const std::uint64_t next = static_cast<std::uint64_t>(taken_) + 1;
  return startUs_ + (next * kBitsPerCharacter * kUsPerSecond + baud_ - 1) / baud_;
}

}  // namespace zrv::bus
