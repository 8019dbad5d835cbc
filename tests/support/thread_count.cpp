#include "support/thread_count.h"

#ifdef __linux__
#include <dirent.h>

#include <fstream>
#include <string>
#endif

namespace zrv::test {

#ifdef __linux__
namespace {
std::string ReadLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}
}  // namespace

int ThreadCount() {
  const std::string ours = ReadLine("/proc/self/comm");
  int count = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      if (ReadLine(std::string("/proc/self/task/") + entry->d_name + "/comm") == ours) ++count;
    }
    closedir(dir);
  }
  return count;
}
#else
int ThreadCount() { return -1; }
#endif

}  // namespace zrv::test
