// For tests: the few C library calls of POSIX that Windows spells differently (the environment,
// the time zone, a fresh scratch folder).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
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

// Whether this Windows program runs under wine rather than on Windows.
inline bool UnderWine() {
#ifdef _WIN32
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

// A new empty folder in the system's temporary folder; empty path when none could be made. Kept
// short: some tests show the path in a status line of fixed width, and Windows' temporary folder
// is longer than /tmp.
inline std::filesystem::path MakeScratchFolder(const std::string& prefix) {
  std::error_code ignored;
  std::random_device seed;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "-%06x", static_cast<unsigned>(seed() & 0xFFFFFFu));
    const std::filesystem::path candidate = std::filesystem::temp_directory_path(ignored) / (prefix + suffix);
    if (std::filesystem::create_directory(candidate, ignored)) return candidate;
  }
  return {};
}

}  // namespace zrv::test
