// Renders the window with a crafted device state: both pages, as PNG files in the given folder.
// Usage: ui_screenshots <folder>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTabWidget>
#include <QtGlobal>
#include <cstdio>
#include <vector>

#include "link/platform/sim/sim_hid_platform.h"
#include "link/ttimer.h"
#include "session/driver_session.h"
#include "support/driver_replies.h"
#include "support/manual_time_source.h"
#include "support/run_until.h"
#include "ui/form1.h"
#include "ui/message_boxes.h"

namespace {

class SilentBoxes : public zrv::IMessageBoxes {
 public:
  void Warning(std::string_view, std::string_view) override {}
  bool Question(std::string_view, std::string_view) override { return false; }
  void Error(std::string_view, std::string_view) override {}
};

void Reply(zrv::DriverSession& session, const std::vector<std::uint8_t>& data) {
  zrv::test::Deliver(session, data);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  if (!qEnvironmentVariableIsSet("QT_FONT_DPI")) {
    qputenv("QT_FONT_DPI", "96");
  }
  QApplication app(argc, argv);
  const QDir folder(QString::fromLocal8Bit(argv[1]));

  zrv::ManualTimeSource time;
  SilentBoxes boxes;
  zrv::SimHidPlatform platform;
  zrv::DriverSession session(time, platform);
  zrv::TForm1 form(session, time, boxes);
  form.show();

  // A connected driver: identity (firmware 1.25, hardware 1.03, 30 V, 90 C, PWM 1000, 10 A).
  if (zrv::test::PlugConnectedDriver(platform, session) == nullptr) {
    std::fprintf(stderr, "the simulated driver did not connect\n");
    return 1;
  }
  Reply(session, {10, 125, 'Z', 'R', 'V', '5', '1', '2', 0, 0, 0, 103, 0x30, 0x75, 0x00, 0x00, 0x5A, 0x00,
               0xE8, 0x03, 0x10, 0x27, 0x00, 0x96, 0x00, 0x00, 0x00, 0x01});
  Reply(session, zrv::test::StatusReply(
                     zrv::LiveStatus{3, 0, 1, 0x05, 0x08, 0x23, 1650, 3200, 41, 4250, 8000, 24100, 620, 1000}));
  time.Advance(40);
  form.grab().save(folder.filePath(QStringLiteral("io-status-connected.png")));

  std::vector<std::uint8_t> registers(61, 0);
  registers[0] = 12;
  registers[1] = 3;
  registers[3] = 1;
  registers[4] = 0x39;
  registers[5] = 0x05;
  for (std::size_t i = 11; i + 1 < registers.size(); i += 2) {
    registers[i] = static_cast<std::uint8_t>(i * 7);
  }
  Reply(session, registers);
  Reply(session, {20, 0x00, 0x4B, 0x00, 0x00, 0x02, 0x11});
  Reply(session, {148});
  form.findChild<QTabWidget*>(QStringLiteral("PageControl1"))->setCurrentIndex(1);
  time.Advance(40);
  form.grab().save(folder.filePath(QStringLiteral("modbus.png")));

  // The same driver silent for over a second.
  time.Advance(1080);
  form.grab().save(folder.filePath(QStringLiteral("status-no-answer.png")));

  // A driver whose node this user may not open.
  zrv::SimHidPlatform refusing;
  zrv::SimHidDeviceConfig config;
  config.Path = "/dev/hidraw3";
  config.Instance = 1;
  config.ProductString = u"ZRVXXX";
  config.RefuseReadWrite = true;
  refusing.Plug(config);
  zrv::DriverSession refusedSession(time, refusing);
  zrv::TForm1 refused(refusedSession, time, boxes);
  refused.show();
  zrv::test::RunUntil([&] { return refusedSession.CurrentDevice() != nullptr; });
  refused.grab().save(folder.filePath(QStringLiteral("status-no-access.png")));
  std::printf("written to %s\n", argv[1]);
  // ZRV_SCREENSHOT_HOLD_MS keeps the last window on screen, for a look at the real display.
  const int holdMs = qEnvironmentVariableIntValue("ZRV_SCREENSHOT_HOLD_MS");
  if (holdMs > 0) {
    form.hide();
    QElapsedTimer held;
    held.start();
    while (held.elapsed() < holdMs) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return 0;
}
