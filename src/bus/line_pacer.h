// The pace of a serial line: how many characters of a queue the wire has carried by a given time,
// at 11 bits a character. What a simulated line uses so that its timings mean something, since a
// pseudo-terminal delivers everything at once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zrv::bus {

class LinePacer {
 public:
  explicit LinePacer(std::uint32_t baudrate = 9600) : baud_(baudrate) {}
  void SetBaudrate(std::uint32_t baudrate);
  // `queued` more characters to carry, at `nowUs`. A line that was idle starts now; one that is
  // busy carries them after what it already has.
  void Queue(std::size_t queued, std::uint64_t nowUs);
  // How many of the queued characters have fully crossed the wire by `nowUs` and were not yet
  // taken; they count as taken once returned.
  std::size_t Take(std::uint64_t nowUs);
  // Characters queued and not yet taken.
  std::size_t Waiting() const { return queued_ - taken_; }
  // When the next character will have crossed, for a timer.
  std::uint64_t NextDueUs() const;

 private:
  std::uint64_t CrossedBy(std::uint64_t nowUs) const;
  std::uint32_t baud_;
  std::uint64_t startUs_ = 0;  // when the first character of this busy spell started
  std::size_t queued_ = 0;     // characters of this spell
  std::size_t taken_ = 0;
};

}  // namespace zrv::bus
