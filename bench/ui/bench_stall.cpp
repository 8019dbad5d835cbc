// The window's event loop while the driver stops taking output reports: the real window on the
// real clock, polling a simulated driver whose writes stall for five seconds (a Save is clicked
// in the middle). Prints the longest gap between two turns of the UI thread's event loop, and,
// for comparison, how long one synchronous write to the stalled device holds its caller.
// Usage: bench_stall [stall in ms, default 5000]
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "link/hid_device.h"
#include "link/platform/sim/sim_hid_platform.h"
#include "link/ttimer.h"
#include "sim/sim_driver_model.h"
#include "session/driver_session.h"
#include "ui/form1.h"
#include "ui/recorder_page.h"
#include "ui/message_boxes.h"

namespace {

class YesBoxes : public zrv::IMessageBoxes {
 public:
  void Warning(std::string_view, std::string_view) override {}
  bool Question(std::string_view, std::string_view) override { return true; }
  void Error(std::string_view, std::string_view) override {}
};

class PaintCounter : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++Paints;
    return false;
  }
  int Paints = 0;
};

// Runs the event loop until `done` holds or `limitMs` have passed.
bool RunFor(const std::function<bool()>& done, int limitMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < limitMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return done();
}

}  // namespace

int main(int argc, char** argv) {
  const int stallMs = argc > 1 ? std::max(100, std::atoi(argv[1])) : 5000;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  zrv::SimHidPlatform platform;
  YesBoxes boxes;
  zrv::DriverSession session(zrv::RealTimeSource(), platform);
  zrv::TForm1 form(session, zrv::RealTimeSource(), boxes);
  form.show();

  auto model = std::make_shared<zrv::SimDriverModel>();
  model->Driver().SetLively(true);
  zrv::SimHidDeviceConfig config;
  config.Path = "/sim/driver";
  config.Instance = 1;
  config.ProductString = u"ZRVXXX";
  config.RecordWrites = false;
  const auto device = zrv::SimDriverModel::PlugDriver(platform, config, model);
  if (!RunFor([&] { return session.Polling(); }, 10000)) {
    std::fprintf(stderr, "bench_stall: the driver was not identified\n");
    return 1;
  }

  PaintCounter paints;
  app.installEventFilter(&paints);
  int ticks = 0;
  // The recorder page's 40 ms timer ticks with the live view's, from the same moment on.
  zrv::TTimer& windowTimer = form.findChild<zrv::RecorderPage*>()->Timer;
  const auto tick = windowTimer.OnTimer;
  windowTimer.OnTimer = [&] {
    ++ticks;
    tick();
  };

  // A 1 ms probe: the gap between two of its turns is how long the loop was held.
  QElapsedTimer clock;
  clock.start();
  qint64 last = clock.nsecsElapsed();
  qint64 longest = 0;
  QTimer probe;
  probe.setTimerType(Qt::PreciseTimer);
  probe.setInterval(1);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    longest = std::max(longest, now - last);
    last = now;
  });
  probe.start();

  device->SetWriteStall(stallMs);
  bool saved = false;
  QTimer::singleShot(stallMs / 5, [&] {
    form.Btn_SaveParamsClick();
    saved = true;
  });
  RunFor([] { return false; }, stallMs + 500);
  probe.stop();
  const int stallTicks = ticks;
  const int stallPaints = paints.Paints;
  const zrv::THidDevice* current = session.CurrentDevice();
  const unsigned long long dropped =
      current != nullptr && current->Writer() != nullptr ? current->Writer()->DroppedPolls() : 0;

  // The writer gets the device back: the settings report arrives once.
  device->SetWriteStall(0);
  device->ReleaseStalledWrites();
  RunFor([&] { return model->Driver().CommandCount(148) > 0; }, 5000);

  std::printf("Event loop, longest stall while the driver takes no reports for %d ms: %.1f ms "
              "(%d window ticks, %d paints, %llu polls dropped)\n",
              stallMs, static_cast<double>(longest) / 1e6, stallTicks, stallPaints, dropped);
  std::printf("Settings reports the driver received after that stall: %llu (Save clicked: %s)\n",
              static_cast<unsigned long long>(model->Driver().CommandCount(148)), saved ? "yes" : "no");

  // For comparison: one write on the calling thread, as every send did before the writer thread.
  device->SetWriteStall(stallMs);
  zrv::THidDevice* writeDevice = session.CurrentDevice();
  if (writeDevice != nullptr) {
    std::vector<std::uint8_t> report(65, 0);
    report[0] = 1;
    report[1] = 11;
    std::uint32_t written = 0;
    QElapsedTimer held;
    held.start();
    static_cast<void>(writeDevice->WriteReport(report.data(), report.size(), written));
    std::printf("One synchronous write to that stalled driver holds its caller: %lld ms\n",
                static_cast<long long>(held.elapsed()));
  }
  device->SetWriteStall(0);
  device->ReleaseStalledWrites();
  app.removeEventFilter(&paints);
  return 0;
}
