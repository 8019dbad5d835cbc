#include "modbus/link_verdict.h"

#include <algorithm>

namespace zrv::modbus {

namespace {

LinkVerdict Verdict(const LinkTestInput& in, const std::optional<std::uint16_t>& rise) {
  if (in.Port != PortErrorKind::None) return LinkVerdict::PortError;
  if (in.Answered == 0 && in.Corrupted == 0) {
    // Silence both ways or only one way: the driver's own counter tells which.
    if (!rise) return LinkVerdict::NoAnswer;
    return *rise > 0 ? LinkVerdict::DriverHearsNoAnswer : LinkVerdict::NothingReachesDriver;
  }
  if (in.Answered > 0 && in.Values && in.Values->DisagreeingSetPoints > 0) return LinkVerdict::AnotherDevice;
  if (in.Answered < in.Sent || in.Corrupted > 0) return LinkVerdict::Noisy;
  if (in.EchoSeen) return LinkVerdict::Echo;
  return LinkVerdict::Ok;
}

}  // namespace

LinkTestResult JudgeLinkTest(const LinkTestInput& in) {
  LinkTestResult out;
  out.Echo = in.EchoSeen;
  out.Answered = in.Answered;
  out.Sent = in.Sent;
  out.Corrupted = in.Corrupted;
  out.Port = in.Port;
  if (in.CounterBefore && in.CounterAfter) {
    out.CounterRise = static_cast<std::uint16_t>(*in.CounterAfter - *in.CounterBefore);
  }
  if (!in.RoundTripsUs.empty()) {
    std::vector<std::uint64_t> sorted = in.RoundTripsUs;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t mid = sorted.size() / 2;
    out.MedianRoundTripUs = sorted.size() % 2 == 1 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
    out.MaxRoundTripUs = sorted.back();
  }
  out.Verdict = Verdict(in, out.CounterRise);
  return out;
}

}  // namespace zrv::modbus
