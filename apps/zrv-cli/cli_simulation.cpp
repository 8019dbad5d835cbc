#include "cli_simulation.h"

#include <chrono>
#include <cstring>
#include <optional>

#include "sim/rs485_line.h"
#ifndef _WIN32
#include "rs485/sim_line_pty.h"
#endif

namespace zrv::cli {

namespace {

constexpr int kClockMs = 5;
constexpr std::uint32_t kLateReplyMs = 1500;

std::uint64_t NowMs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

// Passes every report on, and after each acknowledged settings write quietly changes the stored
// slave id, as a driver would whose settings do not stick.
class ForgetfulDriver final : public ISimHidModel {
 public:
  explicit ForgetfulDriver(std::shared_ptr<SimDriverModel> inner) : inner_(std::move(inner)) {}
  void OnOutputReport(SimHidDevice& device, const std::uint8_t* report, std::size_t length) override {
    inner_->OnOutputReport(device, report, length);
    if (length > 1 && report[1] == static_cast<std::uint8_t>(CommandCode::WriteModbusSettings)) {
      ModbusSettings& kept = inner_->Driver().Model().Modbus;
      kept.SlaveId = kept.SlaveId == 1 ? 2 : 1;
    }
  }

 private:
  std::shared_ptr<SimDriverModel> inner_;
};

const char* const kScenarios[] = {"driver", "none", "two", "denied", "silent", "late", "mismatch", "lookalike"};

}  // namespace

namespace {

// The fault of an rs485-… scenario.
std::optional<sim::Rs485Fault> LineFault(const std::string& name) {
  const std::optional<sim::Rs485Fault> fault = sim::Rs485FaultFromName(name);
  if (!fault || *fault == sim::Rs485Fault::None) return std::nullopt;
  return fault;
}

}  // namespace

bool KnownScenario(const std::string& name) {
  for (const char* s : kScenarios) {
    if (name == s) return true;
  }
  return LineFault(name).has_value();
}

Simulation::Simulation(const std::string& given) {
  const std::optional<sim::Rs485Fault> lineFault = LineFault(given);
  const std::string scenario = lineFault ? std::string("driver") : given;
  std::uint32_t instance = 1;
  auto plugMouse = [&] {
    SimHidDeviceConfig mouse;
    mouse.Path = "/dev/hidraw" + std::to_string(instance - 1);
    mouse.Instance = instance++;
    mouse.VendorID = 0x046D;
    mouse.ProductID = 0xC077;
    mouse.ProductString = scenario == "lookalike" ? u"ZRVXXX " : u"USB Optical Mouse";
    mouse.InputReportByteLength = 5;
    mouse.OutputReportByteLength = 0;
    platform_.Plug(mouse);
  };
  auto plugDriver = [&](bool refuse) {
    auto model = std::make_shared<SimDriverModel>();
    model->Driver().Model().SetName("SIM");
    model->Driver().Advance(NowMs());
    model->Driver().SetLively(scenario == "driver" || scenario == "two", instance);
    model->SetClock(NowMs);
    // One step of the lively mode now, so its registers hold their values before USB first asks:
    // the RS485 line may read them first.
    if (model->Driver().Lively()) model->Driver().Advance(NowMs() + 1);
    if (scenario == "silent") model->Driver().Faults().SilentAll = true;
    if (scenario == "late") model->Driver().Faults().ReplyDelayMs = kLateReplyMs;
    // With a fault on the line, the fault alone shows in the good-frame counter.
    if (lineFault) model->Driver().SetLivelyBusMaster(false);
    SimHidDeviceConfig config;
    config.Path = "/dev/hidraw" + std::to_string(instance - 1);
    config.Instance = instance++;
    config.VendorID = 0x1234;
    config.ProductID = 0x5678;
    config.ProductString = u"ZRVXXX";
    config.RefuseReadWrite = refuse;
    config.RecordWrites = false;
    if (scenario == "mismatch") {
      auto wrapper = std::make_shared<ForgetfulDriver>(model);
      config.InputReportByteLength = static_cast<std::uint16_t>(sim::kReportLength);
      config.OutputReportByteLength = static_cast<std::uint16_t>(sim::kReportLength);
      model->Attach(platform_.Plug(config, wrapper));
      wrappers_.push_back(wrapper);
    } else {
      SimDriverModel::PlugDriver(platform_, config, model);
    }
    drivers_.push_back(model);
  };

  plugMouse();
  if (scenario != "none" && scenario != "lookalike") plugDriver(scenario == "denied");
  if (scenario == "two") plugDriver(false);

  // Late replies leave when the driver's clock passes their time.
  QObject::connect(&clock_, &QTimer::timeout, [this] {
    const std::uint64_t now = NowMs();
    for (const auto& d : drivers_) d->Advance(now);
  });
  if (scenario == "late") clock_.start(kClockMs);

#ifndef _WIN32
  if (!drivers_.empty()) {
    rs485_ = std::make_unique<SimLinePty>(drivers_.front());
    QString error;
    if (rs485_->Open({}, &error)) {
      if (lineFault) rs485_->SetFault(*lineFault);
    } else {
      rs485_.reset();
    }
  }
#endif
}

Simulation::~Simulation() { clock_.stop(); }

QString Simulation::Rs485Port() const {
#ifndef _WIN32
  if (rs485_) return rs485_->PortPath();
#endif
  return {};
}

}  // namespace zrv::cli
