// zrv-cli on the real kernel: the status as JSON and a settings write against the virtual driver,
// checked in the bytes the driver recorded; and doctor for a user who may not open the node.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonArray>
#include <QJsonObject>

#include <array>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "guest_support.h"
#include "link/platform/linux/linux_hid_platform.h"

namespace zrv::vmtest {
namespace {

constexpr std::uint32_t kUnprivilegedUid = 1000;

// Hex of each output report the driver recorded ("OUT <length> <hex>").
std::vector<std::string> RecordedReports(const std::string& path) {
  std::vector<std::string> reports;
  std::ifstream in(path);
  std::string tag;
  std::size_t length = 0;
  std::string hex;
  while (in >> tag >> length >> hex) {
    if (tag == "OUT") reports.push_back(hex);
  }
  return reports;
}

void CliOnTheKernel(Checks& c) {
  const std::string record = "/tmp/zrv-cli.rec";
  std::remove(record.c_str());
  DriverProcess driver({"--record", record});
  LinuxHidPlatform platform;
  const auto found = WaitForProduct(platform, "ZRVXXX");
  if (!c.That(found.has_value(), "driver not listed")) return;
  c.That(WaitForUdev(found->Path), "udev never handled " + found->Path);

  const CliRun status = RunCli("status --json");
  c.Equal(status.status, 0, "status --json exit status (" + CliErrorText() + ")");
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(status.output));
  c.That(doc.isObject() && doc.object().value("supply_mv").isDouble() && doc.object().value("out1").isBool(),
         "status --json is not the status object: " + status.output);

  const CliRun set = RunCli("modbus set --slave-id 17 --baud 38400 --parity odd");
  c.Equal(set.status, 0, "modbus set exit status (" + CliErrorText() + ")");
  NapMs(200);  // the driver writes its record after answering
  const std::vector<std::string> reports = RecordedReports(record);
  // status: 11; modbus set: 20, 148, 20.
  std::string codes;
  for (const auto& r : reports) codes += r.substr(2, 2) + " ";
  c.Equal(codes, std::string("0b 14 94 14 "), "command codes the driver received");
  const std::string expected148 = "0194009600000111" + std::string(56 * 2, '0');
  c.That(reports.size() >= 3 && reports[2] == expected148,
         "148 not recorded with the exact 64 bytes: " + (reports.size() >= 3 ? reports[2] : std::string("none")));

  const CliRun back = RunCli("modbus get --json");
  c.Equal(back.output, std::string("{\"baud\":38400,\"parity\":\"odd\",\"slave_id\":17}\n"), "settings read back");

  // The node as a machine without the udev rule leaves it.
  c.That(chmod(found->Path.c_str(), 0600) == 0, "chmod 600 failed");
  c.That(chown(found->Path.c_str(), 0, 0) == 0, "chown root failed");
  c.Equal(RunAsUser(kUnprivilegedUid, "cli-doctor-child"), 0, "doctor as uid 1000 (exit status)");
}

// Runs as uid 1000.
void DoctorChild(Checks& c) {
  c.Equal(geteuid(), kUnprivilegedUid, "effective user");
  const CliRun doctor = RunCli("doctor --json");
  c.Equal(doctor.status, 4, "doctor exit status for a 0600 node");
  const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(doctor.output)).object();
  const QJsonObject finding = o.value("findings").toArray().first().toObject();
  c.That(finding.value("message").toString().contains("may not open"), "no access finding: " + doctor.output);
  c.That(finding.value("message").toString().contains("mode 0600"), "node facts missing: " + doctor.output);
  c.That(!finding.value("fix").toString().isEmpty(), "no fix printed: " + doctor.output);
  const CliRun info = RunCli("info");
  c.Equal(info.status, 4, "info exit status for a 0600 node");
}

const ScenarioRegistrar kCli("cli", "zrv-cli: status --json, modbus set checked in the driver's record, doctor as uid 1000",
                             CliOnTheKernel);
const ScenarioRegistrar kCliChild("cli-doctor-child", "zrv-cli doctor as uid 1000", DoctorChild, true);

}  // namespace
}  // namespace zrv::vmtest
