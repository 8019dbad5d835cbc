// Reading a settings file for `modbus set --from`: a regular file only (a FIFO, a device or a
// folder is refused without blocking on it), one JSON object whose keys each appear once.
#pragma once

#include <string>
#include <string_view>

#include "cli_options.h"

namespace zrv::cli {

// False with `error` saying what is wrong: the file's kind, the system's reason it cannot be
// read, a repeated key, or what ParseSettingsJson found.
bool ReadSettingsFile(const std::string& path, ModbusChoice& out, std::string& error);

// The first key that appears twice at the top level of a JSON object (decoded), or empty.
// `text` must already be known to be one valid object.
std::string RepeatedKey(std::string_view text);

}  // namespace zrv::cli
