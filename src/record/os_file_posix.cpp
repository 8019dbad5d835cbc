#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "record/os_file.h"

namespace zrv {

namespace {

std::string ErrorText(int error) {
  char buffer[128];
  // The GNU variant returns the message (possibly not in the buffer).
  return strerror_r(error, buffer, sizeof buffer);
}

std::string ParentFolder(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

}  // namespace

OsFile::~OsFile() {
  if (fd_ >= 0) ::close(fd_);
}

OsFile::OsFile(OsFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), error_(std::move(other.error_)), exists_(other.exists_) {}

OsFile& OsFile::operator=(OsFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    error_ = std::move(other.error_);
    exists_ = other.exists_;
  }
  return *this;
}

void OsFile::Fail() {
  const int error = errno;
  exists_ = error == EEXIST;
  error_ = ErrorText(error);
}

bool OsFile::Open(const std::string& path, Create how) {
  const int flags = how == Create::New ? O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC
                                       : O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
  fd_ = ::open(path.c_str(), flags, 0644);
  if (fd_ < 0) {
    Fail();
    return false;
  }
  return true;
}

bool OsFile::IsOpen() const { return fd_ >= 0; }

bool OsFile::WriteAll(const std::string& bytes) {
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd_, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail();
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      Fail();
      return false;
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

bool OsFile::Sync() {
  // Special files report EINVAL or EROFS.
  if (::fdatasync(fd_) == 0 || errno == EINVAL || errno == EROFS) return true;
  Fail();
  return false;
}

void OsFile::TruncateTo(std::uint64_t size) {
  static_cast<void>(::ftruncate(fd_, static_cast<off_t>(size)));
}

bool OsFile::Close() {
  const int fd = std::exchange(fd_, -1);
  if (::close(fd) == 0) return true;
  Fail();
  return false;
}

std::string OsFile::GoneReason(const std::string& path) {
  struct stat open {};
  struct stat named {};
  if (::fstat(fd_, &open) != 0) return ErrorText(errno);
  if (::stat(path.c_str(), &named) != 0 || named.st_dev != open.st_dev ||
      named.st_ino != open.st_ino) {
    return "the file was removed";
  }
  if (S_ISREG(open.st_mode) && (open.st_mode & 0222) == 0) {
    return "the file was made read-only";
  }
  struct stat folder {};
  if (::stat(ParentFolder(path).c_str(), &folder) != 0) {
    return "the folder was removed";
  }
  if ((folder.st_mode & 0222) == 0) {
    return "the folder was made read-only";
  }
  struct statvfs fs {};
  if (::fstatvfs(fd_, &fs) == 0 && (fs.f_flag & ST_RDONLY) != 0) {
    return "the file system is read-only";
  }
  return {};
}

void OsFile::Remove(const std::string& path) { ::unlink(path.c_str()); }

void OsFile::NameThisThread(const char* name) { pthread_setname_np(pthread_self(), name); }

}  // namespace zrv
