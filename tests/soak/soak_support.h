// Helpers of the soak run: scripted message boxes, a thread that plugs and unplugs devices, and a
// driver model that remembers every reply it sent and can make its device vanish mid-write.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "link/platform/sim/sim_hid_platform.h"
#include "protocol/device_state.h"
#include "sim/simulated_driver.h"
#include "support/thread_count.h"
#include "ui/message_boxes.h"

namespace zrv::soak {

using test::ThreadCount;

// Answers every question with `Answer`. While a box is "open" it runs `WhileOpen`, as the real
// modal box keeps timers and input reports going; `BeforeAnswer` runs last, just before the
// answer goes back.
class ScriptedBoxes final : public IMessageBoxes {
 public:
  void Warning(std::string_view caption, std::string_view text) override;
  bool Question(std::string_view caption, std::string_view text) override;
  void Error(std::string_view caption, std::string_view text) override;

  bool Answer = true;
  std::function<void()> WhileOpen;
  std::function<void()> BeforeAnswer;
  int Questions = 0;
  int Warnings = 0;
  std::vector<std::string> Errors;
};

// One worker thread that runs posted jobs in order: plugs and unplugs that land at moments the
// UI thread does not choose.
class Plugger {
 public:
  Plugger();
  ~Plugger();
  Plugger(const Plugger&) = delete;
  Plugger& operator=(const Plugger&) = delete;

  void Post(std::function<void()> job);
  // Posts and waits until the job has run (and every job before it).
  void RunAndWait(std::function<void()> job);
  // Waits until every posted job has run.
  void Drain();
  bool Idle() const;
  int JobsRun() const;

 private:
  void Loop();

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> jobs_;
  bool busy_ = false;
  bool quit_ = false;
  int done_ = 0;
  std::thread thread_;
};

// What one reply carried and what it answered.
struct SentReply {
  std::array<std::uint8_t, sim::kReportLength> Bytes{};
  std::size_t Length = 0;
  std::uint8_t Answers = 0;      // the command code it answers
  ModbusSettings Saved{};        // Answers == 148: the settings the firmware took
  std::uint64_t SaveNumber = 0;  // Answers == 148: which confirmed save sent them (0: none known)
};

// How a device goes away in the middle of a write to it.
enum class Vanish {
  None,
  InsideBeforeFirmware,  // unplugged from inside the write; the firmware never sees the report
  InsideAfterFirmware,   // unplugged from inside the write, after the firmware has answered
  OtherThread,           // another thread unplugs it while the write waits; the firmware then acts
};

// The simulated firmware behind one physical driver, which may be plugged again and again (each
// time as a new device). Replies go to the device most recently plugged or written to. Every reply
// sent is kept, in order, so a reply the window decodes can be traced back to what was sent.
class SoakDriver final : public ISimHidModel {
 public:
  explicit SoakDriver(std::string name);

  const std::string& Name() const { return name_; }
  // Replies go to `device` from now on. The device must stay alive for the whole run.
  void Attach(SimHidDevice* device);

  void OnOutputReport(SimHidDevice& device, const std::uint8_t* report, std::size_t length) override;
  // Releases late replies that are due.
  void Advance(std::uint64_t nowMs);

  // Faults of the firmware from now on. Writes reach the driver on the device's writer thread.
  void SetFaults(const sim::DriverFaults& faults);
  std::uint64_t CommandCount(CommandCode code) const;
  // The settings the firmware holds now.
  ModbusSettings Settings() const;

  // The next write to this driver makes its device vanish `how`; `unplug` does the unplugging.
  void ArmVanish(Vanish how, std::function<void(SimHidDevice&)> unplug);

  // Which save a settings write belongs to: set around the confirmed save.
  void SetSaveNumber(std::uint64_t number);

  // Finds the reply that the window is decoding now among those sent since the last one found:
  // the same report ID, length and bytes. Replies passed over were lost on the way (a full queue,
  // an unplug, a reader that stopped), which is allowed; one that is not found at all was made up
  // or changed on the way. On success `out` is the reply found.
  bool Trace(std::uint8_t reportId, const std::uint8_t* data, std::size_t size, SentReply& out);

 private:
  void Emit(const std::uint8_t* report, std::size_t length);  // mutex_ held

  const std::string name_;
  mutable std::mutex mutex_;
  sim::SimulatedDriver driver_;
  SimHidDevice* device_ = nullptr;
  // One entry per reply the firmware has built and not yet sent, oldest first; they leave in this
  // order.
  std::deque<SentReply> building_;
  std::deque<SentReply> sent_;  // sent and not yet traced
  std::uint64_t saveNumber_ = 0;
  Vanish vanish_ = Vanish::None;
  std::function<void(SimHidDevice&)> unplug_;
};

}  // namespace zrv::soak
