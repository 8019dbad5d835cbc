#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
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

const char* KindName(mode_t mode) {
  switch (mode & S_IFMT) {
    case S_IFDIR: return "a folder";
    case S_IFCHR:
    case S_IFBLK: return "a device";
    case S_IFIFO: return "a FIFO (named pipe)";
    case S_IFSOCK: return "a socket";
    default: return "not a regular file";
  }
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
    : fd_(std::exchange(other.fd_, -1)),
      error_(std::move(other.error_)),
      exists_(other.exists_),
      vanished_(other.vanished_),
      fileReadOnlyAtOpen_(other.fileReadOnlyAtOpen_),
      folderReadOnlyAtOpen_(other.folderReadOnlyAtOpen_) {}

OsFile& OsFile::operator=(OsFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    error_ = std::move(other.error_);
    exists_ = other.exists_;
    vanished_ = other.vanished_;
    fileReadOnlyAtOpen_ = other.fileReadOnlyAtOpen_;
    folderReadOnlyAtOpen_ = other.folderReadOnlyAtOpen_;
  }
  return *this;
}

void OsFile::Fail() {
  const int error = errno;
  exists_ = error == EEXIST;
  error_ = ErrorText(error);
}

bool OsFile::Open(const std::string& path, Create how) {
  struct stat info {};
  if (how == Create::Truncate && ::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    error_ = std::string("it is ") + KindName(info.st_mode) + ", not a regular file";
    return false;
  }
  // Not emptied at open: only once it is known to be a regular file nobody else writes. Non-
  // blocking, so a FIFO put in its place meanwhile cannot hold the thread.
  const int flags = how == Create::New ? O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC
                                       : O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  fd_ = ::open(path.c_str(), flags, 0644);
  if (fd_ < 0) {
    Fail();
    return false;
  }
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    error_ = std::string("it is ") + KindName(info.st_mode) + ", not a regular file";
    ::close(std::exchange(fd_, -1));
    return false;
  }
  if (how == Create::Truncate) {
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      error_ = errno == EWOULDBLOCK ? "another recording is writing to this file" : ErrorText(errno);
      ::close(std::exchange(fd_, -1));
      return false;
    }
    if (::ftruncate(fd_, 0) != 0 || ::fcntl(fd_, F_SETFL, 0) != 0) {
      Fail();
      ::close(std::exchange(fd_, -1));
      return false;
    }
  }
  fileReadOnlyAtOpen_ = (info.st_mode & 0222) == 0;
  struct stat folder {};
  folderReadOnlyAtOpen_ = ::stat(ParentFolder(path).c_str(), &folder) == 0 && (folder.st_mode & 0222) == 0;
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
    vanished_ = true;
    return "the file was removed or replaced";
  }
  if (S_ISREG(open.st_mode) && (open.st_mode & 0222) == 0 && !fileReadOnlyAtOpen_) {
    return "the file was made read-only";
  }
  struct stat folder {};
  if (::stat(ParentFolder(path).c_str(), &folder) != 0) {
    vanished_ = true;
    return "the folder was removed";
  }
  if ((folder.st_mode & 0222) == 0 && !folderReadOnlyAtOpen_) {
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
