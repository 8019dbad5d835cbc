#include "support/run_until.h"

#include <QCoreApplication>
#include <chrono>
#include <thread>

namespace zrv::test {

namespace {
void OneRound() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  QCoreApplication::sendPostedEvents();
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
}
}  // namespace

bool RunUntil(const std::function<bool()>& condition, int maxRounds) {
  for (int round = 0; round < maxRounds; ++round) {
    if (condition()) return true;
    OneRound();
  }
  return condition();
}

void RunRounds(int rounds) {
  for (int round = 0; round < rounds; ++round) OneRound();
}

}  // namespace zrv::test
