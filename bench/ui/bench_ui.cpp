// Figures of the window: time from program start to the first paint, peak resident memory, and
// CPU time over a run of the live view at 25 ticks a second on a steady reading (and, for
// comparison, on a reading that changes every tick).
// Usage: bench_ui [seconds per run, default 20]
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>
#include <QtGlobal>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "link/platform/sim/sim_hid_platform.h"
#include "link/ttimer.h"
#include "session/driver_session.h"
#include "support/driver_replies.h"
#include "ui/application.h"
#include "ui/fonts.h"
#include "ui/form1.h"
#include "ui/message_boxes.h"

namespace {

const auto kProcessStart = std::chrono::steady_clock::now();

double MsSinceStart() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - kProcessStart).count();
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long PeakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

class FirstPaint : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && Ms < 0) {
      Ms = MsSinceStart();
      static_cast<void>(watched);
    }
    return false;
  }
  double Ms = -1;
};

class SilentBoxes : public zrv::IMessageBoxes {
 public:
  void Warning(std::string_view, std::string_view) override {}
  bool Question(std::string_view, std::string_view) override { return false; }
  void Error(std::string_view, std::string_view) override {}
};

// Runs the event loop for `seconds` and returns the CPU seconds it used.
double RunFor(int seconds) {
  const double before = CpuSeconds();
  QTimer::singleShot(seconds * 1000, qApp, &QCoreApplication::quit);
  QApplication::exec();
  return CpuSeconds() - before;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
  if (!qEnvironmentVariableIsSet("QT_FONT_DPI")) {
    qputenv("QT_FONT_DPI", "96");
  }
  int qtArgc = 1;
  SilentBoxes boxes;
  zrv::TApplication app(qtArgc, argv, boxes);

  FirstPaint firstPaint;
  app.installEventFilter(&firstPaint);
  const double createStart = MsSinceStart();
  static_cast<void>(zrv::WindowFontFamily());  // timed on its own; the window reuses the result
  const double fontReady = MsSinceStart();
  // An empty simulated HID platform: the figures are the window's own.
  zrv::SimHidPlatform platform;
  zrv::DriverSession session(zrv::RealTimeSource(), platform);
  zrv::TForm1 form(session, zrv::RealTimeSource(), boxes);
  const double created = MsSinceStart();
  form.show();
  const double shown = MsSinceStart();
  while (firstPaint.Ms < 0) {
    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  app.removeEventFilter(&firstPaint);
  std::printf("platform                       %s\n", qPrintable(QApplication::platformName()));
  std::printf("start-up to first paint        %.1f ms\n", firstPaint.Ms);
  std::printf("  application object ready     %.1f ms\n", createStart);
  std::printf("  typeface ready               %.1f ms\n", fontReady);
  std::printf("  window created               %.1f ms\n", created);
  std::printf("  window shown                 %.1f ms\n", shown);

  // A connected driver with a steady reading: the view ticks every 40 ms and finds nothing new.
  // The limits and the reading are decoded before it connects, so nothing polls it: the device
  // behind it answers nothing.
  zrv::test::Deliver(session, zrv::test::IdentityReply(125, "ZRV", 103, zrv::DriverLimits{30000, 90, 1000, 10000}));
  zrv::LiveStatus status{3, 0, 1, 0x05, 0x08, 0x23, 1650, 3200, 41, 4250, 8000, 24100, 620, 1000};
  zrv::test::Deliver(session, zrv::test::StatusReply(status));
  if (zrv::test::PlugConnectedDriver(platform, session) == nullptr) {
    std::fprintf(stderr, "bench_ui: the simulated driver did not connect\n");
    return 1;
  }
  const double steady = RunFor(seconds);
  std::printf("CPU, steady reading            %.3f s over %d s = %.3f %% of one core\n", steady, seconds,
              100.0 * steady / seconds);

  // The same with a reading that changes every tick, so every value widget repaints.
  int step = 0;
  QTimer changer;
  QObject::connect(&changer, &QTimer::timeout, [&] {
    ++step;
    status.PowerSupply = static_cast<std::uint32_t>(20000 + (step % 50) * 100);
    status.CurAct = (step % 100) * 90;
    status.PwmAct = static_cast<std::int16_t>(step % 1000);
    status.Potentiometer = static_cast<std::uint16_t>(step % 3300);
    status.Switches = static_cast<std::uint8_t>(step & 0x3F);
    zrv::test::Deliver(session, zrv::test::StatusReply(status));
  });
  changer.start(40);
  const double changing = RunFor(seconds);
  changer.stop();
  std::printf("CPU, reading changing per tick %.3f s over %d s = %.3f %% of one core\n", changing, seconds,
              100.0 * changing / seconds);
  std::printf("peak resident memory           %.1f MB\n", static_cast<double>(PeakRssKb()) / 1024.0);
  return 0;
}
