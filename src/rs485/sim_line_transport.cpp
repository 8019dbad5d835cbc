#include "rs485/sim_line_transport.h"

#include <utility>
#include <vector>

namespace zrv {

SimLineTransport::SimLineTransport(sim::Rs485Line& line, TimeSource& time, std::function<std::uint64_t()> nowUs)
    : line_(line), poll_(time, 1, false), nowUs_(std::move(nowUs)) {
  poll_.OnTimer = [this] { Poll(); };
}

modbus::PortErrorKind SimLineTransport::Open(const modbus::LineSettings& settings) {
  if (FailOpen && *FailOpen != modbus::PortErrorKind::None) return *FailOpen;
  line_.AdvanceTo(nowUs_());
  line_.SetAdapterSettings(settings);
  line_.TakeReceived();  // what was on the line before the port opened is not heard
  open_ = true;
  return modbus::PortErrorKind::None;
}

void SimLineTransport::Close() {
  open_ = false;
  poll_.SetEnabled(false);
}

bool SimLineTransport::Write(std::span<const std::uint8_t> bytes) {
  if (!open_) return false;
  line_.AdvanceTo(nowUs_());
  line_.Send(bytes);
  poll_.SetEnabled(true);
  return true;
}

void SimLineTransport::Poll() {
  line_.AdvanceTo(nowUs_());
  const std::vector<std::uint8_t> got = line_.TakeReceived();
  if (!line_.NextEventUs()) poll_.SetEnabled(false);
  if (!got.empty() && open_ && OnReceived) OnReceived(got);
}

}  // namespace zrv
