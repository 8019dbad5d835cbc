#include "rs485/sim_line_pty.h"

#include <utility>
#include <vector>

namespace zrv {

SimLinePty::SimLinePty(std::shared_ptr<SimDriverModel> model, QObject* parent)
    : QObject(parent), model_(std::move(model)) {
  clock_.start();
  model_->WithDriver([this](sim::SimulatedDriver& driver) { line_ = std::make_unique<sim::Rs485Line>(driver); });
  // While the line owes characters, every millisecond: an adapter's own latency is of that order.
  pump_.setInterval(1);
  pump_.setTimerType(Qt::PreciseTimer);
  connect(&pump_, &QTimer::timeout, this, &SimLinePty::Pump);
  connect(&pty_, &bus::PtyLine::Received, this, [this](const QByteArray& bytes) {
    model_->WithDriver([&](sim::SimulatedDriver& driver) {
      // Unless told, the adapter is where the driver says it listens, as after a correct setup.
      if (!adapterGiven_) {
        const ModbusSettings own = driver.Model().Modbus;
        line_->SetAdapterSettings({own.Baudrate, own.Parity});
      }
      line_->AdvanceTo(NowUs());
      line_->Send(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                                static_cast<std::size_t>(bytes.size())));
    });
    if (!pump_.isActive()) pump_.start();
  });
}

SimLinePty::~SimLinePty() = default;

bool SimLinePty::Open(const QString& link, QString* error) { return pty_.Open(link, error); }

void SimLinePty::SetAdapterSettings(const modbus::LineSettings& settings) {
  adapterGiven_ = true;
  model_->WithDriver([&](sim::SimulatedDriver&) { line_->SetAdapterSettings(settings); });
}

void SimLinePty::SetFault(sim::Rs485Fault fault) {
  model_->WithDriver([&](sim::SimulatedDriver&) { line_->SetFault(fault); });
}

void SimLinePty::Pump() {
  std::vector<std::uint8_t> back;
  bool idle = false;
  model_->WithDriver([&](sim::SimulatedDriver&) {
    line_->AdvanceTo(NowUs());
    back = line_->TakeReceived();
    idle = !line_->NextEventUs().has_value();
  });
  if (!back.empty()) {
    pty_.Send(QByteArray(reinterpret_cast<const char*>(back.data()), static_cast<qsizetype>(back.size())));
  }
  if (idle) pump_.stop();
}

}  // namespace zrv
