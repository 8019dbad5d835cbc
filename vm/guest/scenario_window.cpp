// The whole window on the real kernel: TForm1 on LinuxHidPlatform with real timers, the virtual
// driver behind uhid, and the driver's own record of what reached it. Waiting is by bounded
// event-loop rounds only.
#include <signal.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "guest_support.h"
#include "link/platform/linux/linux_hid_platform.h"
#include "support/run_until.h"
#include "link/ttimer.h"
#include "session/driver_session.h"
#include "ui/form1.h"
#include "ui/message_boxes.h"
#include "ui/rs485_page.h"

namespace zrv::vmtest {
namespace {

constexpr std::size_t kReportBytes = 64;

// Answers every box with OK and keeps what was shown.
class OkBoxes : public IMessageBoxes {
 public:
  void Warning(std::string_view caption, std::string_view text) override { Keep("Warning", caption, text); }
  bool Question(std::string_view caption, std::string_view text) override {
    Keep("Question", caption, text);
    return true;
  }
  void Error(std::string_view caption, std::string_view text) override { Keep("Error", caption, text); }
  std::vector<std::string> Shown;

 private:
  void Keep(const char* kind, std::string_view caption, std::string_view text) {
    Shown.push_back(std::string(kind) + " [" + std::string(caption) + "] " + std::string(text));
  }
};

// The output reports the driver wrote to its record file ("OUT <length> <hex>" lines), whole,
// report ID first. Read on from where the last call stopped; a line not yet ended waits.
class RecordFile {
 public:
  explicit RecordFile(std::string path) : path_(std::move(path)) {}
  const std::vector<std::vector<std::uint8_t>>& Reports() {
    std::ifstream in(path_, std::ios::binary);
    if (!in) return reports_;
    in.seekg(static_cast<std::streamoff>(offset_));
    std::string line;
    while (std::getline(in, line)) {
      if (in.eof()) break;  // no newline yet: the driver is still writing it
      offset_ += line.size() + 1;
      Parse(line);
    }
    return reports_;
  }

 private:
  void Parse(const std::string& line) {
    std::istringstream words(line);
    std::string tag;
    std::size_t length = 0;
    std::string hex;
    if (!(words >> tag >> length >> hex) || tag != "OUT" || hex.size() != 2 * length) return;
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
      bytes[i] = static_cast<std::uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
    }
    reports_.push_back(std::move(bytes));
  }
  std::string path_;
  std::size_t offset_ = 0;
  std::vector<std::vector<std::uint8_t>> reports_;
};

int CodeOf(const std::vector<std::uint8_t>& report) { return report.size() > 1 ? report[1] : -1; }

// Reports with this code recorded at or after `from`.
int CountCode(const std::vector<std::vector<std::uint8_t>>& reports, std::size_t from, int code) {
  int count = 0;
  for (std::size_t i = from; i < reports.size(); ++i) count += CodeOf(reports[i]) == code ? 1 : 0;
  return count;
}

std::vector<std::uint8_t> Report(std::initializer_list<std::uint8_t> head) {
  std::vector<std::uint8_t> report(kReportBytes, 0);
  std::copy(head.begin(), head.end(), report.begin());
  return report;
}

class Window {
 public:
  explicit Window(const std::string& recordPath) : record_(recordPath) {
    session_ = std::make_unique<DriverSession>(RealTimeSource(), platform_);
    form_ = std::make_unique<TForm1>(*session_, RealTimeSource(), boxes_);
    // Every status text in order; "Connected" lasts only until the identity reply.
    QObject::connect(Find<QLineEdit>("ConnectionStatus"), &QLineEdit::textChanged,
                     [this](const QString& text) { statuses_.push_back(text.toStdString()); });
  }
  ~Window() {
    form_.reset();
    session_.reset();
  }
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  template <typename T>
  T* Find(const char* name) const {
    return form_->findChild<T*>(QString::fromLatin1(name));
  }
  TForm1& Form() const { return *form_; }
  DriverSession& Session() const { return *session_; }
  OkBoxes& Boxes() { return boxes_; }
  std::string Status() const { return Find<QLineEdit>("ConnectionStatus")->text().toStdString(); }
  const std::vector<std::string>& Statuses() const { return statuses_; }
  std::vector<std::string> Items() const {
    std::vector<std::string> items;
    const QListWidget* list = Find<QListWidget>("ListBox1");
    for (int i = 0; i < list->count(); ++i) items.push_back(list->item(i)->text().toStdString());
    return items;
  }
  std::vector<std::string> Lists() const {
    return {Find<QComboBox>("Cb_ModbusBaud")->currentText().toStdString(),
            Find<QComboBox>("Cb_ModbusParity")->currentText().toStdString(),
            Find<QComboBox>("Cb_ModbusAddress")->currentText().toStdString()};
  }
  void Select(const char* baud, const char* parity, const char* address) {
    Find<QComboBox>("Cb_ModbusBaud")->setCurrentText(QString::fromLatin1(baud));
    Find<QComboBox>("Cb_ModbusParity")->setCurrentText(QString::fromLatin1(parity));
    Find<QComboBox>("Cb_ModbusAddress")->setCurrentText(QString::fromLatin1(address));
  }
  void ShowPage(int index) { Find<QTabWidget>("PageControl1")->setCurrentIndex(index); }
  void Click(const char* button) { Find<QPushButton>(button)->click(); }
  std::string Label(const char* name) const { return Find<QLabel>(name)->text().toStdString(); }

  const std::vector<std::vector<std::uint8_t>>& Reports() { return record_.Reports(); }
  // Until at least `count` more reports with `code` than at `from` have reached the driver.
  bool WaitForCode(std::size_t from, int code, int count) {
    return test::RunUntil([&] { return CountCode(Reports(), from, code) >= count; });
  }
  bool Identified() {
    return test::RunUntil([&] { return Status().rfind("Connected to ZRVXXX ver.: ", 0) == 0; });
  }
  // True when "Connected" came right before the latest status, the identity caption.
  bool ConnectedBeforeCaption() const {
    return statuses_.size() >= 2 && statuses_[statuses_.size() - 2] == "Connected";
  }

 private:
  RecordFile record_;
  OkBoxes boxes_;
  LinuxHidPlatform platform_;
  std::vector<std::string> statuses_;
  std::unique_ptr<DriverSession> session_;  // goes before the platform it uses
  std::unique_ptr<TForm1> form_;  // last: a view of the session
};

std::string Joined(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& w : words) out += (out.empty() ? "" : " | ") + w;
  return out;
}

// Starts the driver and waits until the kernel lists it and udev has handled it, so the window's
// first scan is the one that finds it.
bool DriverListed(Checks& c, const std::string& product) {
  LinuxHidPlatform probe;
  const auto found = WaitForProduct(probe, product);
  if (!c.That(found.has_value(), product + " not listed by the platform")) return false;
  return c.That(WaitForUdev(found->Path), "udev never handled " + found->Path);
}

// Connects, checks the identity exchange on both sides, and that polling sends 11 on the status
// page. Returns the index of the first report after the identity request.
bool ConnectAndPoll(Checks& c, Window& w, std::size_t from) {
  if (!c.That(w.Identified(), "no identity caption; status \"" + w.Status() + "\", statuses: " +
                                  Joined(w.Statuses()))) {
    return false;
  }
  c.That(w.ConnectedBeforeCaption(), "\"Connected\" not shown before the caption: " + Joined(w.Statuses()));
  c.Equal(w.Session().CurrentDevice() != nullptr, true, "current device");
  const auto reports = w.Reports();
  if (!c.That(reports.size() > from, "the driver recorded no identity request")) return false;
  c.That(reports[from] == Report({1, 10}), "first report after connecting is not 10: code " +
                                               std::to_string(CodeOf(reports[from])));
  c.Equal(CountCode(reports, from, 10), 1, "identity requests");
  return c.That(w.WaitForCode(from, 11, 3), "no polling with 11 on the IO Status page");
}

void WindowScenario(Checks& c) {
  const std::string record = "/tmp/zrv-window.rec";
  std::remove(record.c_str());
  DriverProcess driver({"--record", record});
  if (!DriverListed(c, "ZRVXXX")) return;

  Window w(record);
  w.ShowPage(0);
  if (!ConnectAndPoll(c, w, 0)) return;
  c.Equal(Joined(w.Items()), std::string("ZRVXXX"), "listed devices");

  // The RS485 Modbus page polls with 12, and only with 12; its replies fill the value column.
  std::size_t mark = w.Reports().size();
  w.ShowPage(1);
  c.That(w.WaitForCode(mark, 12, 3), "no polling with 12 on the RS485 Modbus page");
  c.Equal(CountCode(w.Reports(), mark, 11), 0, "11 sent after switching to the RS485 Modbus page");
  const auto* grid = w.Find<QTableWidget>("GridModbus");
  c.That(test::RunUntil([&] { return grid->item(1, 2) != nullptr && !grid->item(1, 2)->text().isEmpty(); }),
         "register values never shown");

  // Read: 20 goes out, polling pauses, the lists show the driver's settings; polling comes back.
  mark = w.Reports().size();
  w.Click("Btn_ReadSettings");
  c.That(!w.Session().Polling() && w.Session().PollingPaused(), "Read did not pause polling");
  c.That(w.WaitForCode(mark, 20, 1), "Read sent no 20");
  c.That(test::RunUntil([&] { return w.Lists() == std::vector<std::string>{"19200", "Even", "1"}; }),
         "lists after Read: " + Joined(w.Lists()));
  c.That(w.WaitForCode(mark, 12, 1), "polling did not resume after Read");

  // Save: the operator confirms, 148 carries the lists, the driver acknowledges.
  w.Select("115200", "Odd", "5");
  mark = w.Reports().size();
  w.Click("Btn_SaveParams");
  c.Equal(Joined(w.Boxes().Shown), std::string("Question [Ustawienia] Zapisa\xC4\x87 ustawienia?"), "boxes on Save");
  c.That(w.WaitForCode(mark, 148, 1), "Save sent no 148");
  bool exact = false;
  for (const auto& report : w.Reports()) exact = exact || report == Report({1, 148, 0x00, 0xC2, 0x01, 0x00, 1, 5});
  c.That(exact, "148 not recorded with the exact bytes");
  c.That(test::RunUntil([&] { return w.Label("Label_Status") == "Ustawienia Modbus zapisane"; }),
         "no acknowledgement; Label_Status \"" + w.Label("Label_Status") + "\"");

  // Read again: the driver kept what was saved.
  w.Select("9600", "None", "1");
  w.Click("Btn_ReadSettings");
  c.That(test::RunUntil([&] { return w.Lists() == std::vector<std::string>{"115200", "Odd", "5"}; }),
         "lists after saving and reading back: " + Joined(w.Lists()));

  // Unplug in the middle of polling on the status page.
  w.ShowPage(0);
  mark = w.Reports().size();
  if (!c.That(w.WaitForCode(mark, 11, 2), "polling did not resume on the IO Status page")) return;
  driver.Signal(SIGUSR1);
  c.That(test::RunUntil([&] { return w.Status() == "No connection"; }),
         "status after the unplug \"" + w.Status() + "\"");
  c.That(w.Session().CurrentDevice() == nullptr, "current device kept after the unplug");
  c.That(w.Session().Held().empty() && w.Items().empty(), "devices still listed: " + Joined(w.Items()));
  c.That(!w.Session().Polling(), "polling still enabled after the unplug");
  c.That(!w.Session().Connected(), "still connected after the unplug");

  // Replug: udev's event alone brings it back, with a new identity exchange and polling.
  mark = w.Reports().size();
  driver.Signal(SIGUSR1);
  c.That(ConnectAndPoll(c, w, mark), "not connected again after the replug");
  c.Equal(Joined(w.Boxes().Shown), std::string("Question [Ustawienia] Zapisa\xC4\x87 ustawienia?"),
          "boxes at the end");
}

void WindowSecondDeviceScenario(Checks& c) {
  const std::string record = "/tmp/zrv-window-second.rec";
  std::remove(record.c_str());
  DriverProcess driver({"--second-device", "--record", record});
  if (!DriverListed(c, "ZRVXXX") || !DriverListed(c, "Virtual Pointer")) return;

  Window w(record);
  if (!ConnectAndPoll(c, w, 0)) return;
  auto items = w.Items();
  std::sort(items.begin(), items.end());
  c.Equal(Joined(items), std::string("Virtual Pointer | ZRVXXX"), "listed devices");

  // With another device still attached the window says "Disconnected".
  driver.Signal(SIGUSR1);
  c.That(test::RunUntil([&] { return w.Status() == "Disconnected"; }), "status after the unplug \"" + w.Status() + "\"");
  c.Equal(Joined(w.Items()), std::string("Virtual Pointer"), "listed after the unplug");
  c.That(w.Session().CurrentDevice() == nullptr && !w.Session().Connected(), "still connected after the unplug");
  c.That(!w.Session().Polling(), "polling still enabled after the unplug");

  const std::size_t mark = w.Reports().size();
  driver.Signal(SIGUSR1);
  c.That(ConnectAndPoll(c, w, mark), "not connected again after the replug");
  c.That(w.Boxes().Shown.empty(), "boxes shown: " + Joined(w.Boxes().Shown));
}

void WindowNoDriverScenario(Checks& c) {
  DriverProcess driver({"--second-device", "--no-driver"});
  if (!DriverListed(c, "Virtual Pointer")) return;

  Window w("/dev/null");
  c.That(test::RunUntil([&] { return w.Items().size() == 1; }), "the other device was not listed");
  c.Equal(Joined(w.Items()), std::string("Virtual Pointer"), "listed devices");
  c.Equal(w.Status(), std::string("Disconnected"), "status");
  // Polling would have started by now if anything had been taken for the driver.
  test::RunRounds(300);
  c.Equal(w.Status(), std::string("Disconnected"), "status a while later");
  c.That(w.Session().CurrentDevice() == nullptr && !w.Session().Connected(), "connected to the other device");
  c.That(!w.Session().Polling(), "polling enabled without the driver");
  for (const std::string& s : w.Statuses()) c.That(s.rfind("Connected", 0) != 0, "status went to \"" + s + "\"");
  c.That(w.Boxes().Shown.empty(), "boxes shown: " + Joined(w.Boxes().Shown));
}

// The "RS485 link" page through the real serial drivers: the driver's RS485 side on the 8250's
// /dev/ttyS1 (opened before its HID device is created), the page's test on ftdi_sio's /dev/ttyUSB0.
void WindowRs485Scenario(Checks& c) {
  const std::string record = "/tmp/zrv-window-rs485.rec";
  std::remove(record.c_str());
  DriverProcess driver({"--rs485", "/dev/ttyS1", "--slave-id", "17", "--baud", "38400", "--parity", "none",
                        "--record", record});
  if (!DriverListed(c, "ZRVXXX")) return;
  if (!c.That(WaitForUdev("/dev/ttyUSB0"), "no /dev/ttyUSB0 in udev (ftdi_sio)")) return;

  Window w(record);
  if (!c.That(w.Identified(), "no identity caption; status \"" + w.Status() + "\"")) return;
  auto* pages = w.Find<QTabWidget>("PageControl1");
  int index = -1;
  for (int i = 0; i < pages->count(); ++i) {
    if (pages->tabText(i) == QLatin1String(kRs485PageTitle.data(), static_cast<qsizetype>(kRs485PageTitle.size()))) {
      index = i;
    }
  }
  if (!c.That(index >= 0, "no \"RS485 link\" page")) return;
  // Shown, as on a desktop: the page asks the driver for its settings when it is shown.
  w.Form().show();
  w.ShowPage(index);
  Rs485Page& page = w.Form().Rs485();
  // The fields take the driver's settings over USB.
  c.That(test::RunUntil([&] {
           return page.LineFromFields() == modbus::LineSettings{38400, 0} && page.SlaveFromFields() == 17;
         }),
         "the page's fields never showed the driver's 38400, none, slave 17");
  auto* ports = page.findChild<QComboBox*>(QStringLiteral("Rs485Port"));
  c.That(test::RunUntil([&] { return ports->findData(QStringLiteral("/dev/ttyUSB0")) >= 0; }),
         "/dev/ttyUSB0 not among the page's ports");
  ports->setCurrentIndex(ports->findData(QStringLiteral("/dev/ttyUSB0")));
  c.That(ports->currentText().contains(QStringLiteral("QEMU USB SERIAL")),
         "the port's entry does not name the adapter: " + ports->currentText().toStdString());

  auto* verdict = page.findChild<QLabel*>(QStringLiteral("Rs485Verdict"));
  auto testLink = [&](const std::string& what) -> const LinkCheckReport* {
    bool ended = false;
    const QMetaObject::Connection done = QObject::connect(&page, &Rs485Page::CheckFinished, [&] { ended = true; });
    page.findChild<QPushButton*>(QStringLiteral("Rs485Test"))->click();
    const bool ran = test::RunUntil([&] { return ended; });
    QObject::disconnect(done);
    if (!c.That(ran && page.LastReport().has_value(), what + ": the test did not finish")) return nullptr;
    return &*page.LastReport();
  };

  if (const LinkCheckReport* r = testLink("at the driver's settings")) {
    c.Equal(std::string(modbus::VerdictKey(r->Result.Verdict)), std::string("ok"), "verdict at the driver's settings");
    c.That(r->Result.Sent > 0 && r->Result.Answered == r->Result.Sent,
           "answers at the driver's settings: " + std::to_string(r->Result.Answered) + " of " +
               std::to_string(r->Result.Sent));
    c.That(r->Result.CounterRise == static_cast<std::uint16_t>(r->Result.Sent), "counter rise at the driver's settings");
    c.That(verdict->text().startsWith(QStringLiteral("Link OK: ")), "verdict shown: " + verdict->text().toStdString());
  }
  // The parity field alone changed: ftdi_sio sets it, the driver's 8250 does not match.
  page.findChild<QComboBox*>(QStringLiteral("Rs485Parity"))->setCurrentText(QStringLiteral("odd"));
  if (const LinkCheckReport* r = testLink("at parity odd")) {
    c.Equal(std::string(modbus::VerdictKey(r->Result.Verdict)), std::string("nothing-reaches-driver"), "verdict at parity odd");
    c.That(r->Result.CounterRise == std::uint16_t{0}, "the good-frame counter rose at parity odd");
    c.That(verdict->text().startsWith(QStringLiteral("Nothing reaches the driver")),
           "verdict shown: " + verdict->text().toStdString());
  }
  c.That(w.Boxes().Shown.empty(), "boxes shown: " + Joined(w.Boxes().Shown));
}

const ScenarioRegistrar kWindow("window",
                                "the window connects, identifies, polls 11 and 12, reads and saves Modbus "
                                "settings; unplug while polling, replug",
                                WindowScenario);
const ScenarioRegistrar kWindowSecond("window-second",
                                      "the window with another device attached: \"Disconnected\" on unplug, "
                                      "connected again on replug",
                                      WindowSecondDeviceScenario);
const ScenarioRegistrar kWindowRs485("window-rs485",
                                     "the window's RS485 link page: Test link on ttyUSB0 is OK at the driver's "
                                     "settings, nothing reaches it at another parity",
                                     WindowRs485Scenario);
const ScenarioRegistrar kWindowNoDriver("window-no-driver",
                                        "the window with only another device: \"Disconnected\", nothing sent",
                                        WindowNoDriverScenario);

}  // namespace
}  // namespace zrv::vmtest
