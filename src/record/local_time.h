// The calendar time of the local zone and that zone's offset from UTC at that moment, on each
// operating system's own calls (the C library's are not thread-safe, and Windows' struct tm carries
// no offset).
#pragma once

#include <ctime>

namespace zrv {

// False when the time cannot be represented.
bool LocalTimeOf(std::time_t time, std::tm& local, long& offsetSeconds);

}  // namespace zrv
