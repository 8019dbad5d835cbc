#include "settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <QJsonArray>
#include <QJsonDocument>

#include <cerrno>
#include <cstring>
#include <set>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace zrv::cli {

namespace {

// A settings file is a few dozen bytes; anything far larger is not one.
constexpr std::size_t kMaxSettingsFileBytes = 64 * 1024;

// What a path is when it is not a regular file, for the message.
const char* KindName(unsigned mode) {
  switch (mode & S_IFMT) {
    case S_IFDIR: return "a folder";
    case S_IFCHR: return "a device";
#ifdef S_IFIFO
    case S_IFIFO: return "a FIFO (named pipe)";
#endif
#ifdef S_IFSOCK
    case S_IFSOCK: return "a socket";
#endif
#ifdef S_IFBLK
    case S_IFBLK: return "a block device";
#endif
    default: return "not a regular file";
  }
}

#ifdef _WIN32
int OpenForReading(const char* path) { return ::_open(path, _O_RDONLY | _O_BINARY); }
long long ReadSome(int fd, char* data, std::size_t size) { return ::_read(fd, data, static_cast<unsigned>(size)); }
void CloseFile(int fd) { ::_close(fd); }
#else
// Non-blocking, so a FIFO put in place of the file between the check and the open cannot hold
// the program; fstat then says what was opened.
int OpenForReading(const char* path) { return ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY); }
long long ReadSome(int fd, char* data, std::size_t size) { return ::read(fd, data, size); }
void CloseFile(int fd) { ::close(fd); }
#endif

bool Refuse(const std::string& path, unsigned mode, std::string& error) {
  const bool regular = (mode & S_IFMT) == S_IFREG;
  if (!regular) error = "the settings file " + path + " is " + KindName(mode) + ", not a regular file";
  return !regular;
}

// Skips one JSON value at `i` (known to be valid), strings and nesting included.
void SkipValue(std::string_view text, std::size_t& i) {
  int depth = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      for (++i; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] == '\\') ++i;
      }
    } else if (c == '{' || c == '[') {
      ++depth;
    } else if (c == '}' || c == ']') {
      if (depth == 0) return;  // the end of the enclosing object
      --depth;
    } else if (c == ',' && depth == 0) {
      return;
    }
  }
}

}  // namespace

std::string RepeatedKey(std::string_view text) {
  std::set<std::string> seen;
  std::size_t i = text.find('{');
  if (i == std::string_view::npos) return {};
  ++i;
  for (;;) {
    const std::size_t open = text.find_first_of("\"}", i);
    if (open == std::string_view::npos || text[open] == '}') return {};
    std::size_t close = open + 1;
    while (close < text.size() && text[close] != '"') close += text[close] == '\\' ? 2U : 1U;
    // Decoded by the JSON reader itself, so "\u0062aud" is "baud".
    const QByteArray token = "[" + QByteArray(text.data() + open, static_cast<qsizetype>(close + 1 - open)) + "]";
    const std::string key = QJsonDocument::fromJson(token).array().at(0).toString().toStdString();
    if (!seen.insert(key).second) return key;
    i = text.find(':', close + 1) + 1;
    SkipValue(text, i);
    if (i >= text.size() || text[i] == '}') return {};
    ++i;  // the comma
  }
}

bool ReadSettingsFile(const std::string& path, ModbusChoice& out, std::string& error) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    error = "cannot read the settings file " + path + ": " + std::strerror(errno);
    return false;
  }
  if (Refuse(path, static_cast<unsigned>(info.st_mode), error)) return false;
  const int fd = OpenForReading(path.c_str());
  if (fd < 0) {
    error = "cannot read the settings file " + path + ": " + std::strerror(errno);
    return false;
  }
  std::string text;
  bool readError = false;
  if (::fstat(fd, &info) != 0 || Refuse(path, static_cast<unsigned>(info.st_mode), error)) {
    if (error.empty()) error = "cannot read the settings file " + path + ": " + std::strerror(errno);
    CloseFile(fd);
    return false;
  }
  char buffer[4096];
  for (;;) {
    const long long n = ReadSome(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = "cannot read the settings file " + path + ": " + std::strerror(errno);
      readError = true;
      break;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > kMaxSettingsFileBytes) break;
  }
  CloseFile(fd);
  if (readError) return false;
  if (text.size() > kMaxSettingsFileBytes) {
    error = "the settings file " + path + " is far too large to be one";
    return false;
  }
  // QJsonDocument keeps the last of repeated keys silently; which one the author meant is unknown.
  if (QJsonDocument::fromJson(QByteArray::fromStdString(text)).isObject()) {
    if (const std::string key = RepeatedKey(text); !key.empty()) {
      error = path + ": \"" + key + "\" is given twice in the settings file";
      return false;
    }
  }
  if (!ParseSettingsJson(text, out, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

}  // namespace zrv::cli
