#include "doctor.h"

#include <algorithm>
#include <cctype>

#include "cli_options.h"
#include "protocol/reply_decoder.h"

namespace zrv::cli {

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

std::size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::string ModeText(std::uint32_t mode) {
  std::string text = "0000";
  for (int i = 3; i >= 0; --i, mode >>= 3U) text[static_cast<std::size_t>(i)] = static_cast<char>('0' + (mode & 7U));
  return text;
}

const char* const kGroupRuleFix =
    "or give a group access with a rule of your own, e.g. /etc/udev/rules.d/71-zrv-pc-group.rules:\n"
    "  SUBSYSTEM==\"hidraw\", ATTRS{product}==\"ZRVXXX\", GROUP=\"plugdev\", MODE=\"0660\"\n"
    "then `sudo udevadm control --reload && sudo udevadm trigger`, and add the user to that group";

}  // namespace

bool LooksLikeDriverName(const std::string& product) {
  const std::string driver(kDriverProductString);
  if (product == driver || product.empty()) return false;
  if (Lower(Trim(product)) == Lower(driver)) return true;
  return EditDistance(Lower(product), Lower(driver)) <= 2;
}

Finding DiagnoseNoAccess(const DeviceEntry& driver, IDoctorProbes& probes) {
  Finding f;
  f.Node = driver.Node;
  if (!probes.AccessIsByPermission()) {
    f.Problem = "the driver is at " + driver.Node + " but it cannot be opened for reading and writing: "
                "another program has it open";
    f.Fix = "close the other program that uses the driver (another zrv-pc or zrv-cli, or any other tool "
            "that talks to it), or unplug and replug the driver; HID devices need no driver installation or "
            "permission on Windows";
    return f;
  }
  f.Problem = "the driver is at " + driver.Node + " but this user may not open it for reading and writing";
  if (const std::optional<NodeFacts> node = probes.Node(driver.Node)) {
    f.Problem += " (mode " + ModeText(node->Mode) + ", owner " +
                 (node->Owner.empty() ? std::to_string(node->Uid) : node->Owner) + ", group " +
                 (node->Group.empty() ? std::to_string(node->Gid) : node->Group) + ")";
    if (node->OnUsb && !*node->OnUsb) {
      f.Problem += "; it is not on USB, and the udev rule matches USB devices only";
      f.Fix = std::string("run as root (sudo zrv-cli ...), ") + kGroupRuleFix;
      return f;
    }
  }
  const std::string rule = probes.InstalledUdevRule();
  if (rule.empty()) {
    f.Problem += "; the udev rule " + std::string(kUdevRuleName) + " is not installed";
    f.Fix = "install the zrv-pc package, or copy packaging/" + std::string(kUdevRuleName) +
            " to /etc/udev/rules.d/, run `sudo udevadm control --reload && sudo udevadm trigger`, "
            "then unplug and replug the driver";
    return f;
  }
  switch (probes.Session()) {
    case SessionKind::Remote:
      f.Problem += "; the udev rule is installed (" + rule +
                   "), but this is a remote session (SSH), and its uaccess tag gives the driver only to "
                   "the user logged in at the machine's seat";
      f.Fix = std::string("run as root (sudo zrv-cli ...), log in at the machine itself, ") + kGroupRuleFix;
      break;
    case SessionKind::NoSeat:
    case SessionKind::Unknown:
      f.Problem += "; the udev rule is installed (" + rule +
                   "), but this session is not a local seat session, so its uaccess tag does not apply";
      f.Fix = std::string("run as root (sudo zrv-cli ...), run from a desktop session at the machine, ") +
              kGroupRuleFix;
      break;
    case SessionKind::LocalSeat:
      f.Problem += "; the udev rule is installed (" + rule +
                   ") and this is a local seat session, so the node was set up before the rule was there, "
                   "or another rule overrides it";
      f.Fix = "unplug and replug the driver (or `sudo udevadm trigger`), then run `zrv-cli doctor` again";
      break;
  }
  return f;
}

std::vector<Finding> DiagnoseSerial(const SerialFacts& facts) {
  // Without an adapter there is nothing to say: most uses of the tool need none.
  std::vector<Finding> findings;
  for (const SerialPortFacts& port : facts.Ports) {
    const std::string name = port.Path + (port.Description.empty() ? "" : " (" + port.Description + ")");
    if (!port.MayOpen) {
      Finding f{port.Path, false, "this user may not open the serial port " + name, ""};
      const std::string group = port.Node && !port.Node->Group.empty() ? port.Node->Group : "dialout";
      if (port.Node) f.Problem += " (mode " + ModeText(port.Node->Mode) + ", group " + group + ")";
      if (group == "dialout" && facts.ListedInDialout && !facts.InDialout) {
        f.Fix = "the user is in the dialout group since this login began: log out and in again "
                "(or start a shell with `newgrp dialout`)";
      } else {
        f.Fix = "add the user to the " + group + " group: `sudo usermod -aG " + group +
                " $USER`, then log out and in again";
      }
      findings.push_back(f);
      continue;
    }
    if (!port.HeldBy.empty()) {
      std::string holders;
      bool modemManager = false;
      for (const std::string& h : port.HeldBy) {
        holders += (holders.empty() ? "" : ", ") + h;
        modemManager = modemManager || h.rfind("ModemManager", 0) == 0;
      }
      findings.push_back(
          {port.Path, false, "the serial port " + name + " is held by " + holders,
           modemManager ? "ModemManager takes it for a modem: `sudo systemctl stop ModemManager`, or keep it away "
                          "from the adapter with a udev rule setting ENV{ID_MM_DEVICE_IGNORE}=\"1\""
                        : "close that program; two programs on one port garble each other's frames"});
      continue;
    }
    findings.push_back({port.Path, true, "the serial port " + name + " can be opened", ""});
  }
  if (facts.ModemManagerRunning && !facts.Ports.empty()) {
    findings.push_back({"", false,
                        "ModemManager is running: it may open a newly plugged adapter for several seconds "
                        "and send it modem commands, which a driver on the line takes for noise",
                        "give the adapter a udev rule setting ENV{ID_MM_DEVICE_IGNORE}=\"1\", or "
                        "`sudo systemctl disable --now ModemManager` if no modem is used"});
  }
  return findings;
}

DoctorReport Diagnose(const std::vector<DeviceEntry>& devices, IDoctorProbes& probes,
                      const std::vector<std::pair<int, bool>>& answers, int timeoutMs) {
  DoctorReport report;
  auto fail = [&](int code) {
    if (report.ExitCode == kExitOk) report.ExitCode = code;
  };
  bool anyDriver = false;
  for (const DeviceEntry& d : devices) {
    if (!d.IsDriver && LooksLikeDriverName(ProductText(d))) {
      report.Findings.push_back(
          {d.Node, false,
           "the device at " + d.Node + " is named \"" + ProductText(d) + "\", almost but not exactly \"" +
               std::string(kDriverProductString) + "\", so it is not taken for the driver",
           "if it is a driver, its USB product string must read exactly \"" + std::string(kDriverProductString) +
               "\" (letter case and blanks count); otherwise ignore this"});
    }
  }
  for (const DeviceEntry& d : devices) {
    if (!d.IsDriver) continue;
    anyDriver = true;
    if (!d.ReadWrite) {
      report.Findings.push_back(DiagnoseNoAccess(d, probes));
      fail(kExitNoAccess);
      continue;
    }
    const auto answer = std::find_if(answers.begin(), answers.end(),
                                     [&](const std::pair<int, bool>& a) { return a.first == d.Index; });
    if (answer != answers.end() && !answer->second) {
      report.Findings.push_back(
          {d.Node, false,
           "the driver at " + d.Node + " opens but does not answer the identity request within " +
               std::to_string(timeoutMs) + " ms",
           "power the driver off and on, check that no other program is using it, and try a longer --timeout"});
      fail(kExitNoAnswer);
    } else {
      report.Findings.push_back({d.Node, true, "the driver at " + d.Node + " can be opened and answers", ""});
    }
  }
  if (!anyDriver) {
    report.Findings.insert(report.Findings.begin(),
                           {"", false,
                            "no driver found: no HID device has the product string \"" +
                                std::string(kDriverProductString) + "\"",
                            "check the USB cable and the driver's power supply; `zrv-cli list` shows what is "
                            "attached"});
    report.ExitCode = kExitNoDriver;
  }
  for (Finding& f : DiagnoseSerial(probes.Serial())) report.Findings.push_back(std::move(f));
  return report;
}

}  // namespace zrv::cli
