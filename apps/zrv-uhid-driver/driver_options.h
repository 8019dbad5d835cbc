// Command line of the virtual driver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
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
  // The RS485 side: on a serial port (an adapter, or a pseudo-terminal made elsewhere), or on a
  // pseudo-terminal of its own whose tool end is linked at Rs485PtyLink. At most one of the two.
  std::string Rs485Port;
  std::string Rs485PtyLink;
  bool NoHid = false;                 // the RS485 side alone: no /dev/uhid, no root
  // The driver's starting Modbus settings; unset ones keep the simulated driver's own.
  std::optional<std::uint8_t> SlaveId;
  std::optional<std::uint32_t> Baudrate;
  std::optional<std::uint8_t> Parity;  // 0 none, 1 odd, 2 even
  std::string Rs485Fault;             // one of the line's fault names, empty for none
  bool Help = false;

  bool Rs485() const { return !Rs485Port.empty() || !Rs485PtyLink.empty(); }
};

// Parses the arguments after the program name. False with `error` set on a bad command line.
bool ParseOptions(const std::vector<std::string>& args, DriverOptions& out, std::string& error);

extern const char* const kUsage;

}  // namespace zrv::uhid
