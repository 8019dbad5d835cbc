// The whole link test as a technician runs it, for every front end: the line settings from the
// driver over USB unless given, the driver's good-frame counter and registers over USB before and
// after, the reads on the RS485 line in between, and the verdict with its numbers. Event driven
// on the caller's thread: nothing waits, Cancel ends it at once, and an adapter or a driver going
// away ends it cleanly with what was seen.
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "link/ttimer.h"
#include "modbus/link_test.h"
#include "rs485/byte_transport.h"
#include "rs485/link_test_runner.h"

namespace zrv {

class DriverSession;

struct LinkCheckPlan {
  std::optional<modbus::LineSettings> Line;  // none: the driver's own, asked over USB
  std::optional<std::uint8_t> Slave;         // none: the driver's own
  int Rounds = 10;                           // reads of the previewed registers, two requests each
  modbus::RegisterTable Table = modbus::RegisterTable::Holding;  // input: no fallback from holding
  // The driver's own address as USB last told it, when the front end knows it: a test at another
  // address is heard by the driver (its counter rises) but never answered, and says so.
  std::optional<std::uint8_t> DriverSlave{};
};

struct LinkCheckReport {
  // A test the driver heard but did not answer because it asked another address than the driver's.
  bool AskedAnotherSlave() const;

  modbus::LinkTestResult Result;
  modbus::LineSettings Line;
  std::uint8_t Slave = 0;
  bool SettingsFromUsb = false;
  std::optional<std::uint8_t> DriverSlave;  // the driver's own address over USB, when known
  bool CounterRead = false;      // before and after, over USB
  std::optional<std::uint16_t> CounterBefore;  // the good-frame counter over USB
  std::optional<std::uint16_t> CounterAfter;
  bool DriverWentAway = false;   // unplugged (or silent) during the test
  bool Cancelled = false;
  modbus::RegisterTable Table = modbus::RegisterTable::Holding;
  modbus::Rs485Registers Rs485;           // what the line answered
  std::optional<RegisterBlock> Usb;       // what USB showed (after, else before)
  QString Problem;  // why no test ran at all (settings unknown), empty otherwise
};

class LinkCheck : public QObject {
  Q_OBJECT

 public:
  // `session` may be null (no driver on USB). Both must outlive this.
  LinkCheck(DriverSession* session, TimeSource& time, std::function<std::uint64_t()> nowUs,
            QObject* parent = nullptr);
  ~LinkCheck() override;
  LinkCheck(const LinkCheck&) = delete;
  LinkCheck& operator=(const LinkCheck&) = delete;

  // Starts on `transport`, which must outlive the check; false while one runs.
  bool Start(ByteTransport& transport, const LinkCheckPlan& plan);
  void Cancel();
  bool Running() const { return phase_ != Phase::Idle; }

  // How long each USB step waits for its reply.
  static constexpr int kUsbAnswerMs = 1000;

 signals:
  // Requests sent on the line so far, of how many.
  void Progress(int sent, int planned);
  void Finished(const zrv::LinkCheckReport& report);

 private:
  enum class Phase { Idle, Settings, CounterBefore, Line, CounterAfter };
  bool DriverThere() const;
  void AskSettings();
  void AskRegisters(Phase phase);
  void OnRegisters();
  void OnUsbTimeout();
  void StartLine();
  void LineDone(const modbus::LinkTest& test);
  void Finish();

  DriverSession* session_;
  TimeSource& time_;
  std::function<std::uint64_t()> nowUs_;
  TTimer usbWait_;
  TTimer progress_;
  ByteTransport* transport_ = nullptr;
  std::unique_ptr<LinkTestRunner> runner_;
  LinkCheckPlan plan_;
  Phase phase_ = Phase::Idle;
  LinkCheckReport report_;
  modbus::UsbView usb_;
  std::uint64_t repliesWanted_ = 0;  // register replies decoded by the one that counts
};

}  // namespace zrv
