// The RS485 line through the real kernel's serial drivers: zrv-cli on the emulated FTDI adapter
// (ftdi_sio, /dev/ttyUSB0), the virtual driver's RS485 side on the second 8250 UART (/dev/ttyS1),
// the two joined on the host by a wire that passes characters only between ends at the same
// settings. A Save over USB must move the driver's port; a test at other settings must reach
// nothing; one at another address is heard but not answered.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <optional>
#include <string>

#include "guest_support.h"
#include "link/platform/linux/linux_hid_platform.h"

namespace zrv::vmtest {
namespace {

constexpr const char* kAdapter = "/dev/ttyUSB0";
constexpr const char* kLine = "/dev/ttyS1";

QJsonObject JsonOf(const CliRun& run) {
  return QJsonDocument::fromJson(QByteArray::fromStdString(run.output)).object();
}

std::string Text(const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString(); }

// What the kernel holds for the driver's port: a second open of a tty changes none of it.
struct TtySetting {
  speed_t Speed = 0;
  int Parity = 0;  // 0 none, 1 odd, 2 even, as the driver's settings count
  bool operator==(const TtySetting&) const = default;
};

std::optional<TtySetting> SettingOf(const char* path) {
  const int fd = ::open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  termios tio{};
  const bool ok = ::tcgetattr(fd, &tio) == 0;
  ::close(fd);
  if (!ok) return std::nullopt;
  const int parity = (tio.c_cflag & PARENB) == 0 ? 0 : (tio.c_cflag & PARODD) != 0 ? 1 : 2;
  return TtySetting{cfgetospeed(&tio), parity};
}

std::string Describe(const std::optional<TtySetting>& s) {
  if (!s) return "unreadable";
  return "speed code " + std::to_string(s->Speed) + ", parity " + std::to_string(s->Parity);
}

// The driver reopens its port a tenth of a second after its settings change; emulation is slow.
bool WaitForSetting(Checks& c, const TtySetting& wanted, const std::string& what) {
  std::optional<TtySetting> seen;
  for (int i = 0; i < 500; ++i) {
    seen = SettingOf(kLine);
    if (seen && *seen == wanted) return true;
    NapMs(20);
  }
  return c.That(false, what + ": " + kLine + " is at " + Describe(seen));
}

// One link test through the adapter; `settings` empty for the driver's own from USB.
QJsonObject LinkTest(Checks& c, const std::string& settings, int expectedStatus, const std::string& what) {
  const CliRun run = RunCli("bus test --port " + std::string(kAdapter) + " --json" + settings);
  c.Equal(run.status, expectedStatus, what + ": exit status (" + CliErrorText() + ")");
  return JsonOf(run);
}

void ExpectOk(Checks& c, const QJsonObject& o, int baud, const char* parity, const std::string& what) {
  c.Equal(o.value("verdict").toString().toStdString(), std::string("ok"), what + ": verdict in " + Text(o));
  const int sent = o.value("sent").toInt(-1);
  c.That(sent > 0, what + ": nothing sent: " + Text(o));
  c.Equal(o.value("answered").toInt(-1), sent, what + ": answers");
  c.Equal(o.value("counter_rise").toInt(-1), sent, what + ": rise of the good-frame counter");
  c.Equal(o.value("counter_after").toInt(-1) - o.value("counter_before").toInt(-1), sent,
          what + ": counter after minus before");
  c.That(o.value("settings_from_usb").toBool(), what + ": settings not taken from USB: " + Text(o));
  const QJsonObject s = o.value("settings").toObject();
  c.Equal(s.value("baud").toInt(), baud, what + ": baud rate tested");
  c.Equal(s.value("parity").toString().toStdString(), std::string(parity), what + ": parity tested");
  c.Equal(s.value("slave_id").toInt(), 17, what + ": slave tested");
}

void ExpectNothingReaches(Checks& c, const QJsonObject& o, const std::string& what) {
  c.Equal(o.value("verdict").toString().toStdString(), std::string("nothing-reaches-driver"),
          what + ": verdict in " + Text(o));
  c.That(o.value("sent").toInt(0) > 0, what + ": nothing sent: " + Text(o));
  c.Equal(o.value("answered").toInt(-1), 0, what + ": answers");
  c.Equal(o.value("counter_rise").toInt(-1), 0, what + ": rise of the good-frame counter");
}

void Rs485Serial(Checks& c) {
  if (!c.That(WaitForUdev(kAdapter, 3000), std::string("no ") + kAdapter + " in udev (ftdi_sio)")) return;
  DriverProcess driver({"--rs485", kLine, "--slave-id", "17", "--baud", "38400", "--parity", "none"});
  LinuxHidPlatform platform;
  const auto found = WaitForProduct(platform, "ZRVXXX");
  if (!c.That(found.has_value(), "driver not listed")) return;
  c.That(WaitForUdev(found->Path), "udev never handled " + found->Path);
  // Bytes sent before the driver's side opened its port would be lost, as on a real line.
  if (!WaitForSetting(c, {B38400, 0}, "the driver's RS485 side never opened at 38400, none")) return;

  const CliRun ports = RunCli("bus ports --json");
  c.Equal(ports.status, 0, "bus ports exit status (" + CliErrorText() + ")");
  bool listed = false;
  for (const QJsonValue& v : JsonOf(ports).value("ports").toArray()) {
    const QJsonObject p = v.toObject();
    if (p.value("path").toString() != QLatin1String(kAdapter)) continue;
    listed = true;
    c.Equal(p.value("description").toString().toStdString(), std::string("QEMU USB SERIAL"), "adapter's product");
    c.Equal(p.value("manufacturer").toString().toStdString(), std::string("QEMU"), "adapter's manufacturer");
    c.Equal(p.value("vid").toInt(), 0x0403, "adapter's vendor id");
  }
  c.That(listed, std::string("bus ports does not list ") + kAdapter + ": " + ports.output);

  ExpectOk(c, LinkTest(c, "", 0, "at the driver's settings"), 38400, "none", "at the driver's settings");

  // A Save over USB: the driver's UART and the tool's adapter both really switch.
  const CliRun set = RunCli("modbus set --slave-id 17 --baud 19200 --parity even");
  c.Equal(set.status, 0, "modbus set exit status (" + CliErrorText() + ")");
  if (!WaitForSetting(c, {B19200, 2}, "the driver's RS485 side did not follow the saved settings")) return;
  ExpectOk(c, LinkTest(c, "", 0, "after the Save"), 19200, "even", "after the Save");

  // Other settings than the driver's: a baud rate apart, then the parity alone.
  ExpectNothingReaches(c, LinkTest(c, " --baud 38400 --parity even --count 3", 8, "at 38400 even"), "at 38400 even");
  ExpectNothingReaches(c, LinkTest(c, " --baud 19200 --parity odd --count 3", 8, "at 19200 odd"), "at 19200 odd");
  // At the driver's settings but another address: heard (the counter rises), never answered, and
  // the driver's own address over USB is named.
  const QJsonObject other = LinkTest(c, " --slave-id 5 --count 2", 8, "at slave 5");
  c.Equal(other.value("verdict").toString().toStdString(), std::string("driver-hears-no-answer"),
          "at slave 5: verdict in " + Text(other));
  c.Equal(other.value("counter_rise").toInt(-1), other.value("sent").toInt(-2), "at slave 5: counter rise");
  c.Equal(other.value("driver_slave").toInt(), 17, "at slave 5: the driver's address over USB");
  c.Equal(driver.Stop(), 0, "the driver's exit status");
}

const ScenarioRegistrar k("rs485-serial",
                          "bus ports/test on ftdi_sio's ttyUSB0 against the driver on the 8250's ttyS1: ok at its "
                          "settings before and after a Save, nothing reaches it at others",
                          Rs485Serial);

}  // namespace
}  // namespace zrv::vmtest
