#include "record/local_time.h"

namespace zrv {

bool LocalTimeOf(std::time_t time, std::tm& local, long& offsetSeconds) {
#ifdef _WIN32
  if (localtime_s(&local, &time) != 0) return false;
  // The local calendar time read as if it were UTC is ahead of the moment by the zone's offset.
  std::tm copy = local;
  const std::time_t asUtc = _mkgmtime(&copy);
  if (asUtc == static_cast<std::time_t>(-1)) return false;
  offsetSeconds = static_cast<long>(asUtc - time);
  return true;
#else
  if (localtime_r(&time, &local) == nullptr) return false;
  offsetSeconds = local.tm_gmtoff;
  return true;
#endif
}

}  // namespace zrv
