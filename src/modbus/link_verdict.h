// The link test's verdict: what a run of reads against the driver over RS485 says about the line,
// from what came back, what the driver's good-frame counter (over USB) did meanwhile, and whether
// the values read agree with the ones USB shows.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "modbus/preview_read.h"

namespace zrv::modbus {

// In the order of their keys; the keys are stable (scripts read them).
enum class LinkVerdict {
  Ok,                    // every request answered, values agree (or there is no USB to compare)
  DriverHearsNoAnswer,   // nothing answered, yet the driver counted good frames
  NothingReachesDriver,  // nothing answered and the driver counted none
  Noisy,                 // some answered, some did not or came back damaged
  Echo,                  // all answered, but the adapter reads back what it sends
  AnotherDevice,         // answers from the driver's address whose values disagree with USB
  PortError,             // the port could not be used at all
  NoAnswer,              // nothing answered; with no counter over USB the two cases above are one
};
inline constexpr std::array<std::string_view, 8> kLinkVerdictKeys = {
    "ok", "driver-hears-no-answer", "nothing-reaches-driver", "noisy",
    "echo", "another-device", "port-error", "no-answer"};
constexpr std::string_view VerdictKey(LinkVerdict v) { return kLinkVerdictKeys[static_cast<std::size_t>(v)]; }

enum class PortErrorKind { None, Missing, Busy, NoAccess, Other };
inline constexpr std::array<std::string_view, 5> kPortErrorKeys = {"none", "missing", "busy", "no-access", "other"};
constexpr std::string_view PortErrorKey(PortErrorKind k) { return kPortErrorKeys[static_cast<std::size_t>(k)]; }

struct LinkTestInput {
  std::uint32_t Sent = 0;
  std::uint32_t Answered = 0;   // frames from the asked slave: answers and exceptions
  std::uint32_t Corrupted = 0;  // CRC errors, short frames, garbage, frames from other senders
  bool EchoSeen = false;        // the adapter read back a request it sent
  std::optional<Agreement> Values;          // none: no USB preview to compare with
  std::optional<std::uint16_t> CounterBefore;  // the driver's good-frame counter over USB
  std::optional<std::uint16_t> CounterAfter;
  PortErrorKind Port = PortErrorKind::None;
  std::vector<std::uint64_t> RoundTripsUs;  // request start to answer end, of the answered ones
};

struct LinkTestResult {
  LinkVerdict Verdict = LinkVerdict::NoAnswer;
  bool Echo = false;  // also told when another verdict wins
  std::uint32_t Answered = 0;
  std::uint32_t Sent = 0;
  std::uint32_t Corrupted = 0;
  std::optional<std::uint16_t> CounterRise;  // modulo 65536, as the counter wraps
  std::optional<std::uint64_t> MedianRoundTripUs;
  std::optional<std::uint64_t> MaxRoundTripUs;
  PortErrorKind Port = PortErrorKind::None;
};

LinkTestResult JudgeLinkTest(const LinkTestInput& input);

}  // namespace zrv::modbus
