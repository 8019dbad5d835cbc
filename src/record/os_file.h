// One file of the recorder's file thread on the operating system's own calls: what the writer needs
// beyond a stream of the standard library: a sync to the disk, cutting a file back to a size, an
// exclusive create, and noticing that the file or its folder went away while it stayed open.
// Failures leave a text for the operator in Error().
#pragma once

#include <cstdint>
#include <string>

namespace zrv {

class OsFile {
 public:
  enum class Create : std::uint8_t {
    Truncate,  // made, or emptied when it is there: a regular file no other OsFile is writing
    New,       // made; fails with AlreadyExists() when the name is taken
  };

  OsFile() = default;
  ~OsFile();
  OsFile(const OsFile&) = delete;
  OsFile& operator=(const OsFile&) = delete;
  OsFile(OsFile&& other) noexcept;
  OsFile& operator=(OsFile&& other) noexcept;

  // Paths are UTF-8.
  bool Open(const std::string& path, Create how);
  bool IsOpen() const;
  // All of `bytes`, or false.
  bool WriteAll(const std::string& bytes);
  // To the disk. Files that cannot be synced (special files) pass: nothing is lost there.
  bool Sync();
  // Best effort: cuts the file back to `size` bytes.
  void TruncateTo(std::uint64_t size);
  // False when closing reported an error (the file is closed either way).
  bool Close();
  // Why writing on would no longer reach what the operator sees at `path`: the file was removed or
  // replaced, it or its folder or the file system was made read-only. Empty when all is well.
  std::string GoneReason(const std::string& path);

  const std::string& Error() const { return error_; }
  bool AlreadyExists() const { return exists_; }
  // GoneReason found the file or its folder removed: what was written went with it.
  bool Vanished() const { return vanished_; }

  static void Remove(const std::string& path);
  // Names the calling thread for lists of threads (debuggers, top).
  static void NameThisThread(const char* name);

 private:
  void Fail();  // Error() from the last system error

#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
  std::string error_;
  bool exists_ = false;
  bool vanished_ = false;
#ifndef _WIN32
  // Read-only already when opened (writing still works, e.g. as root): not a change to report.
  bool fileReadOnlyAtOpen_ = false;
  bool folderReadOnlyAtOpen_ = false;
#endif
};

}  // namespace zrv
