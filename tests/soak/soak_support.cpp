#include "soak_support.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

namespace zrv::soak {

namespace {
// More than a device's input queue and a reader can hold back, so a reply still on its way is
// never dropped from the record before it is decoded.
constexpr std::size_t kSentKept = 1024;
constexpr std::uint8_t kWriteSettings = static_cast<std::uint8_t>(CommandCode::WriteModbusSettings);
}  // namespace

// ---------------------------------------------------------------------------------------------

void ScriptedBoxes::Warning(std::string_view /*caption*/, std::string_view /*text*/) { ++Warnings; }

bool ScriptedBoxes::Question(std::string_view /*caption*/, std::string_view /*text*/) {
  ++Questions;
  if (WhileOpen) WhileOpen();
  if (BeforeAnswer) BeforeAnswer();
  return Answer;
}

void ScriptedBoxes::Error(std::string_view /*caption*/, std::string_view text) {
  Errors.emplace_back(text);
}

// ---------------------------------------------------------------------------------------------

Plugger::Plugger() : thread_([this] { Loop(); }) {}

Plugger::~Plugger() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void Plugger::Post(std::function<void()> job) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  changed_.notify_all();
}

void Plugger::RunAndWait(std::function<void()> job) {
  int target = 0;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(job));
    target = done_ + static_cast<int>(jobs_.size()) + (busy_ ? 1 : 0);
  }
  changed_.notify_all();
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return done_ >= target; });
}

void Plugger::Drain() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return jobs_.empty() && !busy_; });
}

bool Plugger::Idle() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return jobs_.empty() && !busy_;
}

int Plugger::JobsRun() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return done_;
}

void Plugger::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return quit_ || !jobs_.empty(); });
    if (jobs_.empty()) return;
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    busy_ = true;
    lock.unlock();
    job();
    lock.lock();
    busy_ = false;
    ++done_;
    changed_.notify_all();
  }
}

// ---------------------------------------------------------------------------------------------

SoakDriver::SoakDriver(std::string name) : name_(std::move(name)) {
  driver_.Model().SetName(name_);
  driver_.RecordLimit = 0;  // the run keeps its own record of what matters
  driver_.SetSink([this](const std::uint8_t* report, std::size_t length) { Emit(report, length); });
}

void SoakDriver::Attach(SimHidDevice* device) {
  const std::lock_guard<std::mutex> lock(mutex_);
  device_ = device;
}

void SoakDriver::OnOutputReport(SimHidDevice& device, const std::uint8_t* report, std::size_t length) {
  Vanish how = Vanish::None;
  std::function<void(SimHidDevice&)> unplug;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    device_ = &device;
    how = std::exchange(vanish_, Vanish::None);
    unplug = std::exchange(unplug_, nullptr);
  }
  if (how == Vanish::InsideBeforeFirmware) {
    unplug(device);
    return;
  }
  if (how == Vanish::OtherThread) unplug(device);
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    SentReply entry;
    if (length > 1) entry.Answers = report[1];
    if (entry.Answers == kWriteSettings && length >= 2 + sizeof(ModbusSettings)) {
      std::memcpy(&entry.Saved, report + 2, sizeof entry.Saved);
      entry.SaveNumber = saveNumber_;
    }
    const std::uint64_t builtBefore = driver_.TotalReplies() + driver_.PendingReplies();
    building_.push_back(entry);
    driver_.OnOutputReport(report, length);
    // No reply built (a silent or unknown command): the entry was never used.
    if (driver_.TotalReplies() + driver_.PendingReplies() == builtBefore) building_.pop_back();
  }
  if (how == Vanish::InsideAfterFirmware) unplug(device);
}

void SoakDriver::Advance(std::uint64_t nowMs) {
  const std::lock_guard<std::mutex> lock(mutex_);
  driver_.Advance(nowMs);
}

std::uint64_t SoakDriver::CommandCount(CommandCode code) const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return driver_.CommandCount(static_cast<std::uint8_t>(code));
}

ModbusSettings SoakDriver::Settings() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return driver_.Model().Modbus;
}

void SoakDriver::SetFaults(const sim::DriverFaults& faults) {
  const std::lock_guard<std::mutex> lock(mutex_);
  driver_.Faults() = faults;
}

void SoakDriver::SetSaveNumber(std::uint64_t number) {
  const std::lock_guard<std::mutex> lock(mutex_);
  saveNumber_ = number;
}

void SoakDriver::ArmVanish(Vanish how, std::function<void(SimHidDevice&)> unplug) {
  const std::lock_guard<std::mutex> lock(mutex_);
  vanish_ = how;
  unplug_ = std::move(unplug);
}

void SoakDriver::Emit(const std::uint8_t* report, std::size_t length) {
  // Replies leave in the order they were built, so the oldest entry is this one's.
  SentReply entry;
  if (!building_.empty()) {
    entry = building_.front();
    building_.pop_front();
  }
  entry.Length = std::min(length, entry.Bytes.size());
  std::memcpy(entry.Bytes.data(), report, entry.Length);
  sent_.push_back(entry);
  if (sent_.size() > kSentKept) sent_.pop_front();
  if (device_ != nullptr) device_->InjectInputReport(report, length);
}

bool SoakDriver::Trace(std::uint8_t reportId, const std::uint8_t* data, std::size_t size, SentReply& out) {
  const std::lock_guard<std::mutex> lock(mutex_);
  for (std::size_t i = 0; i < sent_.size(); ++i) {
    const SentReply& sent = sent_[i];
    if (sent.Length != size + 1 || sent.Bytes[0] != reportId) continue;
    if (size > 0 && std::memcmp(sent.Bytes.data() + 1, data, size) != 0) continue;
    out = sent;
    sent_.erase(sent_.begin(), sent_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    return true;
  }
  return false;
}

}  // namespace zrv::soak
