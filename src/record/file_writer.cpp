#include "record/file_writer.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace zrv {

struct FileWriter::Stream {
  FileId Id = 0;
  int Fd = -1;
  std::string Path;
  off_t Committed = 0;       // bytes known to be whole rows on the disk
  std::uint64_t Rows = 0;    // rows within those bytes
  bool Failed = false;
};

namespace {

std::string ErrorText(int error) {
  char buffer[128];
  // The GNU variant returns the message (possibly not in the buffer).
  return strerror_r(error, buffer, sizeof buffer);
}

// Writes all of `bytes`; false with errno set on failure.
bool WriteAll(int fd, const std::string& bytes) {
  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

// Syncs `fd` to the disk. Files that cannot be synced (special files) report EINVAL or EROFS,
// which loses nothing.
bool Sync(int fd) { return ::fdatasync(fd) == 0 || errno == EINVAL || errno == EROFS; }

std::string ParentFolder(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

// Why writing on into an open file would no longer reach what the operator sees: the file was
// removed or replaced, or its folder, the file or the file system was made read-only. Empty when
// all is well.
std::string StreamGoneReason(int fd, const std::string& path) {
  struct stat open {};
  struct stat named {};
  if (::fstat(fd, &open) != 0) return ErrorText(errno);
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
  if (::fstatvfs(fd, &fs) == 0 && (fs.f_flag & ST_RDONLY) != 0) {
    return "the file system is read-only";
  }
  return {};
}

}  // namespace

FileWriter::FileWriter() = default;

FileWriter::~FileWriter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

FileWriter::FileId FileWriter::Submit(Job job) {
  FileId id = job.Id;
  {
    std::lock_guard lock(mutex_);
    if (id == 0) {
      id = nextId_++;
      job.Id = id;
    }
    jobs_.push_back(std::move(job));
    // Started with the first file: a window that never writes one has no extra thread.
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  }
  wake_.notify_one();
  return id;
}

FileWriter::FileId FileWriter::OpenStream(std::string path, std::string header) {
  return Submit(Job{Job::Kind::Open, 0, std::move(path), {}, std::move(header), 0});
}

void FileWriter::Append(FileId id, std::string bytes, std::uint64_t rows) {
  Submit(Job{Job::Kind::Append, id, {}, {}, std::move(bytes), rows});
}

void FileWriter::Close(FileId id) { Submit(Job{Job::Kind::Close, id, {}, {}, {}, 0}); }

FileWriter::FileId FileWriter::SaveFile(std::string folder, std::string fileName,
                                        std::string bytes) {
  return Submit(Job{Job::Kind::Save, 0, std::move(folder), std::move(fileName), std::move(bytes), 0});
}

void FileWriter::TakeOutcomes(std::vector<Outcome>& out) {
  std::lock_guard lock(mutex_);
  for (Outcome& outcome : outcomes_) {
    out.push_back(std::move(outcome));
  }
  outcomes_.clear();
}

void FileWriter::WaitIdle() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return jobs_.empty() && !busy_; });
}

void FileWriter::Report(Outcome outcome) {
  std::lock_guard lock(mutex_);
  outcomes_.push_back(std::move(outcome));
}

void FileWriter::Run() {
  // Named, so that it reads as the recorder's in a list of threads and is not taken for a
  // device's reader or writer.
  pthread_setname_np(pthread_self(), "zrv-files");
  std::vector<Stream> streams;
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
    if (jobs_.empty()) {
      break;  // stopping, and everything handed over is done
    }
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    busy_ = true;
    lock.unlock();
    RunJob(job, streams);
    lock.lock();
    busy_ = false;
    if (jobs_.empty()) {
      idle_.notify_all();
    }
  }
  lock.unlock();
  for (Stream& stream : streams) {
    if (stream.Fd >= 0) ::close(stream.Fd);
  }
}

void FileWriter::RunJob(Job& job, std::vector<Stream>& streams) {
  auto find = [&streams](FileId id) -> Stream* {
    for (Stream& stream : streams) {
      if (stream.Id == id) return &stream;
    }
    return nullptr;
  };
  auto fail = [this](Stream& stream, const std::string& reason) {
    if (stream.Fd >= 0) {
      // Whole rows only: a row cut in half by a full disk goes.
      static_cast<void>(::ftruncate(stream.Fd, stream.Committed));
      ::close(stream.Fd);
      stream.Fd = -1;
    }
    stream.Failed = true;
    Report(Outcome{stream.Id, Outcome::Kind::Failed, stream.Path, reason, stream.Rows});
  };

  switch (job.What) {
    case Job::Kind::Open: {
      streams.push_back(Stream{job.Id, -1, job.Path, 0, 0, false});
      Stream& stream = streams.back();
      stream.Fd = ::open(job.Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (stream.Fd < 0) {
        fail(stream, ErrorText(errno));
        return;
      }
      if (!WriteAll(stream.Fd, job.Bytes) || !Sync(stream.Fd)) {
        fail(stream, ErrorText(errno));
        return;
      }
      stream.Committed = static_cast<off_t>(job.Bytes.size());
      return;
    }
    case Job::Kind::Append: {
      Stream* stream = find(job.Id);
      if (stream == nullptr || stream->Failed) return;
      if (std::string gone = StreamGoneReason(stream->Fd, stream->Path); !gone.empty()) {
        fail(*stream, gone);
        return;
      }
      if (!WriteAll(stream->Fd, job.Bytes) || !Sync(stream->Fd)) {
        fail(*stream, ErrorText(errno));
        return;
      }
      stream->Committed += static_cast<off_t>(job.Bytes.size());
      stream->Rows += job.Rows;
      return;
    }
    case Job::Kind::Close: {
      Stream* stream = find(job.Id);
      if (stream == nullptr) return;
      if (!stream->Failed) {
        const int fd = stream->Fd;
        stream->Fd = -1;
        if (::close(fd) != 0) {
          stream->Failed = true;
          Report(Outcome{stream->Id, Outcome::Kind::Failed, stream->Path, ErrorText(errno), stream->Rows});
        } else {
          Report(Outcome{stream->Id, Outcome::Kind::Closed, stream->Path, {}, stream->Rows});
        }
      }
      streams.erase(std::find_if(streams.begin(), streams.end(),
                                 [&](const Stream& s) { return s.Id == job.Id; }));
      return;
    }
    case Job::Kind::Save: {
      Outcome outcome{job.Id, Outcome::Kind::Failed, job.Path, {}, 0};
      std::error_code error;
      std::filesystem::create_directories(job.Path, error);
      if (error) {
        outcome.Reason = error.message();
        Report(std::move(outcome));
        return;
      }
      const std::filesystem::path name(job.Name);
      int fd = -1;
      std::string path;
      for (int attempt = 1; attempt <= 100 && fd < 0; ++attempt) {
        std::string candidate = name.stem().string();
        if (attempt > 1) candidate.append("-").append(std::to_string(attempt));
        candidate += name.extension().string();
        path = (std::filesystem::path(job.Path) / candidate).string();
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) break;
      }
      if (fd < 0) {
        outcome.Reason = ErrorText(errno);
        Report(std::move(outcome));
        return;
      }
      outcome.Path = path;
      const bool written = WriteAll(fd, job.Bytes) && Sync(fd);
      const int writeError = errno;
      if (::close(fd) != 0 || !written) {
        outcome.Reason = ErrorText(written ? errno : writeError);
        ::unlink(path.c_str());  // half a capture would pass for a whole one
        Report(std::move(outcome));
        return;
      }
      outcome.What = Outcome::Kind::Saved;
      Report(std::move(outcome));
      return;
    }
  }
}

}  // namespace zrv
