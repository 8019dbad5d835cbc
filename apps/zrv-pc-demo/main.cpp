// The demo: the operator window on simulated HID devices. A mouse is attached from the start; a
// lively motor driver is plugged in one second later. Nothing else differs from the real program.
#include <QElapsedTimer>
#include <QTimer>
#include <memory>

#include "link/platform/sim/sim_hid_platform.h"
#include "link/ttimer.h"
#include "sim_driver_model.h"
#include "ui/application.h"
#include "ui/form1.h"
#include "ui/message_boxes.h"

namespace {

constexpr int kDriverPlugDelayMs = 1000;
// The readings move with the elapsed time whatever the period; one step per period of the live
// view is all the window can show, and each step wakes the window's thread.
constexpr int kDriverClockMs = 40;

zrv::SimHidDeviceConfig MouseConfig() {
  zrv::SimHidDeviceConfig config;
  config.Path = "/sim/hid-mouse";
  config.Instance = 1;
  config.VendorID = 0x1A2B;
  config.ProductID = 0x0101;
  config.ProductString = u"USB Optical Mouse";
  config.InputReportByteLength = 5;
  config.OutputReportByteLength = 0;
  config.Usage = 2;
  config.UsagePage = 1;
  return config;
}

zrv::SimHidDeviceConfig DriverConfig() {
  zrv::SimHidDeviceConfig config;
  config.Path = "/sim/hid-driver";
  config.Instance = 2;
  config.VendorID = 0x1A2B;
  config.ProductID = 0x0512;
  config.ProductString = u"ZRVXXX";
  // The demo runs for hours: the device keeps no record of what it was sent.
  config.RecordWrites = false;
  return config;
}

void RunDemo(zrv::QtMessageBoxes& boxes) {
  // Declared first: outlives the window and every device object it holds.
  zrv::SimHidPlatform platform;
  platform.Plug(MouseConfig());

  auto model = std::make_shared<zrv::SimDriverModel>();
  model->Driver().SetLively(true);

  zrv::TForm1 form(zrv::RealTimeSource(), boxes, platform);
  boxes.SetParent(&form);

  QTimer::singleShot(kDriverPlugDelayMs, &form, [&platform, model] {
    zrv::SimDriverModel::PlugDriver(platform, DriverConfig(), model);
  });
  // The driver's own clock: moves its readings and releases late replies.
  QElapsedTimer clock;
  clock.start();
  QTimer driverClock;
  QObject::connect(&driverClock, &QTimer::timeout, &form, [&clock, model] {
    model->Advance(static_cast<std::uint64_t>(clock.elapsed()));
  });
  driverClock.start(kDriverClockMs);

  form.show();
  zrv::TApplication::exec();
  driverClock.stop();
  boxes.SetParent(nullptr);
}

}  // namespace

int main(int /*argc*/, char** /*argv*/) { return zrv::RunProgram("zrv-pc-demo", RunDemo); }
