// Command line of the virtual driver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zrv::uhid {

struct DriverOptions {
  std::string Name = "ZRVXXX";
  bool Driver = true;                 // --no-driver leaves only the second device
  bool SecondDevice = false;
  std::string SecondName = "Virtual Pointer";
  bool NumberedReports = true;
  std::int64_t UnplugAfterMs = -1;    // -1: never
  std::int64_t ReplugAfterMs = -1;
  bool Lively = false;
  std::uint32_t Seed = 1;
  std::uint64_t Flood = 0;
  std::uint32_t ReplyDelayMs = 0;
  std::size_t ShortReplyLength = 0;   // replies cut to this many bytes (0: whole)
  std::uint8_t ShortReplyCode = 0;    // only replies to this code are cut (0: all)
  std::string RecordPath;             // received output reports, one hex line each
  bool Help = false;
};

// Parses the arguments after the program name. False with `error` set on a bad command line.
bool ParseOptions(const std::vector<std::string>& args, DriverOptions& out, std::string& error);

extern const char* const kUsage;

}  // namespace zrv::uhid
