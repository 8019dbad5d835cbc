// UI-thread time of one polling period of the real window, offscreen: the poll is sent, the
// simulated driver answers, the reply is decoded and the live view ticks. The CPU column is the
// UI thread's own time; the reader thread's is not in it.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QtGlobal>
#include <memory>
#include <thread>

#include "link/platform/sim/sim_hid_platform.h"
#include "link/ttimer.h"
#include "support/manual_time_source.h"
#include "sim/sim_driver_model.h"
#include "session/driver_session.h"
#include "ui/form1.h"
#include "ui/message_boxes.h"

namespace {

class SilentBoxes : public zrv::IMessageBoxes {
 public:
  void Warning(std::string_view, std::string_view) override {}
  bool Question(std::string_view, std::string_view) override { return false; }
  void Error(std::string_view, std::string_view) override {}
};

void RunUntil(const std::function<bool()>& condition) {
  while (!condition()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

struct Rig {
  explicit Rig(bool shown) {
    session = std::make_unique<zrv::DriverSession>(time, platform);
    form = std::make_unique<zrv::TForm1>(*session, time, boxes);
    if (shown) form->show();
    zrv::SimHidDeviceConfig config;
    config.Path = "/sim/driver";
    config.Instance = 1;
    config.ProductString = u"ZRVXXX";
    device = zrv::SimDriverModel::PlugDriver(platform, config, model);
    auto* status = form->findChild<QLineEdit*>(QStringLiteral("ConnectionStatus"));
    RunUntil([&] { return status->text().startsWith(QStringLiteral("Connected to ")); });
    // Readings that change every period, so every value widget has something to show.
    model->Driver().SetLively(true);
  }
  ~Rig() {
    form.reset();
    session.reset();
  }
  // Until the writer thread has let go of the poll (no event says so; it is a moment at most).
  void AwaitWriter() const {
    const zrv::THidDevice* current = session->CurrentDevice();
    while (current != nullptr && current->WritesPending()) std::this_thread::yield();
  }

  zrv::ManualTimeSource time;
  SilentBoxes boxes;
  zrv::SimHidPlatform platform;
  std::shared_ptr<zrv::SimDriverModel> model = std::make_shared<zrv::SimDriverModel>();
  std::shared_ptr<zrv::SimHidDevice> device;
  std::unique_ptr<zrv::DriverSession> session;
  std::unique_ptr<zrv::TForm1> form;
};

// One 40 ms period: poll sent, reply decoded, view ticked. Argument 1: the window is shown and
// paints; 0: hidden, so the figure is the link, the decoding and the widget updates alone.
void BM_PollDecodeTick(benchmark::State& state) {
  Rig rig(state.range(0) != 0);
  std::uint64_t now = 0;
  std::uint16_t mark = 0;
  for (auto _ : state) {
    now += 40;
    rig.model->Advance(now);
    // A mark in the reply tells when this period's answer has been decoded.
    mark = static_cast<std::uint16_t>(mark % 1000 + 1);
    rig.model->Driver().Model().Status.Ain = mark;
    rig.time.Advance(40);
    // The reply can be decoded before the writer thread has let go of the poll; the next poll
    // would then be dropped.
    RunUntil([&] { return rig.session->State().Status.Ain == mark; });
    rig.AwaitWriter();
  }
  state.counters["polls"] = static_cast<double>(rig.model->Driver().CommandCount(11));
}
BENCHMARK(BM_PollDecodeTick)->Arg(0)->Arg(1)->Iterations(2000);

// The same period on the register page.
void BM_RegisterPollDecodeTick(benchmark::State& state) {
  Rig rig(state.range(0) != 0);
  auto* tabs = rig.form->findChild<QTabWidget*>(QStringLiteral("PageControl1"));
  tabs->setCurrentIndex(1);
  auto* frames = rig.form->findChild<QLabel*>(QStringLiteral("Lab_ModbusOkFrames"));
  std::uint64_t now = 0;
  std::uint16_t mark = 0;
  for (auto _ : state) {
    now += 40;
    rig.model->Advance(now);
    mark = static_cast<std::uint16_t>(mark % 200 + 1);
    rig.model->Driver().Model().GoodFrames = mark;
    rig.time.Advance(40);
    const QString expected = QString::number(mark);
    RunUntil([&] { return frames->text() == expected; });
    rig.AwaitWriter();
  }
}
BENCHMARK(BM_RegisterPollDecodeTick)->Arg(0)->Arg(1)->Iterations(2000);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_FONT_DPI", "96");
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
