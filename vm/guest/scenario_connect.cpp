// The tool's own order on connecting: install the data handler, then write command 10 at once.
// The reader opens its file on its own thread, and hidraw keeps a report only for the files open
// when it arrives, so the identity reply must not depend on that open having happened yet.
#include "connector.h"
#include "guest_support.h"
#include "link/platform/linux/linux_hid_platform.h"
#include "support/run_until.h"

namespace zrv::vmtest {
namespace {

constexpr int kRounds = 5000;
constexpr int kConnections = 5;

void SendAtConnect(Checks& c) {
  DriverProcess driver({});
  LinuxHidPlatform platform;
  const auto found = WaitForProduct(platform, "ZRVXXX");
  if (!c.That(found.has_value(), "driver not listed")) return;
  c.That(WaitForUdev(found->Path), "udev never handled " + found->Path);

  int answered = 0;
  for (int i = 0; i < kConnections; ++i) {
    Connector connector(platform, u"ZRVXXX");
    connector.SetCommandOnConnect(10);
    if (!c.That(test::RunUntil([&] { return connector.CommandsOnConnect() == 1; }, kRounds),
                "command 10 not written on connecting")) {
      return;
    }
    // Whatever still comes arrives long before this many rounds have passed.
    if (test::RunUntil([&] { return !connector.Received().empty(); }, 2000)) ++answered;
  }
  c.Equal(answered, kConnections, "connections whose identity reply arrived");
}

const ScenarioRegistrar kConnect("connect-send", "command 10 written right after OnData is set is answered",
                                 SendAtConnect);

}  // namespace
}  // namespace zrv::vmtest
