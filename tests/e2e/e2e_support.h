// The real window on the simulated HID platform with the simulated driver behind a device, its
// timers on hand-driven time. Widgets are found by name and checked by what they show; the
// driver tells which bytes it received.
#pragma once

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QPushButton>
#include <QTabWidget>
#include <cstdint>
#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "link/platform/sim/sim_hid_platform.h"
#include "support/run_until.h"
#include "link/ttimer.h"
#include "support/manual_time_source.h"
#include "sim/sim_driver_model.h"
#include "session/driver_session.h"
#include "ui/form1.h"
#include "ui/message_boxes.h"

inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace zrv::test {

class ScriptedBoxes : public IMessageBoxes {
 public:
  struct Shown {
    std::string Kind;
    std::string Caption;
    std::string Text;
  };
  void Warning(std::string_view caption, std::string_view text) override { Open("Warning", caption, text); }
  bool Question(std::string_view caption, std::string_view text) override {
    Open("Question", caption, text);
    return Answer;
  }
  void Error(std::string_view caption, std::string_view text) override { Open("Error", caption, text); }

  std::vector<Shown> Boxes;
  bool Answer = true;
  // Runs while a box is "open": the real modal box keeps timers and input reports going.
  std::function<void()> WhileOpen;

 private:
  void Open(const char* kind, std::string_view caption, std::string_view text) {
    Boxes.push_back({kind, std::string(caption), std::string(text)});
    if (WhileOpen) WhileOpen();
  }
};

// One simulated driver: the model and the device it sits behind.
struct Driver {
  std::shared_ptr<SimDriverModel> Model;
  std::shared_ptr<SimHidDevice> Device;
  sim::SimulatedDriver& Sim() const { return Model->Driver(); }
  std::uint64_t Count(CommandCode code) const { return Sim().CommandCount(static_cast<std::uint8_t>(code)); }
  // Codes of every report received so far, oldest first.
  std::vector<int> Codes() const {
    std::vector<int> codes;
    for (const sim::ReceivedReport& report : Sim().Received()) codes.push_back(report.Code());
    return codes;
  }
};

class Bench {
 public:
  // Makes a platform that the window sees in front of the simulated one.
  using FrontFactory = std::function<std::unique_ptr<IHidPlatform>(SimHidPlatform&)>;

  explicit Bench(const FrontFactory& front = {}, TimeSource* time = nullptr)
      : Front(front ? front(Platform) : nullptr),
        Session(std::make_unique<DriverSession>(time != nullptr ? *time : Time, Front ? *Front : Platform)),
        Form(std::make_unique<TForm1>(*Session, time != nullptr ? *time : Time, Boxes)) {}
  // The window first: it is a view of the session.
  ~Bench() { Close(); }
  // What quitting the program does: the window goes, then its session.
  void Close() {
    Form.reset();
    Session.reset();
  }

  Driver PlugDriver(std::u16string product = u"ZRVXXX",
                    const std::function<void(SimHidDeviceConfig&, sim::SimulatedDriver&)>& setUp = {}) {
    SimHidDeviceConfig config;
    config.Path = "/sim/driver" + std::to_string(nextInstance_);
    config.Instance = nextInstance_++;
    config.VendorID = 0x1A2B;
    config.ProductID = 0x0512;
    config.ProductString = std::move(product);
    auto model = std::make_shared<SimDriverModel>();
    if (setUp) setUp(config, model->Driver());
    Driver driver{model, nullptr};
    Rescan([&] { driver.Device = SimDriverModel::PlugDriver(Platform, config, model); });
    return driver;
  }

  std::shared_ptr<SimHidDevice> PlugOther(std::u16string product, std::uint16_t vendorId = 0x1A2B,
                                          std::uint16_t productId = 0x0101) {
    SimHidDeviceConfig config;
    config.Path = "/sim/other" + std::to_string(nextInstance_);
    config.Instance = nextInstance_++;
    config.VendorID = vendorId;
    config.ProductID = productId;
    config.ProductString = std::move(product);
    config.InputReportByteLength = 5;
    config.OutputReportByteLength = 0;
    std::shared_ptr<SimHidDevice> device;
    Rescan([&] { device = Platform.Plug(config); });
    return device;
  }

  void Unplug(const std::shared_ptr<SimHidDevice>& device) {
    Rescan([&] { Platform.Unplug(device); });
  }

  // Runs `change`, then the event loop until the window has scanned again.
  void Rescan(const std::function<void()>& change) {
    const int before = Platform.EnumerationCount();
    change();
    Scanned = RunUntil([&] { return Platform.EnumerationCount() > before; });
    Flush();
  }
  // Waits, without running the event loop, until every listed device's writer thread has written
  // what it took. What the simulated driver received may be read after this.
  bool Flush() const {
    if (!Session) return true;
    auto pending = [this] {
      for (const auto& device : Session->Held()) {
        if (device && device->WritesPending()) return true;
      }
      return false;
    };
    for (int round = 0; round < 20000 && pending(); ++round) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return !pending();
  }
  // The forced first scan of the window's controller.
  bool FirstScan() {
    return RunUntil([&] { return Platform.EnumerationCount() > 0; });
  }
  // Until the identity reply has been shown.
  bool Identified() {
    return RunUntil([&] { return Status().startsWith(QStringLiteral("Connected to ")); });
  }

  template <typename T>
  T* Find(const char* name) const {
    return Form->findChild<T*>(QString::fromLatin1(name));
  }
  QString Status() const { return Find<QLineEdit>("ConnectionStatus")->text(); }
  QColor StatusColour() const { return Find<QLineEdit>("ConnectionStatus")->palette().color(QPalette::Base); }
  QString LabelText(const char* name) const { return Find<QLabel>(name)->text(); }
  QStringList Items() const {
    QStringList items;
    const QListWidget* list = Find<QListWidget>("ListBox1");
    for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
    return items;
  }
  QComboBox* Combo(const char* name) const { return Find<QComboBox>(name); }
  void ShowPage(int index) { Find<QTabWidget>("PageControl1")->setCurrentIndex(index); }
  void Click(const char* button) {
    Find<QPushButton>(button)->click();
    Flush();
  }
  // One 40 ms step at a time, each poll written before the next: a poll is dropped while the one
  // before it is still on its way.
  void Ticks(int count) {
    for (int i = 0; i < count; ++i) {
      Time.Advance(40);
      Flush();
    }
  }
  // Moves time by ms in 40 ms steps, as Ticks does.
  void Advance(int ms) {
    for (; ms >= 40; ms -= 40) Ticks(1);
    if (ms > 0) {
      Time.Advance(ms);
      Flush();
    }
  }

  ManualTimeSource Time;
  ScriptedBoxes Boxes;
  SimHidPlatform Platform;
  std::unique_ptr<IHidPlatform> Front;
  std::unique_ptr<DriverSession> Session;
  std::unique_ptr<TForm1> Form;
  bool Scanned = true;

 private:
  std::uint32_t nextInstance_ = 1;
};

}  // namespace zrv::test
