#include "output_sink.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace zrv::cli {

namespace {

long long SystemWrite(int fd, const char* data, std::size_t size) {
  if (fd < 0) {
    errno = EBADF;
    return -1;
  }
#ifdef _WIN32
  const unsigned chunk = size > 0x40000000U ? 0x40000000U : static_cast<unsigned>(size);
  return ::_write(fd, data, chunk);
#else
  return ::write(fd, data, size);
#endif
}

}  // namespace

int StandardOutputFd() {
#ifdef _WIN32
  return ::_get_osfhandle(1) == -1 ? -1 : 1;
#else
  return ::fcntl(1, F_GETFD) == -1 ? -1 : 1;
#endif
}

FdSink::FdSink(int fd, WriteCall write) : fd_(fd), write_(write ? std::move(write) : WriteCall(SystemWrite)) {
  struct stat info {};
  if (::fstat(fd_, &info) == 0 && (info.st_mode & S_IFMT) == S_IFREG) {
    regular_ = true;
#ifdef _WIN32
    whole_ = ::_lseeki64(fd_, 0, SEEK_CUR);
#else
    whole_ = ::lseek(fd_, 0, SEEK_CUR);
#endif
  }
}

void FdSink::FailWith(int error) {
#ifdef EPIPE
  if (error == EPIPE) {
    Fail(std::strerror(error), true);
    return;
  }
#endif
  Fail(std::strerror(error));
  // A regular file keeps only whole writes: a cut row or object would pass for a whole one.
  if (regular_ && whole_ >= 0) {
#ifdef _WIN32
    static_cast<void>(::_chsize_s(fd_, whole_));
#else
    static_cast<void>(::ftruncate(fd_, static_cast<off_t>(whole_)));
#endif
  }
}

bool FdSink::Write(std::string_view text) {
  if (Failed()) return false;
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const long long n = write_(fd_, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      FailWith(errno);
      return false;
    }
    if (n == 0) {
      FailWith(ENOSPC);
      return false;
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  whole_ += static_cast<long long>(text.size());
  return true;
}

bool FdSink::Finish() {
  if (finished_ || Failed()) return !Failed();
  finished_ = true;
  // Some file systems report a full disk only when the data reaches it.
#ifndef _WIN32
  if (regular_ && ::fsync(fd_) != 0 && errno != EINVAL) {
    FailWith(errno);
    return false;
  }
  if (::close(fd_) != 0 && errno != EINTR) {
    Fail(std::strerror(errno));
    return false;
  }
#else
  if (regular_ && ::_commit(fd_) != 0) {
    FailWith(errno);
    return false;
  }
#endif
  return true;
}

bool StreamSink::Write(std::string_view text) {
  if (Failed()) return false;
  out_.write(text.data(), static_cast<std::streamsize>(text.size()));
  out_.flush();
  if (!out_.good()) {
    Fail("the output stream failed");
    return false;
  }
  return true;
}

bool StreamSink::Finish() {
  if (Failed()) return false;
  out_.flush();
  if (!out_.good()) Fail("the output stream failed");
  return !Failed();
}

}  // namespace zrv::cli
