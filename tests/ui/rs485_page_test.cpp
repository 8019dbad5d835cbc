// The "RS485 link" page through the real window on real time: a simulated driver on USB and its
// RS485 side on a pseudo-terminal, reached through a real serial port. Verdicts and values are
// asserted, never times.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>

#include <memory>

#include "link/platform/sim/sim_hid_platform.h"
#include "link/ttimer.h"
#include "rs485/sim_line_pty.h"
#include "session/driver_session.h"
#include "sim/sim_driver_model.h"
#include "support/driver_replies.h"
#include "support/run_until.h"
#include "ui/form1.h"
#include "ui/rs485_page.h"
#include "ui_test_support.h"

namespace zrv {
namespace {

using modbus::LinkVerdict;

class Rs485PageTest : public ::testing::Test {
 protected:
  Rs485PageTest()
      : session(RealTimeSource(), platform),
        far(model),
        form(std::make_unique<TForm1>(session, RealTimeSource(), boxes)) {
    // Settings the page does not start with: they can only have come from the driver.
    model->WithDriver([](sim::SimulatedDriver& d) { d.Model().Modbus = {115200, 2, 3}; });
    QString error;
    EXPECT_TRUE(far.Open({}, &error)) << error.toStdString();
    bus::SerialPortInfo port;
    port.path = far.PortPath();
    port.description = QStringLiteral("Simulated driver's RS485 line");
    Page().AddPinnedPort(port);
  }
  ~Rs485PageTest() override { form.reset(); }

  Rs485Page& Page() { return form->Rs485(); }
  QTabWidget* Pages() { return form->findChild<QTabWidget*>(QStringLiteral("PageControl1")); }
  template <typename T>
  T* Find(const char* name) {
    return Page().findChild<T*>(QString::fromLatin1(name));
  }
  QString Verdict() { return Find<QLabel>("Rs485Verdict")->text(); }
  QString Cell(int row, int column) {
    const QTableWidgetItem* item = Find<QTableWidget>("Rs485Registers")->item(row, column);
    return item == nullptr ? QString() : item->text();
  }

  void ShowPage() {
    form->show();
    Pages()->setCurrentIndex(3);
  }
  bool Connect() {
    EXPECT_TRUE(test::RunUntil([&] { return session.Scanned(); }));
    device = SimDriverModel::PlugDriver(platform, test::DriverDeviceConfig(), model);
    return test::RunUntil([&] { return session.Connected() && session.Polling(); });
  }
  bool SettingsShown() {
    return test::RunUntil([&] {
      return Find<QSpinBox>("Rs485Slave")->value() == 3 && Find<QComboBox>("Rs485Baud")->currentText() == "115200" &&
             Find<QComboBox>("Rs485Parity")->currentText() == "even";
    });
  }
  // Clicks `button`, calling `whileRunning` on every progress step, and waits for `finished`.
  bool Click(const char* button, void (Rs485Page::*finished)(), const std::function<void(int)>& whileRunning = {}) {
    QMetaObject::Connection progress;
    if (whileRunning) {
      progress = QObject::connect(Find<QProgressBar>("Rs485Progress"), &QProgressBar::valueChanged, whileRunning);
    }
    bool ended = false;
    const QMetaObject::Connection done = QObject::connect(&Page(), finished, [&] { ended = true; });
    Find<QPushButton>(button)->click();
    const bool ran = test::RunUntil([&] { return ended; });
    QObject::disconnect(progress);
    QObject::disconnect(done);
    return ran && !Page().Running();
  }
  bool TestLink(const std::function<void(int sent)>& whileRunning = {}) {
    return Click("Rs485Test", &Rs485Page::CheckFinished, whileRunning);
  }
  bool Scan(const std::function<void(int done)>& whileRunning = {}) {
    return Click("Rs485Scan", &Rs485Page::ScanFinished, whileRunning);
  }

  SimHidPlatform platform;
  DriverSession session;
  test::FakeMessageBoxes boxes;
  std::shared_ptr<SimDriverModel> model = std::make_shared<SimDriverModel>();
  SimLinePty far;
  std::unique_ptr<TForm1> form;
  std::shared_ptr<SimHidDevice> device;
};

TEST_F(Rs485PageTest, ShownItPollsTheRegistersFillsTheDriversSettingsAndFitsThePage) {
  ShowPage();
  EXPECT_EQ(session.PolledCommand(), CommandCode::ReadRegisters);
  ASSERT_TRUE(Connect());
  EXPECT_TRUE(SettingsShown());
  // The simulated line is listed first and chosen.
  EXPECT_EQ(Page().PortPath(), far.PortPath());
  EXPECT_TRUE(Find<QComboBox>("Rs485Port")->currentText().contains("Simulated driver's RS485 line"));
  // Live register replies fill the USB column.
  EXPECT_TRUE(test::RunUntil([&] { return !Cell(2, 1).isEmpty(); }));
  EXPECT_EQ(Cell(2, 0), QStringLiteral("TargetPwm"));

  const QRect room = Page().rect();
  for (const QWidget* widget : Page().findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    SCOPED_TRACE(widget->objectName().toStdString());
    EXPECT_TRUE(room.contains(widget->geometry())) << widget->x() << "," << widget->y() << " " << widget->width()
                                                   << "x" << widget->height();
  }
  // Every register row is visible in the table, none behind a scroll bar.
  const auto* table = Find<QTableWidget>("Rs485Registers");
  const int last = static_cast<int>(kRegisterRowCount) - 1;
  EXPECT_LE(table->rowViewportPosition(last) + table->rowHeight(last), table->viewport()->height());

  Pages()->setCurrentIndex(2);
  EXPECT_EQ(session.PolledCommand(), CommandCode::ReadStatus);
}

TEST_F(Rs485PageTest, TestLinkJudgesTheLineAndReadsWhatUsbShows) {
  ShowPage();
  ASSERT_TRUE(Connect());
  ASSERT_TRUE(SettingsShown());
  ASSERT_TRUE(TestLink());
  ASSERT_TRUE(Page().LastReport());
  EXPECT_EQ(Page().LastReport()->Result.Verdict, LinkVerdict::Ok) << Verdict().toStdString();
  EXPECT_TRUE(Verdict().startsWith("Link OK")) << Verdict().toStdString();
  EXPECT_TRUE(Verdict().contains("115200 8E1, slave 3")) << Verdict().toStdString();
  EXPECT_FALSE(Verdict().contains("No driver on USB"));
  // The simulated driver's readings hold still: both columns show the same values, row by row.
  for (int row = 0; row < static_cast<int>(kRegisterRowCount); ++row) {
    SCOPED_TRACE(row);
    EXPECT_FALSE(Cell(row, 2).isEmpty());
    EXPECT_EQ(Cell(row, 2), Cell(row, 1));
  }
  EXPECT_TRUE(Find<QPushButton>("Rs485Test")->isEnabled());
  EXPECT_FALSE(Find<QPushButton>("Rs485Cancel")->isVisible());

  // The driver hears, its answers are lost on the way back: the counter over USB tells.
  far.SetFault(sim::Rs485Fault::Deaf);
  ASSERT_TRUE(TestLink());
  EXPECT_EQ(Page().LastReport()->Result.Verdict, LinkVerdict::DriverHearsNoAnswer);
  EXPECT_TRUE(Verdict().contains("The driver hears the requests")) << Verdict().toStdString();
  EXPECT_TRUE(Verdict().contains("answers do not come back")) << Verdict().toStdString();
  EXPECT_TRUE(Cell(0, 2).isEmpty());

  // A whole line, but the slave field at another address than the driver's over USB: the driver
  // counts the requests and stays silent, and the page names the address rather than the adapter.
  far.SetFault(sim::Rs485Fault::None);
  Find<QSpinBox>("Rs485Slave")->setValue(4);
  ASSERT_TRUE(TestLink());
  EXPECT_EQ(Page().LastReport()->Result.Verdict, LinkVerdict::DriverHearsNoAnswer);
  EXPECT_TRUE(Verdict().contains("it is slave 3 over USB and the test asked slave 4")) << Verdict().toStdString();
  EXPECT_FALSE(Verdict().contains("direction control")) << Verdict().toStdString();
}

TEST_F(Rs485PageTest, WithoutADriverOnUsbTheVerdictSaysTheCounterWasNotRead) {
  ShowPage();
  // The fields by hand, as the driver is set.
  Find<QSpinBox>("Rs485Slave")->setValue(3);
  Find<QComboBox>("Rs485Baud")->setCurrentText("115200");
  Find<QComboBox>("Rs485Parity")->setCurrentIndex(2);
  far.SetFault(sim::Rs485Fault::Swapped);
  ASSERT_TRUE(TestLink());
  EXPECT_EQ(Page().LastReport()->Result.Verdict, LinkVerdict::NoAnswer);
  EXPECT_TRUE(Verdict().contains("No driver on USB: the good-frame counter could not be read")) << Verdict().toStdString();
}

TEST_F(Rs485PageTest, CancelAndAnUnpluggedDriverEndATestCleanly) {
  ShowPage();
  ASSERT_TRUE(Connect());
  ASSERT_TRUE(SettingsShown());
  bool cancelled = false;
  ASSERT_TRUE(TestLink([&](int sent) {
    EXPECT_TRUE(Find<QPushButton>("Rs485Cancel")->isVisible());
    EXPECT_FALSE(Find<QPushButton>("Rs485Test")->isEnabled());
    if (sent >= 2 && !cancelled) {
      cancelled = true;
      Find<QPushButton>("Rs485Cancel")->click();
    }
  }));
  EXPECT_TRUE(cancelled);
  EXPECT_TRUE(Page().LastReport()->Cancelled);
  EXPECT_TRUE(Verdict().startsWith("Cancelled")) << Verdict().toStdString();
  EXPECT_FALSE(Find<QPushButton>("Rs485Cancel")->isVisible());

  bool unplugged = false;
  ASSERT_TRUE(TestLink([&](int sent) {
    if (sent >= 2 && !unplugged) {
      unplugged = true;
      platform.Unplug(device);
    }
  }));
  EXPECT_TRUE(unplugged);
  EXPECT_TRUE(Page().LastReport()->DriverWentAway);
  EXPECT_TRUE(Verdict().contains("The driver went away on USB")) << Verdict().toStdString();
  EXPECT_TRUE(Find<QPushButton>("Rs485Test")->isEnabled());
}

TEST_F(Rs485PageTest, ScanFindsTheSlaveAndFillsTheFieldsAndCancelStopsIt) {
  ShowPage();
  bool cancelled = false;
  ASSERT_TRUE(Scan([&](int done) {
    if (done >= 1 && !cancelled) {
      cancelled = true;
      Find<QPushButton>("Rs485Cancel")->click();
    }
  }));
  ASSERT_TRUE(Page().LastScan());
  EXPECT_TRUE(Page().LastScan()->Cancelled);
  EXPECT_TRUE(Page().LastScan()->Found.empty());
  EXPECT_EQ(Find<QSpinBox>("Rs485Slave")->value(), 1);

  // No driver on USB: slave 3 is found by going through the addresses.
  ASSERT_TRUE(Scan());
  ASSERT_EQ(Page().LastScan()->Found.size(), 1u);
  const ScanFind found = Page().LastScan()->Found.front();
  EXPECT_EQ(found.Slave, 3);
  EXPECT_EQ(Page().SlaveFromFields(), 3);
  EXPECT_EQ(Page().LineFromFields(), found.Line);
  EXPECT_TRUE(Verdict().startsWith("Found a slave at address 3")) << Verdict().toStdString();
}

// The words for the cases a simulated line cannot easily bring about here: a port that cannot be
// opened gives its fix, another device at the address says so.
TEST(Rs485Verdict, PortProblemsGiveTheirFixAndAnotherDeviceIsNamed) {
  LinkCheckReport report;
  report.Result.Verdict = LinkVerdict::PortError;
  report.Result.Port = modbus::PortErrorKind::NoAccess;
  const bus::PortError denied{bus::PortProblem::NoAccess, QStringLiteral("Permission denied")};
  const QString port = QStringLiteral("/dev/ttyUSB0");
  EXPECT_TRUE(LinkReportText(report, port, denied).startsWith(bus::PortProblemText(denied, port)));
  EXPECT_FALSE(LinkReportText(report, port, denied).contains("No driver on USB"));

  report.Result = {};
  report.Result.Verdict = LinkVerdict::AnotherDevice;
  report.Result.Sent = report.Result.Answered = 20;
  report.Slave = 7;
  report.CounterRead = true;
  const QString another = LinkReportText(report, port, {});
  EXPECT_TRUE(another.contains("Another device answers at slave 7")) << another.toStdString();
  EXPECT_TRUE(another.contains("20 of 20")) << another.toStdString();
}

}  // namespace
}  // namespace zrv
