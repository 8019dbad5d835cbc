// What stands between this user and the driver, and how to fix it. The facts about the machine
// (the udev rule, the login session, the node's owner and mode) come through IDoctorProbes, so the
// reasoning is a plain function that tests feed with any situation.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "driver_requests.h"

namespace zrv::cli {

enum class SessionKind {
  LocalSeat,  // logind says: a local session on a seat; uaccess applies
  Remote,     // SSH or a remote logind session: uaccess does not apply
  NoSeat,     // a session without a seat, or none at all (cron, a service)
  Unknown,    // logind could not be asked
};

struct NodeFacts {
  std::uint32_t Mode = 0;  // permission bits
  std::uint32_t Uid = 0;
  std::uint32_t Gid = 0;
  std::string Owner;
  std::string Group;
  std::optional<bool> OnUsb;  // absent when sysfs does not say
};

// What the doctor needs to know about the serial ports, for the RS485 line.
struct SerialPortFacts {
  std::string Path;
  std::string Description;
  std::optional<NodeFacts> Node;      // owner, group and mode, where the system has them
  bool MayOpen = true;                // this user may open it for reading and writing
  std::vector<std::string> HeldBy;    // other programs that have it open, "name (pid)"
};
struct SerialFacts {
  std::vector<SerialPortFacts> Ports;
  bool InDialout = false;          // this process has the dialout group
  bool ListedInDialout = false;    // the user is a member of dialout (from the next login on)
  bool ModemManagerRunning = false;
};

class IDoctorProbes {
 public:
  virtual ~IDoctorProbes() = default;
  // Where the driver's udev rule is installed, or empty when it is not.
  virtual std::string InstalledUdevRule() = 0;
  virtual SessionKind Session() = 0;
  virtual std::optional<NodeFacts> Node(const std::string& node) = 0;
  // Whether file permissions decide who may open a HID device (Linux: udev rules set them). On
  // Windows any user may open one; only another program holding it can shut this one out.
  virtual bool AccessIsByPermission() { return true; }
  virtual SerialFacts Serial() { return {}; }
};

// The real machine. Linux: the rules directories, logind (loginctl) and the environment, stat and
// sysfs. Windows: nothing to ask; access is not by permission.
class SystemProbes final : public IDoctorProbes {
 public:
  std::string InstalledUdevRule() override;
  SessionKind Session() override;
  std::optional<NodeFacts> Node(const std::string& node) override;
  bool AccessIsByPermission() override;
  SerialFacts Serial() override;
};

inline constexpr const char* kUdevRuleName = "70-zrv-pc.rules";

struct Finding {
  std::string Node;     // empty when the finding is about no node
  bool Ok = false;      // a driver that works
  std::string Problem;  // or, when Ok, what was found
  std::string Fix;      // empty when there is nothing to do
};

// Whether a product string is close to the driver's without being it: another letter case, blanks
// around it, or one or two characters added, dropped or changed.
bool LooksLikeDriverName(const std::string& product);

// The fix for a driver node this user may not open.
Finding DiagnoseNoAccess(const DeviceEntry& driver, IDoctorProbes& probes);

// Findings about the attached devices before any driver is asked anything: no driver, look-alike
// names, drivers without access. `answers` tells, for each driver with access (by list index),
// whether it answered the identity request; such drivers get a finding of their own.
// Findings about the serial ports a USB-RS485 adapter brings. They leave the exit status alone:
// it tells about the driver.
std::vector<Finding> DiagnoseSerial(const SerialFacts& facts);

struct DoctorReport {
  std::vector<Finding> Findings;
  int ExitCode = 0;
};
DoctorReport Diagnose(const std::vector<DeviceEntry>& devices, IDoctorProbes& probes,
                      const std::vector<std::pair<int, bool>>& answers, int timeoutMs);

}  // namespace zrv::cli
