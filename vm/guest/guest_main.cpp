// The VM test's guest program: runs the named scenarios (all but the internal ones when none is
// named) against the real kernel and prints one line per scenario and one result line. Built
// twice: without widgets (zrv-vm-guest) and with the window's widgets (zrv-vm-window).
#ifdef ZRV_VM_WINDOW
#include <QApplication>
#else
#include <QCoreApplication>
#endif
#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "guest_support.h"

int main(int argc, char** argv) {
#ifdef ZRV_VM_WINDOW
  QApplication app(argc, argv);
#else
  QCoreApplication app(argc, argv);
#endif
  std::vector<std::string> wanted(argv + 1, argv + argc);
  // "--child": the other half of a scenario, run by it; it reports through its exit status and
  // its lines are detail only.
  const bool child = !wanted.empty() && wanted.front() == "--child";
  if (child) wanted.erase(wanted.begin());

  int run = 0;
  std::vector<std::string> failed;
  for (const zrv::vmtest::Scenario& scenario : zrv::vmtest::Scenarios()) {
    const bool named = std::find(wanted.begin(), wanted.end(), scenario.Name) != wanted.end();
    if (wanted.empty() ? scenario.Internal : !named) continue;
    ++run;
    const char* prefix = child ? "    child " : "VMTEST CASE ";
    zrv::vmtest::Checks checks;
    try {
      scenario.Run(checks);
    } catch (const std::exception& e) {
      checks.That(false, std::string("exception: ") + e.what());
    }
    if (checks.Failures().empty()) {
      std::printf("%s%s: PASS (%s)\n", prefix, scenario.Name.c_str(), scenario.Title.c_str());
    } else {
      failed.push_back(scenario.Name);
      std::printf("%s%s: FAIL (%s)\n", prefix, scenario.Name.c_str(), scenario.Title.c_str());
      for (const std::string& f : checks.Failures()) std::printf("    %s\n", f.c_str());
    }
    std::fflush(stdout);
  }

  if (run == 0) {
    if (child) return 1;
    std::printf("VMTEST RESULT: FAIL no scenario matched\n");
    return 1;
  }
  if (child) return failed.empty() ? 0 : 1;
  if (failed.empty()) {
    std::printf("VMTEST RESULT: PASS %d/%d\n", run, run);
    return 0;
  }
  std::string names;
  for (const std::string& n : failed) names += " " + n;
  std::printf("VMTEST RESULT: FAIL %d/%d passed; failed:%s\n", run - static_cast<int>(failed.size()), run,
              names.c_str());
  return 1;
}
