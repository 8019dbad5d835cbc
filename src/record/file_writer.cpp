#include "record/file_writer.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "record/os_file.h"

namespace zrv {

namespace {

// Paths travel as UTF-8; on Windows a plain narrow string would be read in the ANSI code page.
std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8Of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace

struct FileWriter::Stream {
  FileId Id = 0;
  OsFile File;
  std::string Path;
  std::uint64_t Committed = 0;  // bytes known to be whole rows on the disk
  std::uint64_t Rows = 0;       // rows within those bytes
  bool Failed = false;
};

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
  OsFile::NameThisThread("zrv-files");
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
  streams.clear();  // closes what is still open
}

void FileWriter::RunJob(Job& job, std::vector<Stream>& streams) {
  auto find = [&streams](FileId id) -> Stream* {
    for (Stream& stream : streams) {
      if (stream.Id == id) return &stream;
    }
    return nullptr;
  };
  auto fail = [this](Stream& stream, const std::string& reason) {
    const bool started = stream.File.IsOpen();
    if (started) {
      // Whole rows only: a row cut in half by a full disk goes.
      stream.File.TruncateTo(stream.Committed);
      stream.File.Close();
    }
    stream.Failed = true;
    const bool vanished = stream.File.Vanished();
    Report(Outcome{stream.Id, Outcome::Kind::Failed, stream.Path, reason, vanished ? 0 : stream.Rows, started,
                   vanished});
  };

  switch (job.What) {
    case Job::Kind::Open: {
      streams.push_back(Stream{job.Id, OsFile(), job.Path, 0, 0, false});
      Stream& stream = streams.back();
      if (!stream.File.Open(job.Path, OsFile::Create::Truncate)) {
        fail(stream, stream.File.Error());
        return;
      }
      if (!stream.File.WriteAll(job.Bytes) || !stream.File.Sync()) {
        fail(stream, stream.File.Error());
        return;
      }
      stream.Committed = job.Bytes.size();
      return;
    }
    case Job::Kind::Append: {
      Stream* stream = find(job.Id);
      if (stream == nullptr || stream->Failed) return;
      if (std::string gone = stream->File.GoneReason(stream->Path); !gone.empty()) {
        fail(*stream, gone);
        return;
      }
      if (!stream->File.WriteAll(job.Bytes) || !stream->File.Sync()) {
        fail(*stream, stream->File.Error());
        return;
      }
      stream->Committed += job.Bytes.size();
      stream->Rows += job.Rows;
      return;
    }
    case Job::Kind::Close: {
      Stream* stream = find(job.Id);
      if (stream == nullptr) return;
      if (!stream->Failed) {
        if (!stream->File.Close()) {
          stream->Failed = true;
          Report(Outcome{stream->Id, Outcome::Kind::Failed, stream->Path, stream->File.Error(), stream->Rows});
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
      std::filesystem::create_directories(PathOf(job.Path), error);
      if (error) {
        outcome.Reason = error.message();
        Report(std::move(outcome));
        return;
      }
      const std::filesystem::path name = PathOf(job.Name);
      OsFile file;
      std::string path;
      for (int attempt = 1; attempt <= 100 && !file.IsOpen(); ++attempt) {
        std::string candidate = Utf8Of(name.stem());
        if (attempt > 1) candidate.append("-").append(std::to_string(attempt));
        candidate += Utf8Of(name.extension());
        path = Utf8Of(PathOf(job.Path) / PathOf(candidate));
        if (!file.Open(path, OsFile::Create::New) && !file.AlreadyExists()) break;
      }
      if (!file.IsOpen()) {
        outcome.Reason = file.Error();
        Report(std::move(outcome));
        return;
      }
      outcome.Path = path;
      const bool written = file.WriteAll(job.Bytes) && file.Sync();
      const std::string writeError = file.Error();
      if (!file.Close() || !written) {
        outcome.Reason = written ? file.Error() : writeError;
        OsFile::Remove(path);  // half a capture would pass for a whole one
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
