// The facts about a Linux machine that the doctor reasons with.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdlib>
#include <vector>
#include <filesystem>

#include "bus/serial_port_list.h"
#include "doctor.h"
#include "link/platform/linux/hidraw_node_facts.h"
#include "link/platform/linux/sysfs_text.h"

namespace zrv::cli {

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

bool SystemProbes::AccessIsByPermission() { return true; }

namespace {

bool ProcessHasGroup(gid_t wanted) {
  if (getegid() == wanted) return true;
  const int n = getgroups(0, nullptr);
  if (n <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(n));
  if (getgroups(n, groups.data()) != n) return false;
  return std::find(groups.begin(), groups.end(), wanted) != groups.end();
}

bool ModemManagerRuns() {
  std::error_code ec;
  for (const auto& process : std::filesystem::directory_iterator("/proc", ec)) {
    QFile comm(QString::fromStdString((process.path() / "comm").string()));
    if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "ModemManager") return true;
  }
  return false;
}

}  // namespace

SerialFacts SystemProbes::Serial() {
  SerialFacts facts;
  if (const group* dialout = getgrnam("dialout")) {
    facts.InDialout = ProcessHasGroup(dialout->gr_gid);
    const passwd* me = getpwuid(getuid());
    if (me != nullptr) {
      facts.ListedInDialout = me->pw_gid == dialout->gr_gid;
      for (char** member = dialout->gr_mem; member != nullptr && *member != nullptr; ++member) {
        facts.ListedInDialout = facts.ListedInDialout || std::string(*member) == me->pw_name;
      }
    }
  }
  facts.ModemManagerRunning = ModemManagerRuns();
  for (const bus::SerialPortInfo& info : bus::ListSerialPorts()) {
    SerialPortFacts port;
    port.Path = info.path.toStdString();
    port.Description = info.description.toStdString();
    struct stat st {};
    if (stat(port.Path.c_str(), &st) == 0) {
      NodeFacts node;
      node.Mode = st.st_mode & 07777U;
      node.Uid = st.st_uid;
      node.Gid = st.st_gid;
      if (const passwd* pw = getpwuid(st.st_uid)) node.Owner = pw->pw_name;
      if (const group* gr = getgrgid(st.st_gid)) node.Group = gr->gr_name;
      port.Node = node;
    }
    port.MayOpen = access(port.Path.c_str(), R_OK | W_OK) == 0;
    for (const QString& holder : bus::ProgramsHolding(info.path)) port.HeldBy.push_back(holder.toStdString());
    facts.Ports.push_back(std::move(port));
  }
  return facts;
}

}  // namespace zrv::cli
