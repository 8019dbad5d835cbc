// All file work of the recorder on a thread of its own, so that neither a slow or full disk nor a
// vanished folder can hold up the window: the UI thread only hands over finished bytes and later
// picks up what came of them.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zrv {

class FileWriter {
 public:
  using FileId = std::uint64_t;

  struct Outcome {
    enum class Kind : std::uint8_t {
      Failed,  // the stream or file is given up; nothing more is written to it
      Closed,  // a stream ended normally
      Saved,   // a whole file was written
    };
    FileId Id = 0;
    Kind What = Kind::Failed;
    std::string Path;             // the file (for Saved: the name actually used)
    std::string Reason;           // why it failed, for the operator
    std::uint64_t RowsKept = 0;   // rows of the stream that are safely in the file
    bool Started = true;          // the stream's file was opened (false: nothing was written)
    bool Vanished = false;        // the file or its folder was removed: no row is kept
  };

  // The thread starts with the first job.
  FileWriter();
  // Finishes every job already handed over, then ends the thread.
  ~FileWriter();
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // A file that rows are appended to: created (or emptied: the operator chose it), then `header`.
  FileId OpenStream(std::string path, std::string header);
  // Whole rows, `rows` of them; written and synced to the disk before the next job. A failure
  // cuts the file back to its last whole chunk, so every row before stays readable.
  void Append(FileId id, std::string bytes, std::uint64_t rows);
  void Close(FileId id);

  // A complete new file in `folder` (created if missing); `fileName` gets "-2", "-3"... before its
  // extension when the name is taken. Never overwrites. One attempt: a failure is reported, not
  // retried.
  FileId SaveFile(std::string folder, std::string fileName, std::string bytes);

  // What came of the jobs since the last call, in order; appended to `out`.
  void TakeOutcomes(std::vector<Outcome>& out);
  // Waits until every job handed over so far has run (for tests and orderly ends).
  void WaitIdle();

 private:
  struct Job {
    enum class Kind : std::uint8_t { Open, Append, Close, Save } What;
    FileId Id;
    std::string Path;    // Open: file; Save: folder
    std::string Name;    // Save: file name
    std::string Bytes;
    std::uint64_t Rows = 0;
  };
  struct Stream;

  FileId Submit(Job job);
  void Run();
  void RunJob(Job& job, std::vector<Stream>& streams);
  void Report(Outcome outcome);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<Job> jobs_;
  std::vector<Outcome> outcomes_;
  FileId nextId_ = 1;
  bool busy_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace zrv
