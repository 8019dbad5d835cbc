// A virtual motor driver on the real kernel HID stack: creates a uhid device and runs the
// simulated driver behind it. Used by the VM test and for trying the tool without hardware. Its
// RS485 side, on a serial port or a pseudo-terminal, runs on Qt's event loop in the main thread
// while the HID side keeps its own poll loop on a second thread; both share one driver.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QMetaObject>

#include "driver_options.h"
#include "rs485/sim_line_pty.h"
#include "sim/rs485_line.h"
#include "sim/sim_driver_model.h"
#include "sim/simulated_driver.h"
#include "uhid_bridge.h"

namespace {

using zrv::uhid::DeviceSpec;

std::uint64_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

void Log(const std::string& text) { std::fprintf(stderr, "zrv-uhid-driver: %s\n", text.c_str()); }

// One /dev/uhid file descriptor carries one device.
class UhidNode {
 public:
  explicit UhidNode(DeviceSpec wanted) : spec_(std::move(wanted)) {}
  ~UhidNode() {
    Destroy();
    if (fd_ >= 0) close(fd_);
  }
  UhidNode(const UhidNode&) = delete;
  UhidNode& operator=(const UhidNode&) = delete;

  bool Open() {
    fd_ = open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd_ < 0) Log("cannot open /dev/uhid: " + std::string(std::strerror(errno)));
    return fd_ >= 0;
  }

  bool Create() {
    if (created_) return true;
    uhid_event event{};
    if (!zrv::uhid::BuildCreate(spec_, event)) {
      Log("name or descriptor too long for " + spec_.Name);
      return false;
    }
    if (!Write(event)) return false;
    created_ = true;
    Log("created \"" + spec_.Name + "\"");
    return true;
  }

  void Destroy() {
    if (!created_ || fd_ < 0) return;
    uhid_event event{};
    zrv::uhid::BuildDestroy(event);
    Write(event);
    created_ = false;
    Log("destroyed \"" + spec_.Name + "\"");
  }

  // One whole event per write, as the uhid interface requires.
  bool Write(const uhid_event& event) {
    for (;;) {
      const ssize_t n = write(fd_, &event, sizeof event);
      if (n == static_cast<ssize_t>(sizeof event)) return true;
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) Log("write to /dev/uhid failed: " + std::string(std::strerror(errno)));
      return false;
    }
  }

  // One read returns one event; false when none could be read.
  bool Read(uhid_event& event) {
    std::memset(&event, 0, sizeof event);
    const ssize_t n = read(fd_, &event, sizeof event);
    return n > 0;
  }

  int Fd() const { return fd_; }
  bool Created() const { return created_; }

 private:
  DeviceSpec spec_;
  int fd_ = -1;
  bool created_ = false;
};

// Answers what the kernel asks of a device that has no readable or settable reports.
void AnswerPlainDevice(UhidNode& node, const uhid_event& event) {
  uhid_event reply{};
  if (event.type == UHID_GET_REPORT) {
    reply.type = UHID_GET_REPORT_REPLY;
    reply.u.get_report_reply.id = event.u.get_report.id;
    reply.u.get_report_reply.err = EIO;
    node.Write(reply);
  } else if (event.type == UHID_SET_REPORT) {
    reply.type = UHID_SET_REPORT_REPLY;
    reply.u.set_report_reply.id = event.u.set_report.id;
    reply.u.set_report_reply.err = EIO;
    node.Write(reply);
  }
}

// A file descriptor closed when it goes out of scope, whichever return leaves Run.
class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

// The HID side's loop, until SIGINT or SIGTERM arrives on `signalFd`. Every use of the driver
// holds the model's lock: the RS485 side may be using it on another thread.
int Run(const zrv::uhid::DriverOptions& options, zrv::SimDriverModel& model, int signalFd) {
  auto withDriver = [&model](auto&& use) { model.WithDriver(use); };

  // Declared before the nodes and the bridge, so it is closed after them (the bridge writes to it).
  std::unique_ptr<FILE, FileCloser> recordFile;
  if (!options.RecordPath.empty()) {
    recordFile.reset(std::fopen(options.RecordPath.c_str(), "a"));
    if (!recordFile) {
      Log("cannot open " + options.RecordPath);
      return 1;
    }
  }
  FILE* const record = recordFile.get();

  zrv::sim::SimulatedDriver& driver = model.Driver();
  withDriver([&](zrv::sim::SimulatedDriver&) {
    driver.RecordLimit = 64;  // the record file keeps the history; memory must not grow
    driver.Faults().ReplyDelayMs = options.ReplyDelayMs;
    driver.Faults().ShortReplyLength = options.ShortReplyLength;
    driver.Faults().ShortReplyOnlyFor = options.ShortReplyCode;
    driver.Advance(NowMs());
    if (options.Lively) driver.SetLively(true, options.Seed);
  });

  std::unique_ptr<UhidNode> driverNode;
  std::unique_ptr<UhidNode> pointerNode;
  std::unique_ptr<zrv::uhid::DriverBridge> bridge;
  if (options.Driver && !options.NoHid) {
    driverNode = std::make_unique<UhidNode>(DeviceSpec{options.Name, zrv::uhid::kVendorId,
                                                       zrv::uhid::kDriverProductId,
                                                       zrv::uhid::DriverReportDescriptor(options.NumberedReports)});
    if (!driverNode->Open()) return 1;
    bridge = std::make_unique<zrv::uhid::DriverBridge>(
        driver, options.NumberedReports, [&node = *driverNode](const uhid_event& e) { return node.Write(e); });
    bridge->SetFlood(options.Flood);
    if (record != nullptr) {
      bridge->SetOutputObserver([record](const std::uint8_t* report, std::size_t length) {
        std::fprintf(record, "OUT %zu ", length);
        for (std::size_t i = 0; i < length; ++i) std::fprintf(record, "%02x", report[i]);
        std::fputc('\n', record);
        std::fflush(record);
      });
    }
    if (!driverNode->Create()) return 1;
  }
  if (options.SecondDevice && !options.NoHid) {
    pointerNode = std::make_unique<UhidNode>(DeviceSpec{options.SecondName, zrv::uhid::kVendorId,
                                                        zrv::uhid::kPointerProductId,
                                                        zrv::uhid::PointerReportDescriptor()});
    if (!pointerNode->Open() || !pointerNode->Create()) return 1;
  }

  std::uint64_t createdAt = NowMs();
  std::uint64_t unpluggedAt = 0;
  bool timedUnplugDone = false;
  bool timedReplugDone = false;
  auto unplug = [&] {
    driverNode->Destroy();
    withDriver([&](zrv::sim::SimulatedDriver&) { bridge->ResetKernelState(); });
    unpluggedAt = NowMs();
  };
  auto replug = [&] {
    if (driverNode->Create()) createdAt = NowMs();
  };

  bool running = true;
  while (running) {
    const std::uint64_t now = NowMs();
    std::size_t pendingReplies = 0;
    withDriver([&](zrv::sim::SimulatedDriver&) {
      driver.Advance(now);
      pendingReplies = driver.PendingReplies();
    });

    // Timed unplug and replug, once each.
    std::int64_t waitMs = -1;
    auto until = [&](std::uint64_t due) {
      const auto left = static_cast<std::int64_t>(due > now ? due - now : 0);
      waitMs = waitMs < 0 ? left : std::min(waitMs, left);
    };
    if (driverNode && options.UnplugAfterMs >= 0 && !timedUnplugDone && driverNode->Created()) {
      const std::uint64_t due = createdAt + static_cast<std::uint64_t>(options.UnplugAfterMs);
      if (now >= due) {
        unplug();
        timedUnplugDone = true;
        continue;
      }
      until(due);
    }
    if (driverNode && options.ReplugAfterMs >= 0 && timedUnplugDone && !timedReplugDone &&
        !driverNode->Created()) {
      const std::uint64_t due = unpluggedAt + static_cast<std::uint64_t>(options.ReplugAfterMs);
      if (now >= due) {
        replug();
        timedReplugDone = true;
        continue;
      }
      until(due);
    }
    if (options.Lively) until(now + 20);
    if (pendingReplies > 0) until(now + 5);
    if (bridge && bridge->FloodDue()) until(now);

    pollfd fds[3] = {{signalFd, POLLIN, 0}, {-1, POLLIN, 0}, {-1, POLLIN, 0}};
    if (driverNode) fds[1].fd = driverNode->Fd();
    if (pointerNode) fds[2].fd = pointerNode->Fd();
    const int ready = poll(fds, 3, static_cast<int>(std::min<std::int64_t>(waitMs, 60000)));
    if (ready < 0 && errno != EINTR) {
      Log("poll failed: " + std::string(std::strerror(errno)));
      break;
    }

    if ((fds[0].revents & POLLIN) != 0) {
      signalfd_siginfo info{};
      if (read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo == SIGUSR1) {
          if (driverNode) {
            if (driverNode->Created()) {
              unplug();
            } else {
              replug();
            }
          }
        } else {
          running = false;
        }
      }
    }
    if ((fds[1].revents & POLLIN) != 0) {
      uhid_event event;
      if (driverNode->Read(event)) {
        if (event.type == UHID_OPEN && bridge->OpenCount() == 0) Log("opened");
        // The model's clock as the command arrives: a reply delay counts from here, not from the
        // last wake-up, which may be long past for an idle driver.
        withDriver([&](zrv::sim::SimulatedDriver&) {
          driver.Advance(NowMs());
          bridge->OnEvent(event);
        });
      }
    }
    if ((fds[2].revents & POLLIN) != 0) {
      uhid_event event;
      if (pointerNode->Read(event)) AnswerPlainDevice(*pointerNode, event);
    }
    if (bridge && bridge->FloodDue()) {
      withDriver([&](zrv::sim::SimulatedDriver&) { bridge->SendFlood(256); });
      if (!bridge->FloodDue()) {
        Log("flood sent, " + std::to_string(bridge->InputsSent()) + " reports in all, " +
            std::to_string(bridge->InputsFailed()) + " refused");
      }
    }
  }

  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  zrv::uhid::DriverOptions options;
  std::string error;
  if (!zrv::uhid::ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::fprintf(stderr, "zrv-uhid-driver: %s\n%s", error.c_str(), zrv::uhid::kUsage);
    return 2;
  }
  if (options.Help) {
    std::fputs(zrv::uhid::kUsage, stdout);
    return 0;
  }

  // Blocked before any thread starts, so that every thread leaves them to the signalfd.
  sigset_t handled;
  sigemptyset(&handled);
  sigaddset(&handled, SIGINT);
  sigaddset(&handled, SIGTERM);
  sigaddset(&handled, SIGUSR1);
  if (sigprocmask(SIG_BLOCK, &handled, nullptr) != 0) return 1;
  const UniqueFd signalFd(signalfd(-1, &handled, SFD_CLOEXEC));
  if (signalFd.Get() < 0) return 1;

  auto model = std::make_shared<zrv::SimDriverModel>();
  model->WithDriver([&](zrv::sim::SimulatedDriver& driver) {
    zrv::ModbusSettings& start = driver.Model().Modbus;
    if (options.SlaveId) start.SlaveId = *options.SlaveId;
    if (options.Baudrate) start.Baudrate = *options.Baudrate;
    if (options.Parity) start.Parity = *options.Parity;
  });
  if (!options.Rs485()) return Run(options, *model, signalFd.Get());

  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QCoreApplication app(qtArgc, qtArgv);
  zrv::SimLinePty line(model);
  if (!options.Rs485Fault.empty()) line.SetFault(*zrv::sim::Rs485FaultFromName(options.Rs485Fault));
  QString openError;
  std::string lastProblem;
  QObject::connect(&line, &zrv::SimLinePty::SerialProblem, &app, [&lastProblem](const QString& text) {
    // Tried again every tenth of a second: said once until it changes.
    if (text.toStdString() == lastProblem) return;
    lastProblem = text.toStdString();
    Log(lastProblem);
  });
  const bool opened = options.Rs485Port.empty() ? line.Open(QString::fromStdString(options.Rs485PtyLink), &openError)
                                                : line.OpenSerial(QString::fromStdString(options.Rs485Port), &openError);
  if (!opened) {
    Log(openError.toStdString());
    return 1;
  }
  zrv::ModbusSettings start{};
  model->WithDriver([&](zrv::sim::SimulatedDriver& driver) { start = driver.Model().Modbus; });
  Log("RS485 side on " + line.PortPath().toStdString() + ", slave " + std::to_string(start.SlaveId) + ", " +
      std::to_string(start.Baudrate) + " baud, parity " +
      (start.Parity == 0 ? "none" : start.Parity == 1 ? "odd" : "even"));

  int rc = 0;
  std::thread hid([&] {
    rc = Run(options, *model, signalFd.Get());
    QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
  });
  QCoreApplication::exec();
  hid.join();
  return rc;
}
