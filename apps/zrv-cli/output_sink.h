// Where zrv-cli's results go, with every write checked: a script that reads the exit status must
// never be told all is well when its file was cut by a full disk or a closed output.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <string_view>

namespace zrv::cli {

class OutputSink {
 public:
  virtual ~OutputSink() = default;
  // All of `text`, or false; after a failure nothing more is written.
  virtual bool Write(std::string_view text) = 0;
  // The end of the output: flushed, synced when it is a file, closed. False on an error.
  virtual bool Finish() = 0;
  // True once writing failed.
  bool Failed() const { return failed_; }
  // The reader of a pipe went away (`| head`): nothing is wrong, the output is just not wanted.
  bool ReaderGone() const { return readerGone_; }
  // The system's text for the failure.
  const std::string& Error() const { return error_; }

 protected:
  void Fail(std::string error, bool readerGone = false) {
    failed_ = true;
    readerGone_ = readerGone;
    error_ = std::move(error);
  }

 private:
  bool failed_ = false;
  bool readerGone_ = false;
  std::string error_;
};

// A file descriptor (the process's standard output). When it is a regular file, a failed write
// cuts it back to the end of the last whole write, so no half line or half JSON object is left.
// 1, or -1 when the process was started with its standard output closed (`>&-`).
int StandardOutputFd();

class FdSink : public OutputSink {
 public:
  // The system's write(2); tests pass one that fails part-way.
  using WriteCall = std::function<long long(int fd, const char* data, std::size_t size)>;

  explicit FdSink(int fd, WriteCall write = {});
  bool Write(std::string_view text) override;
  bool Finish() override;

 private:
  void FailWith(int error);

  int fd_;
  WriteCall write_;
  bool regular_ = false;
  long long whole_ = 0;  // for a regular file: the offset after the last whole write
  bool finished_ = false;
};

// A standard stream (the tests' strings): only good() or not.
class StreamSink : public OutputSink {
 public:
  explicit StreamSink(std::ostream& out) : out_(out) {}
  bool Write(std::string_view text) override;
  bool Finish() override;

 private:
  std::ostream& out_;
};

}  // namespace zrv::cli
