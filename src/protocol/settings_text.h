// The driver's Modbus settings as a person types them ("3", "19200", "even"), checked against what
// the tool offers. zrv-cli and the virtual driver take them alike and refuse them in the same
// words, which scripts and tests compare.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zrv {

// A whole number from `low` to `high`, strict: no signs, blanks or trailing characters. The
// refusal names the value as `name` ("--timeout", "the slave id").
bool ParseBoundedNumber(std::string_view name, std::string_view text, long long low, long long high, long long& out,
                        std::string& error);

bool ParseSlaveId(std::string_view text, std::uint8_t& out, std::string& error);
bool ParseBaud(std::string_view text, std::uint32_t& out, std::string& error);
bool ParseParity(std::string_view text, std::uint8_t& out, std::string& error);

std::string_view ParityName(std::uint8_t parity);  // "none", "odd", "even", or "" outside 0..2
std::string OfferedBaudList();                    // "9600, 19200, 38400, 57600, 115200"

}  // namespace zrv
