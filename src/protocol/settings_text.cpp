#include "settings_text.h"

#include <charconv>

#include "reply_decoder.h"

namespace zrv {

namespace {

bool ParseUnsigned(std::string_view text, unsigned long long& out) {
  if (text.empty() || text.size() > 18) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

bool ParseBoundedNumber(std::string_view name, std::string_view text, long long low, long long high, long long& out,
                        std::string& error) {
  unsigned long long value = 0;
  if (!ParseUnsigned(text, value) || value < static_cast<unsigned long long>(low) ||
      value > static_cast<unsigned long long>(high)) {
    error = std::string(name) + " must be a whole number from " + std::to_string(low) + " to " +
            std::to_string(high) + ", not \"" + std::string(text) + "\"";
    return false;
  }
  out = static_cast<long long>(value);
  return true;
}

std::string OfferedBaudList() {
  std::string list;
  for (const std::uint32_t baud : kOfferedBaudRates) {
    if (!list.empty()) list += ", ";
    list += std::to_string(baud);
  }
  return list;
}

std::string_view ParityName(std::uint8_t parity) {
  switch (parity) {
    case 0:
      return "none";
    case 1:
      return "odd";
    case 2:
      return "even";
    default:
      return "";
  }
}

bool ParseSlaveId(std::string_view text, std::uint8_t& out, std::string& error) {
  long long value = 0;
  if (!ParseBoundedNumber("the slave id", text, kLowestSlaveId, kHighestSlaveId, value, error)) return false;
  out = static_cast<std::uint8_t>(value);
  return true;
}

bool ParseBaud(std::string_view text, std::uint32_t& out, std::string& error) {
  unsigned long long value = 0;
  if (ParseUnsigned(text, value) && value <= UINT32_MAX && IsOfferedBaudRate(static_cast<std::uint32_t>(value))) {
    out = static_cast<std::uint32_t>(value);
    return true;
  }
  error = "the baud rate must be one of " + OfferedBaudList() + ", not \"" + std::string(text) + "\"";
  return false;
}

bool ParseParity(std::string_view text, std::uint8_t& out, std::string& error) {
  for (std::uint8_t p = 0; p <= kHighestParity; ++p) {
    if (text == ParityName(p)) {
      out = p;
      return true;
    }
  }
  error = "the parity must be none, odd or even, not \"" + std::string(text) + "\"";
  return false;
}

}  // namespace zrv
