// The demo: the operator window on simulated HID devices. A mouse is attached from the start; a
// lively motor driver is plugged in one second later. Nothing else differs from the real program.
// ZRV_DEMO_STEADY=1 in the environment keeps the driver's readings still (for measurements).
// ZRV_DEMO_PAGE=<n> starts on page n (0 "IO Status", 1 "RS485 Modbus", 2 "Recorder", 3 "RS485 link").
// ZRV_DEMO_FAULT_EVERY_S=<n> makes the lively driver report a one-second fault every n seconds
// (otherwise it faults now and then, about once a minute on average), to show fault captures.
// The driver's RS485 side is on a pseudo-terminal of its own, listed first on the "RS485 link"
// page; --rs485-fault NAME starts its line with that fault (rs485-deaf, rs485-swapped, ...).
// ZRV_DEMO_RS485_TESTING=1 starts the page's link test three seconds in and again each time one
// ends (for measuring the window during tests).
#include <QTabWidget>
#include <QTimer>
#include <QtGlobal>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

#include "link/platform/sim/sim_hid_platform.h"
#include "link/ttimer.h"
#include "session/driver_session.h"
#include "sim/rs485_line.h"
#include "sim/sim_driver_model.h"
#include "ui/application.h"
#include "ui/form1.h"
#include "ui/message_boxes.h"
#include "ui/rs485_page.h"
#ifndef _WIN32
#include "rs485/sim_line_pty.h"
#endif

namespace {

constexpr int kDriverPlugDelayMs = 1000;

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

void RunDemo(zrv::QtMessageBoxes& boxes, zrv::sim::Rs485Fault fault) {
  // Declared first: outlives the window and every device object it holds.
  zrv::SimHidPlatform platform;
  platform.Plug(MouseConfig());

  auto model = std::make_shared<zrv::SimDriverModel>();
  model->Driver().SetLively(qEnvironmentVariableIntValue("ZRV_DEMO_STEADY") == 0);
  model->Driver().SetLivelyFaultEvery(
      static_cast<std::uint32_t>(std::max(0, qEnvironmentVariableIntValue("ZRV_DEMO_FAULT_EVERY_S"))) * 1000U);
  // The readings catch up with the time elapsed whenever the window asks for them, so the driver
  // needs no timer of its own to wake the window's thread.
  const auto start = std::chrono::steady_clock::now();
  model->SetClock([start] {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count());
  });

  zrv::DriverSession session(zrv::RealTimeSource(), platform);
  zrv::TForm1 form(session, zrv::RealTimeSource(), boxes);
  boxes.SetParent(&form);

#ifndef _WIN32
  // The driver's RS485 side, as an adapter wired to it would show it.
  zrv::SimLinePty line(model);
  QString lineError;
  if (line.Open({}, &lineError)) {
    line.SetFault(fault);
    zrv::bus::SerialPortInfo port;
    port.path = line.PortPath();
    port.description = QStringLiteral("Simulated driver's RS485 line");
    form.Rs485().AddPinnedPort(port);
    if (qEnvironmentVariableIntValue("ZRV_DEMO_RS485_TESTING") != 0) {
      zrv::Rs485Page* page = &form.Rs485();
      QObject::connect(page, &zrv::Rs485Page::CheckFinished, page,
                       [page] { QTimer::singleShot(0, page, &zrv::Rs485Page::TestClick); });
      QTimer::singleShot(kDriverPlugDelayMs + 2000, page, &zrv::Rs485Page::TestClick);
    }
  } else {
    std::fprintf(stderr, "zrv-pc-demo: no simulated RS485 line: %s\n", lineError.toLocal8Bit().constData());
  }
#else
  (void)fault;
#endif

  QTimer::singleShot(kDriverPlugDelayMs, &form, [&platform, model] {
    zrv::SimDriverModel::PlugDriver(platform, DriverConfig(), model);
  });
  if (qEnvironmentVariableIsSet("ZRV_DEMO_PAGE")) {
    if (auto* pages = form.findChild<QTabWidget*>(QStringLiteral("PageControl1"))) {
      pages->setCurrentIndex(qEnvironmentVariableIntValue("ZRV_DEMO_PAGE"));
    }
  }
  form.show();
  zrv::TApplication::exec();
  boxes.SetParent(nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  zrv::sim::Rs485Fault fault = zrv::sim::Rs485Fault::None;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--rs485-fault") == 0 && i + 1 < argc) {
      const std::optional<zrv::sim::Rs485Fault> named = zrv::sim::Rs485FaultFromName(argv[++i]);
      if (!named) {
        std::fprintf(stderr, "zrv-pc-demo: unknown RS485 fault '%s'\n", argv[i]);
        return 2;
      }
      fault = *named;
    }
    // Any other argument is ignored, as it always was.
  }
  return zrv::RunProgram("zrv-pc-demo", [fault](zrv::QtMessageBoxes& boxes) { RunDemo(boxes, fault); });
}
