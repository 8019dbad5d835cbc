// The tool's own order on connecting: the session installs its data handler, then writes command
// 10 at once. The reader opens its file on its own thread, and hidraw keeps a report only for the
// files open when it arrives, so the identity reply must not depend on that open having happened
// yet.
#include <fstream>
#include <string>

#include "guest_support.h"
#include "link/platform/linux/linux_hid_platform.h"
#include "link/ttimer.h"
#include "session/driver_session.h"
#include "session_watch.h"
#include "support/run_until.h"

namespace zrv::vmtest {
namespace {

constexpr int kRounds = 5000;
constexpr int kConnections = 5;
constexpr const char* kRecordPath = "/tmp/connect-send.rec";

// Identity requests the driver recorded: whole reports of ID 1, code 10.
int IdentityRequestsRecorded() {
  std::ifstream in(kRecordPath);
  int count = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("OUT 64 010a", 0) == 0) ++count;
  }
  return count;
}

void SendAtConnect(Checks& c) {
  std::remove(kRecordPath);
  DriverProcess driver({"--record", kRecordPath});
  LinuxHidPlatform platform;
  const auto found = WaitForProduct(platform, "ZRVXXX");
  if (!c.That(found.has_value(), "driver not listed")) return;
  c.That(WaitForUdev(found->Path), "udev never handled " + found->Path);

  int answered = 0;
  for (int i = 0; i < kConnections; ++i) {
    DriverSession session(RealTimeSource(), platform);
    SessionWatch watch(session);
    if (!c.That(test::RunUntil([&] { return watch.Scans() >= 1 && session.Connected(); }, kRounds),
                "not connected on the first scan")) {
      return;
    }
    // Whatever still comes arrives long before this many rounds have passed.
    if (test::RunUntil([&] { return session.Replies(CommandCode::ReadIdentity) >= 1; }, 2000)) {
      ++answered;
      c.Equal(watch.Identities(), 1, "identity replies of this connection");
      c.That(session.Polling(), "no polling after the identity reply");
    }
  }
  c.Equal(answered, kConnections, "connections whose identity reply arrived");
  driver.Stop();  // the record is whole once the driver has ended
  c.Equal(IdentityRequestsRecorded(), kConnections, "identity requests the driver received");
}

const ScenarioRegistrar kConnect("connect-send", "command 10 written by the session on connecting is answered",
                                 SendAtConnect);

}  // namespace
}  // namespace zrv::vmtest
