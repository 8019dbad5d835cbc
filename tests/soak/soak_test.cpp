// The soak run: the real window on the simulated HID platform, its timers on hand-driven time and
// real reader threads, through many plug and unplug cycles of drivers and other HID devices (some
// from another thread, at moments the UI thread does not choose), while it polls on both pages and
// the operator reads and saves the Modbus settings, with the drivers misbehaving on purpose.
//
// Every reply that reaches the window's reply handler is traced back to the reply a driver sent,
// byte for byte, and the stored Modbus settings are checked against what the last save or the last
// settings-carrying reply said after every one of them. At checkpoints the faults are lifted, the
// connection is rebuilt by a plug event, and the window must show exactly what is attached.
//
// ZRV_SOAK_CYCLES sets the number of cycles (1000 when unset), ZRV_SOAK_SEED the random seed.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "support/run_until.h"
#include "link/ttimer.h"
#include "support/manual_time_source.h"
#include "soak_support.h"
#include "ui/form1.h"

namespace zrv::soak {
namespace {

using test::RunRounds;
using test::RunUntil;

constexpr std::uint8_t kWriteSettings = static_cast<std::uint8_t>(CommandCode::WriteModbusSettings);
// Short read slices keep each reader stop short; the run stops thousands of them.
constexpr int kReadSlice = THidDevice::kMinReadSliceTime;

int EnvInt(const char* name, int fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  return std::atoi(text);
}

bool SameSettings(const ModbusSettings& a, const ModbusSettings& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

std::string Describe(const ModbusSettings& s) {
  return std::to_string(s.Baudrate) + "/" + std::to_string(s.Parity) + "/" + std::to_string(s.SlaveId);
}

QString Latin1(const std::u16string& text) {
  QString result;
  for (const char16_t c : text) result.append(QChar(c <= 0xFF ? c : u'?'));
  return result;
}

// One thing that can be plugged: a physical driver (plugged anew, as a new device, each time) or
// another HID device.
struct Slot {
  std::string Label;
  std::u16string Product;
  std::uint16_t VendorID = 0x1A2B;
  std::uint16_t ProductID = 0x0101;
  std::shared_ptr<SoakDriver> Driver;  // none for other devices
  // UI thread's view: plugged, or a plug is on its way on the other thread.
  bool Present = false;
  bool RefuseReadWrite = false;
  bool RefuseOpen = false;
  int Plugs = 0;
  std::string Path;  // UI thread's view: the latest plug's, which may still be on its way
  std::shared_ptr<SimHidDevice> Device;  // the latest plugged; guarded by Soak::mutex_
};

class Soak {
 public:
  explicit Soak(std::uint32_t seed) : rng_(seed) {
    AddDriver("driver A", "SOAK-A");
    AddDriver("driver B", "SOAK-B");
    AddOther("mouse", u"USB Optical Mouse", 0x046D, 0xC077);
    AddOther("no product string", u"", 0x0ABC, 0x0012);
    AddOther("keyboard", u"Keyboard", 0x1A2B, 0x0202);
    AddOther("near miss", u"ZRVXXX ", 0x1A2B, 0x0512);
    marker_ = AddOther("marker", u"Soak marker", 0x1A2B, 0x0303);
  }

  ~Soak() {
    plugger_.Drain();
    closing_ = true;
    form_.reset();
    session_.reset();
  }

  void Start() {
    session_ = std::make_unique<DriverSession>(time_, platform_);
    form_ = std::make_unique<TForm1>(*session_, time_, boxes_);
    closingSession_ = session_.get();
    // The window's own handler runs as it is; afterwards every device object that decodes into the
    // window gets the tracing handler, which passes each reply on to HandleReply. Nothing is
    // decoded in between: hand-offs are served only by the event loop or by stopping a reader.
    THidDeviceController& controller = session_->HidDeviceController1();
    controller.SetLoading(true);
    controller.SetOnDeviceChange(TNotifyEvent([this](QObject* sender) {
      session_->HidDeviceController1DeviceChange(sender);
      AfterDeviceChange();
    }));
    controller.SetLoading(false);
    tracing_ = THidDataEvent([this](THidDevice* device, std::uint8_t id, const std::uint8_t* data,
                                    std::uint16_t size) { OnReply(device, id, data, size); });
    for (const auto& slot : slots_) {
      if (slot->Driver) slot->Driver->Advance(0);
    }
    baselineThreads_ = ThreadCount();
    ASSERT_TRUE(RunUntil([&] { return deviceChanges_ > 0; }));
    expected_ = session_->State().Modbus;
  }

  void Cycle() {
    const int steps = 4 + Pick(10);
    const int plugAt = Pick(steps);
    const int unplugAt = plugAt + Pick(steps - plugAt + 1);
    for (int step = 0; step <= steps; ++step) {
      if (step == plugAt) PlugEvent();
      if (step == unplugAt) PlugEvent();
      if (step < steps) Step();
    }
    Process();
  }

  // Lifts the faults, rebuilds the connection with a plug event and checks the whole window.
  void Checkpoint(const std::string& where) {
    SCOPED_TRACE(where);
    plugger_.Drain();
    for (const auto& slot : slots_) {
      if (slot->Driver) {
        slot->Driver->SetFaults(sim::DriverFaults{});
        slot->Driver->ArmVanish(Vanish::None, nullptr);
      }
      if (const auto device = DeviceOf(*slot)) device->SetFailWrites(false);
    }
    FlushWrites();
    // A device booked as vanished may still be on its way out, on the thread of a writer that the
    // window has already let go of (the controller keeps it until its write ends).
    ASSERT_TRUE(RunUntil([&] {
      const std::lock_guard<std::mutex> lock(mutex_);
      return vanishing_ == 0;
    })) << "a device booked as vanished was never unplugged";
    SettleVanished();
    AdvanceTime(1000);  // late replies leave, a pause of polling ends
    {
      // The run's own bookkeeping first: exactly the devices it believes attached are.
      std::vector<std::string> plugged;
      for (const auto& device : platform_.Present()) plugged.push_back(device->Path());
      std::vector<std::string> believed;
      for (const auto& slot : slots_) {
        if (slot->Present) believed.push_back(DeviceOf(*slot)->Path());
      }
      std::sort(plugged.begin(), plugged.end());
      std::sort(believed.begin(), believed.end());
      ASSERT_EQ(plugged, believed);
    }

    const int changes = deviceChanges_;
    if (marker_->Present) {
      Unplug(*marker_, false);
    } else {
      Plug(*marker_, false);
    }
    ASSERT_TRUE(RunUntil([&] { return deviceChanges_ > changes; }));

    // What must be listed: every present device that can be opened, each once.
    std::vector<Slot*> listable;
    for (const auto& slot : slots_) {
      if (slot->Present && !slot->RefuseOpen) listable.push_back(slot.get());
    }
    const auto& listed = session_->Held();
    auto* list = form_->findChild<QListWidget*>(QStringLiteral("ListBox1"));
    ASSERT_EQ(list->count(), static_cast<int>(listable.size())) << [&] {
      std::string text = "listed:";
      for (const auto& device : listed) text += " " + (device ? device->PlugInfo()->InterfacePath : "none");
      text += "; attached:";
      for (const Slot* slot : listable) text += " " + DeviceOf(*slot)->Path();
      return text;
    }();
    ASSERT_EQ(listed.size(), listable.size());
    std::vector<Slot*> inOrder;
    for (std::size_t i = 0; i < listed.size(); ++i) {
      ASSERT_NE(listed[i], nullptr);
      Slot* slot = SlotOf(listed[i].get());
      ASSERT_NE(slot, nullptr) << "a listed device that was never plugged";
      EXPECT_TRUE(slot->Present && !slot->RefuseOpen) << slot->Label;
      EXPECT_EQ(DeviceOf(*slot)->Path(), listed[i]->PlugInfo()->InterfacePath) << "an earlier plug listed";
      for (const Slot* earlier : inOrder) EXPECT_NE(earlier, slot) << slot->Label << " listed twice";
      inOrder.push_back(slot);
      EXPECT_EQ(list->item(static_cast<int>(i))->text(), ItemText(*slot)) << slot->Label;
      EXPECT_TRUE(listed[i]->IsAttached()) << slot->Label;
    }

    // The last listed driver decides the connection.
    const Slot* deciding = nullptr;
    std::size_t decidingIndex = 0;
    for (std::size_t i = 0; i < inOrder.size(); ++i) {
      if (inOrder[i]->Driver) {
        deciding = inOrder[i];
        decidingIndex = i;
      }
    }
    const bool connected = deciding != nullptr && !deciding->RefuseReadWrite;
    if (connected) {
      ASSERT_TRUE(RunUntil([&] { return Status().startsWith(QStringLiteral("Connected to ")); }))
          << Status().toStdString();
      bool named = false;
      for (const Slot* slot : inOrder) {
        if (slot->Driver && !slot->RefuseReadWrite &&
            Status().endsWith(QString::fromStdString("   " + slot->Driver->Name()))) {
          named = true;
        }
      }
      EXPECT_TRUE(named) << Status().toStdString();
    } else if (inOrder.empty() || deciding != nullptr) {
      EXPECT_EQ(Status(), QStringLiteral("No connection"));
    } else {
      EXPECT_EQ(Status(), QStringLiteral("Disconnected"));
    }
    EXPECT_EQ(session_->Connected(), connected);
    EXPECT_EQ(session_->CurrentDevice(), deciding != nullptr ? listed[decidingIndex].get() : nullptr);

    // A reader runs for every listed driver that can be read and written, and for nothing else.
    int readers = 0;
    for (std::size_t i = 0; i < listed.size(); ++i) {
      const bool wanted = inOrder[i]->Driver != nullptr && !inOrder[i]->RefuseReadWrite;
      EXPECT_EQ(listed[i]->ReaderRunning(), wanted) << inOrder[i]->Label;
      if (listed[i]->ReaderRunning()) ++readers;
    }
    // Each of them was sent the identity request, so each has its writer thread too.
    EXPECT_TRUE(RunUntil([&] { return ThreadCount() == baselineThreads_ + 2 * readers; }))
        << ThreadCount() << " threads, expected " << baselineThreads_ + 2 * readers;

    // Polling: one request of the shown page's kind per 40 ms to the current driver while
    // connected; nothing to anyone otherwise.
    const int page = form_->findChild<QTabWidget*>(QStringLiteral("PageControl1"))->currentIndex();
    const CommandCode poll = page == 0 ? CommandCode::ReadStatus : CommandCode::ReadRegisters;
    FlushWrites();
    std::vector<std::uint64_t> polls;
    for (const Slot* slot : inOrder) polls.push_back(slot->Driver ? slot->Driver->CommandCount(poll) : 0);
    const int attempts = WriteAttempts();
    // A poll is dropped while the one before it is still being written: each goes out first.
    for (int step = 0; step < 5; ++step) {
      AdvanceTime(40);
      FlushWrites();
    }
    for (std::size_t i = 0; i < inOrder.size(); ++i) {
      if (!inOrder[i]->Driver) continue;
      const std::uint64_t sent = inOrder[i]->Driver->CommandCount(poll) - polls[i];
      EXPECT_EQ(sent, connected && i == decidingIndex ? 5u : 0u) << inOrder[i]->Label;
    }
    if (!connected) {
      EXPECT_EQ(WriteAttempts(), attempts);
    }

    Process();
    EXPECT_TRUE(SameSettings(session_->State().Modbus, expected_))
        << Describe(session_->State().Modbus) << " stored, " << Describe(expected_) << " expected";
    ++checkpoints_;
  }

  // Closes the window: no reader may be left, no handle open.
  void Close() {
    plugger_.Drain();
    closing_ = true;
    form_.reset();
    session_.reset();
    std::vector<std::shared_ptr<SimHidDevice>> all;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      all = all_;
    }
    for (const auto& device : all) {
      EXPECT_EQ(device->OpenHandleCount(), 0) << device->Path();
      EXPECT_EQ(device->WaitingReads(), 0) << device->Path();
    }
    EXPECT_TRUE(RunUntil([&] { return ThreadCount() == baselineThreads_; }))
        << ThreadCount() << " threads, " << baselineThreads_ << " before the first reader";
    EXPECT_TRUE(boxes_.Errors.empty()) << boxes_.Errors.front();
  }

  struct Stats {
    int Plugs = 0, Unplugs = 0, FromOtherThread = 0, DeviceChanges = 0, Vanished = 0;
    int Saves = 0, Cancels = 0, Reads = 0, Replies = 0, Acks = 0, AcksChecked = 0, Untraced = 0;
    int RecordMismatches = 0, Checkpoints = 0;
  };
  Stats Counts() const {
    Stats s;
    s.Plugs = plugs_;
    s.Unplugs = unplugs_;
    s.FromOtherThread = plugger_.JobsRun();
    s.DeviceChanges = deviceChanges_;
    s.Vanished = vanished_;
    s.Saves = saves_;
    s.Cancels = cancels_;
    s.Reads = reads_;
    s.Replies = replies_;
    s.Acks = acks_;
    s.AcksChecked = acksChecked_;
    s.Untraced = untraced_;
    s.RecordMismatches = recordMismatches_;
    s.Checkpoints = checkpoints_;
    return s;
  }

 private:
  Slot* AddDriver(const char* label, const char* name) {
    Slot* slot = AddOther(label, u"ZRVXXX", 0x1A2B, 0x0512);
    slot->Driver = std::make_shared<SoakDriver>(name);
    return slot;
  }
  Slot* AddOther(const char* label, std::u16string product, std::uint16_t vendorId,
                 std::uint16_t productId) {
    auto slot = std::make_unique<Slot>();
    slot->Label = label;
    slot->Product = std::move(product);
    slot->VendorID = vendorId;
    slot->ProductID = productId;
    slots_.push_back(std::move(slot));
    return slots_.back().get();
  }

  int Pick(int n) { return static_cast<int>(rng_() % static_cast<std::uint32_t>(n)); }
  bool Chance(int percent) { return Pick(100) < percent; }

  std::shared_ptr<SimHidDevice> DeviceOf(const Slot& slot) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return slot.Device;
  }
  // The slot a device object stands for, whichever of its plugs the object was made from.
  Slot* SlotOf(const THidDevice* device) {
    if (device == nullptr || device->PlugInfo() == nullptr) return nullptr;
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = byPath_.find(device->PlugInfo()->InterfacePath);
    return it == byPath_.end() ? nullptr : it->second;
  }
  QString ItemText(const Slot& slot) const {
    if (!slot.Product.empty()) return Latin1(slot.Product);
    return QString::asprintf("Device VID=%04X PID=%04X", static_cast<unsigned>(slot.VendorID),
                             static_cast<unsigned>(slot.ProductID));
  }
  QString Status() const {
    return form_->findChild<QLineEdit*>(QStringLiteral("ConnectionStatus"))->text();
  }
  int WriteAttempts() {
    int count = 0;
    for (const auto& slot : slots_) {
      if (const auto device = DeviceOf(*slot)) count += device->WriteAttempts();
    }
    return count;
  }

  // --- plug events -----------------------------------------------------------------------------

  // A plug or an unplug, whichever keeps about half of the devices attached; drivers come and go
  // more often than the others.
  void PlugEvent() {
    SettleVanished();
    std::vector<Slot*> absent;
    std::vector<Slot*> present;
    for (const auto& slot : slots_) {
      if (slot.get() == marker_) continue;
      const int weight = slot->Driver ? 3 : 1;
      for (int i = 0; i < weight; ++i) (slot->Present ? present : absent).push_back(slot.get());
    }
    int attached = 0;
    int total = 0;
    for (const auto& slot : slots_) {
      if (slot.get() == marker_) continue;
      ++total;
      if (slot->Present) ++attached;
    }
    if (Pick(total) >= attached) {
      Plug(*absent[static_cast<std::size_t>(Pick(absent.size()))], Chance(50));
    } else {
      Unplug(*present[static_cast<std::size_t>(Pick(present.size()))], Chance(50));
    }
  }

  void Plug(Slot& slot, bool otherThread) {
    SimHidDeviceConfig config;
    config.Path = "/soak/" + slot.Label + "/" + std::to_string(++slot.Plugs);
    config.Instance = nextInstance_++;
    config.VendorID = slot.VendorID;
    config.ProductID = slot.ProductID;
    config.ProductString = slot.Product;
    config.RefuseReadWrite = slot.RefuseReadWrite;
    config.RefuseOpen = slot.RefuseOpen;
    config.RecordWrites = false;
    if (slot.Driver) {
      config.InputReportByteLength = static_cast<std::uint16_t>(sim::kReportLength);
      config.OutputReportByteLength = static_cast<std::uint16_t>(sim::kReportLength);
    } else {
      config.InputReportByteLength = 5;
      config.OutputReportByteLength = 0;
    }
    slot.Path = config.Path;
    slot.Present = true;
    ++plugs_;
    Slot* target = &slot;
    auto job = [this, target, config] {
      {
        // Known before the platform announces the device: the window may list it, write to it
        // and decode its replies before this job ends.
        const std::lock_guard<std::mutex> lock(mutex_);
        byPath_[config.Path] = target;
      }
      std::shared_ptr<SimHidDevice> device = platform_.Plug(config, target->Driver);
      if (target->Driver) target->Driver->Attach(device.get());
      const std::lock_guard<std::mutex> lock(mutex_);
      target->Device = device;
      all_.push_back(device);
    };
    if (otherThread || !plugger_.Idle()) {
      plugger_.Post(job);
    } else {
      job();
    }
  }

  void Unplug(Slot& slot, bool otherThread) {
    slot.Present = false;
    // Held by nobody when it comes back, most of the time.
    slot.RefuseOpen = false;
    if (Chance(75)) slot.RefuseReadWrite = false;
    ++unplugs_;
    Slot* target = &slot;
    // The device is looked up when the job runs: a plug of it may still be on its way.
    auto job = [this, target] { platform_.Unplug(DeviceOf(*target)); };
    if (otherThread || !plugger_.Idle()) {
      plugger_.Post(job);
    } else {
      job();
    }
  }

  // Called from inside a write to `device`: it goes away now, from here or from the other thread.
  // Arms the slot's driver to vanish inside its next write. Writes reach the driver on the
  // device's writer thread, so the unplug happens there (or on one more thread) and only the
  // platform and vanished_ are touched; the run's books follow on this thread (SettleVanished).
  void ArmVanish(Slot& slot) {
    if (!slot.Driver || !slot.Present || !plugger_.Idle()) return;
    const Vanish how = std::array{Vanish::InsideBeforeFirmware, Vanish::InsideAfterFirmware,
                                  Vanish::OtherThread}[static_cast<std::size_t>(Pick(3))];
    const std::shared_ptr<SimHidDevice> current = DeviceOf(slot);
    if (!current) return;
    slot.Driver->ArmVanish(how, [this, current, how](SimHidDevice& device) {
      if (&device != current.get()) return;
      {
        // Booked before the unplug: the window may rescan (and so let go of this writer) as
        // soon as the device is gone.
        const std::lock_guard<std::mutex> lock(mutex_);
        vanishedDevices_.push_back(current);
        ++vanishing_;
      }
      if (how == Vanish::OtherThread) {
        std::thread([&] { platform_.Unplug(current); }).join();
      } else {
        platform_.Unplug(current);
      }
      const std::lock_guard<std::mutex> lock(mutex_);
      --vanishing_;
    });
  }

  // The slots whose latest plug vanished inside a write are absent from now on. A write accepted
  // just before the run unplugged the device may still make it vanish afterwards; by then the slot
  // may be plugged again with the plug still on the other thread, when Device is still the old one,
  // so the vanished device is matched by the path this thread booked, not by Device.
  void SettleVanished() {
    std::vector<std::shared_ptr<SimHidDevice>> vanished;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      vanished.swap(vanishedDevices_);
    }
    for (const auto& device : vanished) {
      for (const auto& slot : slots_) {
        if (slot->Present && slot->Path == device->Path()) {
          slot->Present = false;
          ++unplugs_;
          ++vanished_;
        }
      }
    }
  }

  // --- what the window decodes -------------------------------------------------------------------

  void AfterDeviceChange() {
    ++deviceChanges_;
    for (const auto& device : session_->Held()) {
      if (!device) continue;
      device->SetReadSliceTime(kReadSlice);
      if (device->OnData() && device->OnData() != tracing_) device->SetOnData(tracing_);
    }
  }

  void OnReply(THidDevice* device, std::uint8_t reportId, const std::uint8_t* data, std::uint16_t size) {
    if (closing_) {
      // Stopping the readers while the session is destroyed may still decode a report handed over.
      closingSession_->HandleReply(device, reportId, data, size);
      return;
    }
    ++replies_;
    Slot* slot = SlotOf(device);
    SentReply sent;
    const bool traced = slot != nullptr && slot->Driver && slot->Driver->Trace(reportId, data, size, sent);
    if (!traced && ++untraced_ <= 5) {
      ADD_FAILURE() << "decoded a reply that no driver sent: code " << (size > 0 ? data[0] : -1)
                    << ", " << size << " bytes, from " << (slot ? slot->Label : "an unknown device");
    }
    // A reply carries the settings only when it is long enough for the whole record.
    const int code = size > 0 ? data[0] : -1;
    if (code == 10 && size >= 28) {
      std::memcpy(&expected_, data + 22, sizeof expected_);
      lastWriterIsSave_ = false;
    } else if (code == 20 && size >= 1 + sizeof(ModbusSettings)) {
      std::memcpy(&expected_, data + 1, sizeof expected_);
      lastWriterIsSave_ = false;
    }
    const bool acknowledgement = traced && code == kWriteSettings && sent.Answers == kWriteSettings;

    session_->HandleReply(device, reportId, data, size);

    if (acknowledgement) {
      ++acks_;
      // The driver took exactly what the operator chose, and unless something wrote the record
      // since that save, the record holds it.
      if (sent.SaveNumber != 0 && sent.SaveNumber == lastSave_) {
        EXPECT_TRUE(SameSettings(sent.Saved, lastSaveValues_))
            << Describe(sent.Saved) << " taken by the driver, " << Describe(lastSaveValues_) << " chosen";
      }
      if (lastWriterIsSave_ && sent.SaveNumber == lastSave_) {
        EXPECT_TRUE(SameSettings(session_->State().Modbus, sent.Saved))
            << Describe(session_->State().Modbus) << " stored after the driver took " << Describe(sent.Saved);
        ++acksChecked_;
      }
    }
    CheckRecord();
  }

  void CheckRecord() {
    if (!SameSettings(session_->State().Modbus, expected_) && ++recordMismatches_ <= 5) {
      ADD_FAILURE() << "stored settings " << Describe(session_->State().Modbus) << ", expected "
                    << Describe(expected_);
    }
  }

  // --- the operator and time ----------------------------------------------------------------------

  void Step() {
    const int roll = Pick(100);
    if (roll < 30) {
      AdvanceTime(1 + Pick(200));
    } else if (roll < 36) {
      ShowPage(Pick(2));
    } else if (roll < 42) {
      ClickRead();
    } else if (roll < 54) {
      ClickSave();
    } else if (roll < 62) {
      Process();
    } else if (roll < 72) {
      CatchUp();
    } else if (roll < 79) {
      SetFaults(RandomDriver());
    } else if (roll < 83) {
      if (Slot* slot = RandomDriver()) ArmVanish(*slot);
    } else if (roll < 87) {
      if (Slot* slot = RandomDriver()) {
        if (const auto device = DeviceOf(*slot)) device->SetFailWrites(Chance(50));
      }
    } else if (roll < 91) {
      ToggleAccess(false);
    } else if (roll < 92) {
      ToggleAccess(true);
    } else {
      RunRounds(1);  // lets the readers and the other thread move
    }
  }

  // What the operator may do while the confirmation box is open: time passes, replies and plug
  // events are handled.
  void WhileBoxOpen() {
    const int roll = Pick(10);
    if (roll < 3) {
      AdvanceTime(1 + Pick(200));
    } else if (roll < 5) {
      Process();
    } else if (roll < 6) {
      PlugEvent();
      RunRounds(1);
    }
  }

  void AdvanceTime(int ms) {
    time_.Advance(ms);
    for (const auto& slot : slots_) {
      if (slot->Driver) slot->Driver->Advance(static_cast<std::uint64_t>(time_.NowMs()));
    }
  }

  // Waits, without running the event loop, until no listed device has a report on its way.
  void FlushWrites() {
    auto pending = [this] {
      for (const auto& device : session_->Held()) {
        if (device && device->WritesPending()) return true;
      }
      return false;
    };
    for (int round = 0; round < 20000 && pending(); ++round) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    SettleVanished();
  }

  void Process() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents();
  }

  // Runs the event loop until every running reader of a present device waits for input with
  // nothing queued, or for a few rounds at most.
  void CatchUp() {
    RunUntil(
        [&] {
          for (const auto& device : session_->Held()) {
            if (!device || !device->ReaderRunning()) continue;
            const Slot* slot = SlotOf(device.get());
            const auto sim = slot != nullptr ? DeviceOf(*slot) : nullptr;
            if (!sim || sim->Path() != device->PlugInfo()->InterfacePath || !sim->Plugged()) continue;
            if (sim->QueuedInputReports() > 0 || sim->WaitingReads() == 0) return false;
          }
          return true;
        },
        50);
  }

  void ShowPage(int index) {
    form_->findChild<QTabWidget*>(QStringLiteral("PageControl1"))->setCurrentIndex(index);
  }

  void ClickRead() {
    ++reads_;
    CurrentIsListed();
    form_->findChild<QPushButton*>(QStringLiteral("Btn_ReadSettings"))->click();
    CheckRecord();
  }

  void ClickSave() {
    const bool ok = Chance(75);
    boxes_.Answer = ok;
    boxes_.WhileOpen = [this] { WhileBoxOpen(); };
    boxes_.BeforeAnswer = [this, ok] {
      if (!ok) return;
      // The save reads the lists once the box has been answered.
      ModbusSettings chosen{};
      bool number = false;
      chosen.Baudrate = form_->findChild<QComboBox*>(QStringLiteral("Cb_ModbusBaud"))->currentText().toUInt(&number);
      const int parity = form_->findChild<QComboBox*>(QStringLiteral("Cb_ModbusParity"))->currentIndex();
      const int address = form_->findChild<QComboBox*>(QStringLiteral("Cb_ModbusAddress"))->currentIndex();
      EXPECT_TRUE(number && parity >= 0 && address >= 0) << "a list without a selection";
      chosen.Parity = static_cast<std::uint8_t>(parity);
      chosen.SlaveId = static_cast<std::uint8_t>(address + 1);
      expected_ = chosen;
      lastWriterIsSave_ = true;
      lastSave_ = static_cast<std::uint64_t>(saves_) + 1;
      lastSaveValues_ = chosen;
      for (const auto& slot : slots_) {
        if (slot->Driver) slot->Driver->SetSaveNumber(lastSave_);
      }
    };
    // Sometimes the driver vanishes in the middle of this very save.
    if (Chance(20) && CurrentIsListed()) {
      if (Slot* slot = SlotOf(session_->CurrentDevice())) ArmVanish(*slot);
    }
    form_->findChild<QPushButton*>(QStringLiteral("Btn_SaveParams"))->click();
    // The settings write leaves on the device's writer thread: it belongs to this save.
    FlushWrites();
    if (Chance(50)) CatchUp();
    if (ok) {
      ++saves_;
    } else {
      ++cancels_;
    }
    for (const auto& slot : slots_) {
      if (slot->Driver) slot->Driver->SetSaveNumber(0);
    }
    boxes_.WhileOpen = nullptr;
    boxes_.BeforeAnswer = nullptr;
    CheckRecord();
  }

  // The device sends go to is none or one of the listed ones, at every moment.
  bool CurrentIsListed() {
    const THidDevice* current = session_->CurrentDevice();
    if (current == nullptr) return false;
    for (const auto& device : session_->Held()) {
      if (device.get() == current) return true;
    }
    if (++strayCurrent_ <= 5) ADD_FAILURE() << "CurrentDevice is not one of the listed device objects";
    return false;
  }

  Slot* RandomDriver() {
    SettleVanished();
    std::vector<Slot*> drivers;
    for (const auto& slot : slots_) {
      if (slot->Driver && slot->Present) drivers.push_back(slot.get());
    }
    if (drivers.empty()) return nullptr;
    return drivers[static_cast<std::size_t>(Pick(static_cast<int>(drivers.size())))];
  }

  void SetFaults(Slot* slot) {
    if (slot == nullptr) return;
    static constexpr std::array<std::uint8_t, 7> kWrongCodes = {0, 13, 21, 255, 11, 12, kWriteSettings};
    static constexpr std::array<std::uint8_t, 5> kShortFor = {0, 10, 20, kWriteSettings, 11};
    static constexpr std::array<std::uint8_t, 5> kSilentFor = {10, 11, 12, 20, kWriteSettings};
    sim::DriverFaults faults{};
    switch (Pick(8)) {
      case 1:
        faults.ReplyDelayMs = static_cast<std::uint32_t>(20 + Pick(300));
        break;
      case 2:
        faults.WrongCode = true;
        faults.WrongCodeValue = kWrongCodes[static_cast<std::size_t>(Pick(kWrongCodes.size()))];
        break;
      case 3:
        faults.ShortReplyLength = static_cast<std::size_t>(1 + Pick(40));
        faults.ShortReplyOnlyFor = kShortFor[static_cast<std::size_t>(Pick(kShortFor.size()))];
        break;
      case 4:
        faults.SilentFor[kSilentFor[static_cast<std::size_t>(Pick(kSilentFor.size()))]] = true;
        break;
      case 5:
        faults.SilentAll = true;
        break;
      case 6:
        faults.ReplyDelayMs = static_cast<std::uint32_t>(20 + Pick(100));
        faults.ShortReplyLength = static_cast<std::size_t>(1 + Pick(30));
        break;
      default:
        break;  // a well-behaved driver again
    }
    slot->Driver->SetFaults(faults);
  }

  // Read/write access (or any open at all) refused or allowed again, from now on: listed objects
  // keep what they had, the next scan makes fresh ones.
  void ToggleAccess(bool anyOpen) {
    if (!plugger_.Idle()) return;
    Slot& slot = *slots_[static_cast<std::size_t>(Pick(slots_.size()))];
    if (&slot == marker_ || !slot.Present) return;
    const auto device = DeviceOf(slot);
    if (anyOpen) {
      slot.RefuseOpen = !slot.RefuseOpen;
      if (device) device->SetRefuseOpen(slot.RefuseOpen);
    } else {
      slot.RefuseReadWrite = !slot.RefuseReadWrite;
      if (device) device->SetRefuseReadWrite(slot.RefuseReadWrite);
    }
  }

  int Pick(std::size_t n) { return Pick(static_cast<int>(n)); }

  // Destroyed last to first: the window goes before the other thread, which goes before the
  // platform it plugs into.
  ManualTimeSource time_;
  ScriptedBoxes boxes_;
  SimHidPlatform platform_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Slot>> slots_;
  std::vector<std::shared_ptr<SimHidDevice>> all_;  // every device ever plugged, kept for the end
  std::vector<std::shared_ptr<SimHidDevice>> vanishedDevices_;  // guarded by mutex_
  int vanishing_ = 0;  // booked as vanished, not yet unplugged; guarded by mutex_
  std::unordered_map<std::string, Slot*> byPath_;
  Plugger plugger_;
  std::unique_ptr<DriverSession> session_;
  std::unique_ptr<TForm1> form_;

  std::mt19937 rng_;
  Slot* marker_ = nullptr;
  std::uint32_t nextInstance_ = 1;
  THidDataEvent tracing_;
  DriverSession* closingSession_ = nullptr;  // still there while session_ is being destroyed
  bool closing_ = false;
  int baselineThreads_ = 0;

  // The record as the last save or settings-carrying reply left it.
  ModbusSettings expected_{};
  bool lastWriterIsSave_ = false;
  std::uint64_t lastSave_ = 0;
  ModbusSettings lastSaveValues_{};

  int plugs_ = 0, unplugs_ = 0, deviceChanges_ = 0, saves_ = 0, cancels_ = 0, reads_ = 0;
  int replies_ = 0, acks_ = 0, acksChecked_ = 0, untraced_ = 0, recordMismatches_ = 0;
  int checkpoints_ = 0, vanished_ = 0, strayCurrent_ = 0;
};

TEST(Soak, PlugCyclesUnderFaultsLeaveTheWindowTrue) {
  const int cycles = EnvInt("ZRV_SOAK_CYCLES", 1000);
  const auto seed = static_cast<std::uint32_t>(EnvInt("ZRV_SOAK_SEED", 20261209));
  ASSERT_GT(cycles, 0);
  Soak soak(seed);
  soak.Start();
  ASSERT_FALSE(::testing::Test::HasFatalFailure());
  const int every = std::max(cycles / 10, 1);
  for (int cycle = 1; cycle <= cycles; ++cycle) {
    soak.Cycle();
    if (cycle % every == 0 || cycle == cycles) {
      soak.Checkpoint("after cycle " + std::to_string(cycle));
      ASSERT_FALSE(::testing::Test::HasFatalFailure()) << "seed " << seed << ", cycle " << cycle;
    }
  }
  soak.Close();

  const Soak::Stats s = soak.Counts();
  std::printf("soak: %d cycles, seed %u: %d plugs, %d unplugs (%d jobs on the other thread), %d device "
              "changes, %d devices vanished mid-write, %d saves, %d cancelled, %d reads, %d replies "
              "decoded, %d acknowledgements (%d checked against the record), %d checkpoints\n",
              cycles, seed, s.Plugs, s.Unplugs, s.FromOtherThread, s.DeviceChanges, s.Vanished, s.Saves,
              s.Cancels, s.Reads, s.Replies, s.Acks, s.AcksChecked, s.Checkpoints);
  EXPECT_EQ(s.Untraced, 0);
  EXPECT_EQ(s.RecordMismatches, 0);
  // The run must have exercised what it claims to.
  if (cycles >= 200) {
    EXPECT_GT(s.FromOtherThread, cycles / 4);
    EXPECT_GT(s.Vanished, 0);
    EXPECT_GT(s.AcksChecked, 0);
    EXPECT_GT(s.Cancels, 0);
  }
}

}  // namespace
}  // namespace zrv::soak
