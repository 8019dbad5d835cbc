// For tests: the few C library calls of POSIX that Windows spells differently (the environment,
// the time zone, a fresh scratch folder).
#pragma once

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace zrv::test {

inline void SetEnv(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value);
#else
  setenv(name, value, 1);
#endif
}

inline void UnsetEnv(const char* name) {
#ifdef _WIN32
  _putenv_s(name, "");  // an empty value removes the variable
#else
  unsetenv(name);
#endif
}

// After TZ changed.
inline void ReadZoneAgain() {
#ifdef _WIN32
  _tzset();
#else
  tzset();
#endif
}

// A new empty folder in the system's temporary folder; empty path when none could be made.
inline std::filesystem::path MakeScratchFolder(const std::string& prefix) {
  std::error_code ignored;
  std::random_device seed;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path candidate =
        std::filesystem::temp_directory_path(ignored) / (prefix + "-" + std::to_string(seed()));
    if (std::filesystem::create_directory(candidate, ignored)) return candidate;
  }
  return {};
}

}  // namespace zrv::test
