// The "RS485 link" page on a Windows COM port whose far end is the simulated driver's RS485 side
// (under wine, a COM port mapped to a pseudo-terminal served by zrv-uhid-driver --no-hid). The port
// and the driver's settings come from ZRV_TEST_COM_PORT ("COM9") and ZRV_TEST_COM_LINE
// ("slave,baud,parity"); without them the cases skip. No driver is on USB here.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QStringList>
#include <QTabWidget>
#include <QTableWidget>

#include <memory>

#include "link/platform/sim/sim_hid_platform.h"
#include "session/driver_session.h"
#include "support/run_until.h"
#include "ui/form1.h"
#include "ui/rs485_page.h"
#include "ui_test_support.h"

namespace zrv {
namespace {

using modbus::LinkVerdict;

class Rs485PageComPort : public ::testing::Test {
 protected:
  Rs485PageComPort() : session(RealTimeSource(), platform), form(std::make_unique<TForm1>(session, RealTimeSource(), boxes)) {}
  ~Rs485PageComPort() override { form.reset(); }

  void SetUp() override {
    port = qEnvironmentVariable("ZRV_TEST_COM_PORT");
    line = qEnvironmentVariable("ZRV_TEST_COM_LINE").split(QLatin1Char(','));
    if (port.isEmpty() || line.size() != 3) {
      GTEST_SKIP() << "no COM port on a simulated driver's line (ZRV_TEST_COM_PORT, ZRV_TEST_COM_LINE)";
    }
    form->show();
    form->findChild<QTabWidget*>(QStringLiteral("PageControl1"))->setCurrentIndex(3);
  }

  template <typename T>
  T* Find(const char* name) {
    return form->Rs485().findChild<T*>(QString::fromLatin1(name));
  }
  QString Verdict() { return Find<QLabel>("Rs485Verdict")->text(); }
  // The port and the driver's line settings typed in, as a technician without USB would.
  bool ChoosePortAndLine(int slave) {
    auto* ports = Find<QComboBox>("Rs485Port");
    const int at = ports->findData(port);
    if (at < 0) return false;
    ports->setCurrentIndex(at);
    Find<QSpinBox>("Rs485Slave")->setValue(slave);
    Find<QComboBox>("Rs485Baud")->setCurrentText(line[1]);
    Find<QComboBox>("Rs485Parity")->setCurrentText(line[2]);
    return form->Rs485().PortPath() == port && Find<QComboBox>("Rs485Parity")->currentText() == line[2];
  }
  bool TestLink() {
    bool ended = false;
    const QMetaObject::Connection done = QObject::connect(&form->Rs485(), &Rs485Page::CheckFinished, [&] { ended = true; });
    Find<QPushButton>("Rs485Test")->click();
    const bool ran = test::RunUntil([&] { return ended; });
    QObject::disconnect(done);
    return ran && !form->Rs485().Running() && form->Rs485().LastReport();
  }

  SimHidPlatform platform;
  DriverSession session;
  test::FakeMessageBoxes boxes;
  std::unique_ptr<TForm1> form;
  QString port;
  QStringList line;
};

TEST_F(Rs485PageComPort, TheComPortIsListedAndATestAtTheDriversSettingsIsOk) {
  ASSERT_TRUE(ChoosePortAndLine(line[0].toInt())) << port.toStdString() << " is not in the page's port list";
  ASSERT_TRUE(TestLink());
  const modbus::LinkTestResult& result = form->Rs485().LastReport()->Result;
  EXPECT_EQ(result.Verdict, LinkVerdict::Ok) << Verdict().toStdString();
  EXPECT_GT(result.Sent, 0U);
  EXPECT_EQ(result.Answered, result.Sent);
  EXPECT_TRUE(Verdict().startsWith("Link OK")) << Verdict().toStdString();
  EXPECT_TRUE(Verdict().contains("No driver on USB")) << Verdict().toStdString();
  // The RS485 column holds what the driver answered.
  const auto* table = Find<QTableWidget>("Rs485Registers");
  for (int row = 0; row < table->rowCount(); ++row) {
    SCOPED_TRACE(row);
    ASSERT_NE(table->item(row, 2), nullptr);
    EXPECT_FALSE(table->item(row, 2)->text().isEmpty());
  }
}

TEST_F(Rs485PageComPort, AtAnotherAddressNothingAnswers) {
  ASSERT_TRUE(ChoosePortAndLine(line[0].toInt() + 1));
  ASSERT_TRUE(TestLink());
  const modbus::LinkTestResult& result = form->Rs485().LastReport()->Result;
  EXPECT_EQ(result.Answered, 0U);
  EXPECT_EQ(result.Verdict, LinkVerdict::NoAnswer) << Verdict().toStdString();
  EXPECT_TRUE(Find<QPushButton>("Rs485Test")->isEnabled());
}

}  // namespace
}  // namespace zrv
