// Single fault scenarios that the soak run meets at random, played one at a time so their outcome
// can be stated exactly: a driver vanishing in the middle of the settings write, and the set of
// devices changing while the save's confirmation box is open.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/run_until.h"
#include "link/ttimer.h"
#include "support/manual_time_source.h"
#include "soak_support.h"
#include "ui/form1.h"

namespace zrv::soak {
namespace {

using test::RunUntil;

bool SameSettings(const ModbusSettings& a, const ModbusSettings& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// The real window on the simulated platform, with hand-driven time.
class Bench {
 public:
  Bench()
      : session(std::make_unique<DriverSession>(time, platform)),
        form(std::make_unique<TForm1>(*session, time, boxes)) {
    baselineThreads = ThreadCount();
    scanned = RunUntil([&] { return platform.EnumerationCount() > 0; });
  }
  // The window first: it is a view of the session.
  ~Bench() {
    form.reset();
    session.reset();
  }

  std::shared_ptr<SimHidDevice> PlugDriver(const std::shared_ptr<SoakDriver>& model) {
    SimHidDeviceConfig config = Config(u"ZRVXXX");
    config.InputReportByteLength = static_cast<std::uint16_t>(sim::kReportLength);
    config.OutputReportByteLength = static_cast<std::uint16_t>(sim::kReportLength);
    std::shared_ptr<SimHidDevice> device;
    Rescan([&] {
      device = platform.Plug(config, model);
      model->Attach(device.get());
    });
    devices.push_back(device);
    return device;
  }
  std::shared_ptr<SimHidDevice> PlugOther(const std::u16string& product) {
    SimHidDeviceConfig config = Config(product);
    config.InputReportByteLength = 5;
    config.OutputReportByteLength = 0;
    std::shared_ptr<SimHidDevice> device;
    Rescan([&] { device = platform.Plug(config); });
    devices.push_back(device);
    return device;
  }
  void Rescan(const std::function<void()>& change) {
    const int before = platform.EnumerationCount();
    change();
    scanned = scanned && RunUntil([&] { return platform.EnumerationCount() > before; });
  }

  QString Status() const { return form->findChild<QLineEdit*>(QStringLiteral("ConnectionStatus"))->text(); }
  bool Identified() {
    return RunUntil([&] { return Status().startsWith(QStringLiteral("Connected to ")); });
  }
  QString SaveStatus() const { return form->findChild<QLabel*>(QStringLiteral("Label_Status"))->text(); }
  QStringList Items() const {
    QStringList items;
    const auto* list = form->findChild<QListWidget*>(QStringLiteral("ListBox1"));
    for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
    return items;
  }
  void Select(const char* baud, const char* parity, const char* address) {
    form->findChild<QComboBox*>(QStringLiteral("Cb_ModbusBaud"))->setCurrentText(QString::fromLatin1(baud));
    form->findChild<QComboBox*>(QStringLiteral("Cb_ModbusParity"))->setCurrentText(QString::fromLatin1(parity));
    form->findChild<QComboBox*>(QStringLiteral("Cb_ModbusAddress"))->setCurrentText(QString::fromLatin1(address));
  }
  void ClickSave() { form->findChild<QPushButton*>(QStringLiteral("Btn_SaveParams"))->click(); }

  ManualTimeSource time;
  ScriptedBoxes boxes;
  SimHidPlatform platform;
  Plugger plugger;
  std::vector<std::shared_ptr<SimHidDevice>> devices;
  std::unique_ptr<DriverSession> session;
  std::unique_ptr<TForm1> form;
  int baselineThreads = 0;
  bool scanned = false;

 private:
  SimHidDeviceConfig Config(const std::u16string& product) {
    SimHidDeviceConfig config;
    config.Path = "/scenario/" + std::to_string(nextInstance_);
    config.Instance = nextInstance_++;
    config.VendorID = 0x1A2B;
    config.ProductID = 0x0512;
    config.ProductString = product;
    return config;
  }
  std::uint32_t nextInstance_ = 1;
};

TEST(Scenario, ADriverVanishingInTheMiddleOfTheSettingsWriteLeavesNothingBehind) {
  const ModbusSettings chosen{115200, 2, 7};
  for (const Vanish how : {Vanish::InsideBeforeFirmware, Vanish::InsideAfterFirmware, Vanish::OtherThread}) {
    SCOPED_TRACE(static_cast<int>(how));
    Bench b;
    ASSERT_TRUE(b.scanned);
    auto mouse = b.PlugOther(u"USB Optical Mouse");
    auto model = std::make_shared<SoakDriver>("GONE");
    auto device = b.PlugDriver(model);
    ASSERT_TRUE(b.Identified());
    const ModbusSettings held = model->Settings();
    b.Select("115200", "Even", "7");
    model->ArmVanish(how, [&](SimHidDevice&) {
      if (how == Vanish::OtherThread) {
        b.plugger.RunAndWait([&] { b.platform.Unplug(device); });
      } else {
        b.platform.Unplug(device);
      }
    });
    const std::uint64_t writesBefore = model->CommandCount(CommandCode::WriteModbusSettings);
    b.ClickSave();

    ASSERT_TRUE(RunUntil([&] { return b.Status() == QStringLiteral("Disconnected"); })) << b.Status().toStdString();
    EXPECT_FALSE(b.session->Connected());
    EXPECT_EQ(b.session->CurrentDevice(), nullptr);
    EXPECT_EQ(b.Items(), QStringList{QStringLiteral("USB Optical Mouse")});
    // The save stored the operator's choice before sending, whatever became of the write.
    EXPECT_TRUE(SameSettings(b.session->State().Modbus, chosen));
    if (how == Vanish::InsideBeforeFirmware) {
      EXPECT_TRUE(SameSettings(model->Settings(), held));
      EXPECT_EQ(model->CommandCount(CommandCode::WriteModbusSettings), writesBefore);
    } else {
      EXPECT_TRUE(SameSettings(model->Settings(), chosen));
    }
    if (how != Vanish::InsideAfterFirmware) {
      // No acknowledgement can have come back from a device that was gone before the answer.
      EXPECT_EQ(b.SaveStatus(), QStringLiteral(" "));
    }
    // The reader of the vanished device has ended and let go of everything.
    EXPECT_TRUE(RunUntil([&] { return ThreadCount() == b.baselineThreads; }));
    EXPECT_EQ(device->OpenHandleCount(), 0);
    EXPECT_EQ(device->WaitingReads(), 0);
    // Polling resumes after the pause, but nothing is sent to anyone.
    const int attempts = device->WriteAttempts();
    b.time.Advance(1000);
    EXPECT_EQ(device->WriteAttempts(), attempts);
    EXPECT_EQ(mouse->WriteAttempts(), 0);
  }
}

TEST(Scenario, TheDriverReplacedWhileTheConfirmationIsOpenReceivesTheSave) {
  Bench b;
  ASSERT_TRUE(b.scanned);
  auto first = std::make_shared<SoakDriver>("FIRST");
  auto second = std::make_shared<SoakDriver>("SECOND");
  auto firstDevice = b.PlugDriver(first);
  ASSERT_TRUE(b.Identified());
  const ModbusSettings firstHeld = first->Settings();
  b.Select("9600", "Odd", "42");
  bool replaced = false;
  b.boxes.WhileOpen = [&] {
    b.Rescan([&] { b.plugger.RunAndWait([&] { b.platform.Unplug(firstDevice); }); });
    b.PlugDriver(second);
    replaced = b.Identified() && b.Status().endsWith(QStringLiteral("SECOND"));
  };
  b.ClickSave();
  ASSERT_TRUE(replaced);
  ASSERT_TRUE(b.scanned);

  const ModbusSettings chosen{9600, 1, 42};
  // The settings leave on the device's writer thread.
  ASSERT_TRUE(RunUntil([&] { return second->CommandCount(CommandCode::WriteModbusSettings) == 1; }));
  EXPECT_TRUE(SameSettings(second->Settings(), chosen));
  EXPECT_TRUE(SameSettings(first->Settings(), firstHeld));
  EXPECT_EQ(first->CommandCount(CommandCode::WriteModbusSettings), 0u);
  ASSERT_TRUE(RunUntil([&] { return b.SaveStatus() == QStringLiteral("Ustawienia Modbus zapisane"); }));
  EXPECT_TRUE(SameSettings(b.session->State().Modbus, chosen));
  ASSERT_NE(b.session->CurrentDevice(), nullptr);
  EXPECT_EQ(b.session->CurrentDevice()->PlugInfo()->InterfacePath, b.devices.back()->Path());
  EXPECT_EQ(firstDevice->OpenHandleCount(), 0);
}

}  // namespace
}  // namespace zrv::soak
