#include "doctor.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <QProcess>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "cli_options.h"
#include "link/platform/linux/hidraw_node_facts.h"
#include "link/platform/linux/sysfs_text.h"
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
  char text[8];
  std::snprintf(text, sizeof text, "%04o", mode & 07777u);
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

std::string SystemProbes::InstalledUdevRule() {
  for (const char* dir : {"/etc/udev/rules.d", "/usr/lib/udev/rules.d", "/lib/udev/rules.d"}) {
    const std::filesystem::path rule = std::filesystem::path(dir) / kUdevRuleName;
    std::error_code ec;
    if (std::filesystem::exists(rule, ec)) return rule.string();
  }
  return "";
}

SessionKind SystemProbes::Session() {
  for (const char* name : {"SSH_CONNECTION", "SSH_CLIENT", "SSH_TTY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return SessionKind::Remote;
  }
  const char* id = std::getenv("XDG_SESSION_ID");
  if (id == nullptr || *id == '\0') return SessionKind::NoSeat;
  QProcess loginctl;
  loginctl.start(QStringLiteral("loginctl"), {QStringLiteral("show-session"), QString::fromLocal8Bit(id),
                                              QStringLiteral("-p"), QStringLiteral("Remote"),
                                              QStringLiteral("-p"), QStringLiteral("Seat")});
  if (!loginctl.waitForFinished(2000) || loginctl.exitStatus() != QProcess::NormalExit ||
      loginctl.exitCode() != 0) {
    return SessionKind::Unknown;
  }
  const QString output = QString::fromLocal8Bit(loginctl.readAllStandardOutput());
  bool remote = false;
  bool seat = false;
  for (const QString& line : output.split(QLatin1Char('\n'))) {
    if (line.trimmed() == QLatin1String("Remote=yes")) remote = true;
    if (line.startsWith(QLatin1String("Seat=")) && line.trimmed().size() > 5) seat = true;
  }
  if (remote) return SessionKind::Remote;
  return seat ? SessionKind::LocalSeat : SessionKind::NoSeat;
}

std::optional<NodeFacts> SystemProbes::Node(const std::string& node) {
  HidrawNodeFacts raw;
  if (!ReadHidrawNodeFacts("/sys", node, raw)) return std::nullopt;
  NodeFacts facts;
  facts.Mode = raw.Mode;
  facts.Uid = raw.Uid;
  facts.Gid = raw.Gid;
  if (const passwd* pw = getpwuid(raw.Uid)) facts.Owner = pw->pw_name;
  if (const group* gr = getgrgid(raw.Gid)) facts.Group = gr->gr_name;
  if (raw.BusKnown) facts.OnUsb = raw.Bus == kHidBusUsb;
  return facts;
}

Finding DiagnoseNoAccess(const DeviceEntry& driver, IDoctorProbes& probes) {
  Finding f;
  f.Node = driver.Node;
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

DoctorReport Diagnose(const std::vector<DeviceEntry>& devices, IDoctorProbes& probes,
                      const std::vector<std::pair<int, bool>>& answers, int timeoutMs) {
  DoctorReport report;
  auto fail = [&](int code) {
    if (report.ExitCode == kExitOk) report.ExitCode = code;
  };
  bool anyDriver = false;
  for (const DeviceEntry& d : devices) {
    if (!d.IsDriver && LooksLikeDriverName(d.Product)) {
      report.Findings.push_back(
          {d.Node, false,
           "the device at " + d.Node + " is named \"" + d.Product + "\", almost but not exactly \"" +
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
  return report;
}

}  // namespace zrv::cli
