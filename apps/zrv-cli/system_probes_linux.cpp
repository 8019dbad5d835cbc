// The facts about a Linux machine that the doctor reasons with.
#include <grp.h>
#include <pwd.h>

#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdlib>
#include <filesystem>

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

}  // namespace zrv::cli
