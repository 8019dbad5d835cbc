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
  connect(&pty_, &bus::PtyLine::Received, this, &SimLinePty::FromTool);
  // A Save over USB moves the driver to new settings at once; a tenth of a second later is soon
  // enough for a master that has to reopen its own port too.
  follow_.setInterval(100);
  connect(&follow_, &QTimer::timeout, this, &SimLinePty::FollowDriverSettings);
}

SimLinePty::~SimLinePty() = default;

bool SimLinePty::Open(const QString& link, QString* error) { return pty_.Open(link, error); }

bool SimLinePty::OpenSerial(const QString& path, QString* error) {
  serialPath_ = path;
  serial_ = std::make_unique<bus::SerialPort>();
  connect(serial_.get(), &bus::SerialPort::BytesArrived, this, &SimLinePty::FromTool);
  connect(serial_.get(), &bus::SerialPort::Lost, this, [this](const bus::PortError& why) {
    emit SerialProblem(bus::PortProblemText(why, serialPath_));
  });
  modbus::LineSettings listens{};
  model_->WithDriver([&](sim::SimulatedDriver&) { listens = line_->DriverLineSettings(); });
  const bus::PortError opened = serial_->Open(path, listens);
  follow_.start();
  if (!opened) return true;
  if (error != nullptr) *error = bus::PortProblemText(opened, path);
  return false;
}

QString SimLinePty::PortPath() const { return serial_ ? serialPath_ : pty_.PortPath(); }

std::optional<modbus::LineSettings> SimLinePty::SerialSettings() const {
  if (!serial_ || !serial_->IsOpen()) return std::nullopt;
  return serial_->Settings();
}

void SimLinePty::FollowDriverSettings() {
  modbus::LineSettings listens{};
  model_->WithDriver([&](sim::SimulatedDriver&) { listens = line_->DriverLineSettings(); });
  if (serial_->IsOpen()) {
    const modbus::LineSettings now = serial_->Settings();
    if (now.Baudrate == listens.Baudrate && now.Parity == listens.Parity) return;
    serial_->Close();
  }
  const bus::PortError opened = serial_->Open(serialPath_, listens);
  if (opened) emit SerialProblem(bus::PortProblemText(opened, serialPath_));
}

void SimLinePty::FromTool(const QByteArray& bytes) {
  model_->WithDriver([&](sim::SimulatedDriver& driver) {
    if (serial_) {
      // A real port set where the driver listens: whatever the tool's adapter is at, the wire
      // between the two decides what arrives, not the model.
      line_->SetAdapterSettings(line_->DriverLineSettings());
    } else if (!adapterGiven_) {
      // Unless told, the adapter is where the driver says it listens, as after a correct setup.
      const ModbusSettings own = driver.Model().Modbus;
      line_->SetAdapterSettings({own.Baudrate, own.Parity});
    }
    line_->AdvanceTo(NowUs());
    line_->Send(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                              static_cast<std::size_t>(bytes.size())));
  });
  if (!pump_.isActive()) pump_.start();
}

void SimLinePty::ToTool(const QByteArray& bytes) {
  if (serial_) {
    serial_->Write(bytes);
  } else {
    pty_.Send(bytes);
  }
}

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
    ToTool(QByteArray(reinterpret_cast<const char*>(back.data()), static_cast<qsizetype>(back.size())));
  }
  if (idle) pump_.stop();
}

}  // namespace zrv
