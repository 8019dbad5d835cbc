// What replies from the driver show on the window.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QSignalSpy>
#include <QTableWidget>

#include "link/hid_device.h"
#include "ui_test_support.h"

namespace zrv::test {
namespace {

QString Cell(const WindowOnManualTime& w, int row, int column) {
  QTableWidgetItem* item = w.Find<QTableWidget>("GridModbus")->item(row, column);
  return item == nullptr ? QString() : item->text();
}

QString Local(const WindowOnManualTime& w, const char* text) {
  QString s = QString::fromLatin1(text);
  s.replace(QLatin1Char('.'), QLatin1Char(w.Form->DecimalSeparator()));
  return s;
}

TEST(HandleReply, IsADataHandlerOfTheDeviceLayer) {
  WindowOnManualTime w;
  const THidDataEvent handler(&w.Session, &DriverSession::HandleReply);
  EXPECT_EQ(handler, THidDataEvent(&w.Session, &DriverSession::HandleReply));
  const std::uint8_t ack[] = {148, 0, 0};
  handler(nullptr, 1, ack, 1);
  EXPECT_EQ(w.Label("Label_Status")->text(), QStringLiteral("Ustawienia Modbus zapisane"));
}

TEST(HandleReply, IdentityWritesTheCaptionAndHardwareVersionAndStartsPolling) {
  WindowOnManualTime w;
  ASSERT_TRUE(w.Connect());
  std::vector<std::uint8_t> reply = IdentityReply(125, "ABC", 103);
  // Limits 30000 mV, 90 C, PWM 1000, 10000 mA; Modbus 19200, odd, 5.
  const std::uint8_t tail[] = {0x30, 0x75, 0x00, 0x00, 0x5A, 0x00, 0xE8, 0x03, 0x10, 0x27,
                               0x00, 0x4B, 0x00, 0x00, 0x01, 0x05};
  std::copy(std::begin(tail), std::end(tail), reply.begin() + 12);
  w.Reply(reply);

  EXPECT_EQ(w.Edit("ConnectionStatus")->text(), "Connected to ZRVXXX ver.: " + Local(w, "1.25") + "   ABC");
  EXPECT_EQ(Background(w.Edit("ConnectionStatus")), QColor(0xAF, 0xD8, 0x87));  // colour unchanged
  EXPECT_EQ(w.Label("Label_HardwareVer")->text(), Local(w, "1.03"));
  EXPECT_TRUE(w.Session.Polling());
  // Packed fields are copied out before they are compared.
  const std::uint16_t curMax = w.Session.State().Limits.CurMax;
  const std::uint32_t baudrate = w.Session.State().Modbus.Baudrate;
  EXPECT_EQ(curMax, 10000);
  EXPECT_EQ(baudrate, 19200u);
  // The lists keep what they showed; only a settings reply moves them.
  EXPECT_EQ(w.Find<QComboBox>("Cb_ModbusBaud")->currentText(), QStringLiteral("38400"));
  EXPECT_EQ(w.Find<QComboBox>("Cb_ModbusParity")->currentText(), QStringLiteral("None"));
  EXPECT_EQ(w.Find<QComboBox>("Cb_ModbusAddress")->currentText(), QStringLiteral("1"));
}

TEST(HandleReply, IdentityWritesTheCaptionOnlyWhileConnected) {
  WindowOnManualTime w;
  // Not connected (a later driver refused access): the red field keeps its text, nothing polls.
  w.Reply(IdentityReply(-128, "", -3));
  EXPECT_EQ(w.Edit("ConnectionStatus")->text(), "No connection");
  EXPECT_FALSE(w.Session.Polling());
  EXPECT_EQ(w.Label("Label_HardwareVer")->text(), Local(w, "-0.03"));
  // Connected: the caption is written, and the colour stays whatever the field has (here the red
  // of "No connection", set again by hand after the connection showed green).
  ASSERT_TRUE(w.Connect());
  w.Session.ShowNoConnection();
  w.Reply(IdentityReply(-128, "", -3));
  EXPECT_EQ(w.Edit("ConnectionStatus")->text(), "Connected to ZRVXXX ver.: " + Local(w, "-1.28") + "   ");
  EXPECT_EQ(Background(w.Edit("ConnectionStatus")), QColor(0xFD, 0x7C, 0x66));
  EXPECT_TRUE(w.Session.Polling());
}

TEST(HandleReply, SettingsReplySelectsTheLists) {
  WindowOnManualTime w;
  w.Reply({20, 0x00, 0x96, 0x00, 0x00, 0x02, 0x11});
  EXPECT_EQ(w.Find<QComboBox>("Cb_ModbusBaud")->currentText(), QStringLiteral("38400"));
  EXPECT_EQ(w.Find<QComboBox>("Cb_ModbusParity")->currentText(), QStringLiteral("Even"));
  EXPECT_EQ(w.Find<QComboBox>("Cb_ModbusAddress")->currentText(), QStringLiteral("17"));
  EXPECT_EQ(w.Session.State().Modbus.SlaveId, 17);

  // 14400 is not offered: the baud list shows nothing rather than a rate the driver does not
  // have; parity and address still follow.
  w.Reply({20, 0x40, 0x38, 0x00, 0x00, 0x01, 0x7F});
  EXPECT_EQ(w.Find<QComboBox>("Cb_ModbusBaud")->currentIndex(), -1);
  EXPECT_EQ(w.Find<QComboBox>("Cb_ModbusParity")->currentText(), QStringLiteral("Odd"));
  EXPECT_EQ(w.Find<QComboBox>("Cb_ModbusAddress")->currentText(), QStringLiteral("127"));

  // Parity 7 shows "Even"; slave 0 shows "1"; 115200 is index 4.
  w.Reply({20, 0x00, 0xC2, 0x01, 0x00, 0x07, 0x00});
  EXPECT_EQ(w.Find<QComboBox>("Cb_ModbusBaud")->currentText(), QStringLiteral("115200"));
  EXPECT_EQ(w.Find<QComboBox>("Cb_ModbusParity")->currentText(), QStringLiteral("Even"));
  EXPECT_EQ(w.Find<QComboBox>("Cb_ModbusAddress")->currentText(), QStringLiteral("1"));
}

TEST(HandleReply, SlaveAddressBeyondTheListClearsItsSelection) {
  WindowOnManualTime w;
  w.Reply({20, 0x80, 0x25, 0x00, 0x00, 0x00, 0x2A});
  ASSERT_EQ(w.Find<QComboBox>("Cb_ModbusAddress")->currentText(), QStringLiteral("42"));
  w.Reply({20, 0x80, 0x25, 0x00, 0x00, 0x00, 200});
  EXPECT_EQ(w.Find<QComboBox>("Cb_ModbusAddress")->currentIndex(), -1);
  EXPECT_EQ(w.Find<QComboBox>("Cb_ModbusBaud")->currentText(), QStringLiteral("9600"));
}

TEST(HandleReply, ListsAlreadyShowingTheValueAreLeftAlone) {
  WindowOnManualTime w;
  QSignalSpy baud(w.Find<QComboBox>("Cb_ModbusBaud"), &QComboBox::currentIndexChanged);
  QSignalSpy parity(w.Find<QComboBox>("Cb_ModbusParity"), &QComboBox::currentIndexChanged);
  QSignalSpy address(w.Find<QComboBox>("Cb_ModbusAddress"), &QComboBox::currentIndexChanged);
  w.Reply({20, 0x00, 0x96, 0x00, 0x00, 0x00, 0x01});  // 38400, none, 1: what the lists show
  EXPECT_EQ(baud.count() + parity.count() + address.count(), 0);
  w.Reply({20, 0x00, 0x4B, 0x00, 0x00, 0x00, 0x01});
  EXPECT_EQ(baud.count(), 1);
  EXPECT_EQ(parity.count() + address.count(), 0);
}

TEST(HandleReply, SaveAcknowledgementWritesTheStatusLine) {
  WindowOnManualTime w;
  w.Reply({148});
  EXPECT_EQ(w.Label("Label_Status")->text(), QStringLiteral("Ustawienia Modbus zapisane"));
  EXPECT_GE(w.Label("Label_Status")->width(), w.Label("Label_Status")->sizeHint().width());
}

TEST(HandleReply, RegisterPreviewFillsTheValueColumnAndTheFrameCount) {
  WindowOnManualTime w;
  std::vector<std::uint8_t> reply(61, 0);
  reply[0] = 12;
  reply[1] = 4;  // work mode, fault, driver state
  reply[2] = 1;
  reply[3] = 2;
  reply[4] = 0x34;  // ok frames 0x1234
  reply[5] = 0x12;
  reply[11] = 0xFF;  // ControlWord 0xFFFF
  reply[12] = 0xFF;
  reply[33] = 0x39;  // StatusWord 12345
  reply[34] = 0x30;
  for (int i = 57; i <= 60; ++i) {
    reply[static_cast<std::size_t>(i)] = 0xFF;  // EnoderCnt -1
  }
  w.Reply(reply);
  EXPECT_EQ(w.Label("Lab_ModbusOkFrames")->text(), QStringLiteral("4660"));
  EXPECT_EQ(Cell(w, 1, 2), QStringLiteral("65535"));
  EXPECT_EQ(Cell(w, 6, 2), QStringLiteral("12345"));
  EXPECT_EQ(Cell(w, 15, 2), QStringLiteral("-1"));
  for (int row = 2; row <= 14; ++row) {
    if (row != 6) {
      EXPECT_EQ(Cell(w, row, 2), QStringLiteral("0")) << row;
    }
  }
  // Heading and names are untouched; the wrong-frames counter stays "0".
  EXPECT_EQ(Cell(w, 0, 2), QStringLiteral("Value"));
  EXPECT_EQ(Cell(w, 15, 1), QStringLiteral("EnoderCnt"));
  EXPECT_EQ(w.Label("Lab_ModbusNokFrames")->text(), QStringLiteral("0"));
  EXPECT_EQ(w.Session.State().Status.DriverState, 2);

  reply[57] = 0x00;
  reply[58] = 0x00;
  reply[59] = 0x00;
  reply[60] = 0x80;
  w.Reply(reply);
  EXPECT_EQ(Cell(w, 15, 2), QStringLiteral("-2147483648"));
}

TEST(HandleReply, ShortOrUnknownRepliesChangeNothing) {
  WindowOnManualTime w;
  const QString status = w.Edit("ConnectionStatus")->text();
  w.Reply({10, 125, 'A', 0});      // identity cut short
  w.Reply({20, 0x00, 0xC2, 0x01});  // settings cut short
  w.Reply({12, 1, 2, 3, 4, 5});     // register preview cut short
  w.Reply({99, 1, 2, 3});
  w.Reply({});
  EXPECT_EQ(w.Edit("ConnectionStatus")->text(), status);
  EXPECT_EQ(w.Label("Label_HardwareVer")->text(), QStringLiteral("0"));
  EXPECT_FALSE(w.Session.Polling());
  EXPECT_EQ(w.Find<QComboBox>("Cb_ModbusBaud")->currentText(), QStringLiteral("38400"));
  EXPECT_EQ(w.Label("Lab_ModbusOkFrames")->text(), QStringLiteral("0"));
  EXPECT_TRUE(Cell(w, 1, 2).isEmpty());
}

}  // namespace
}  // namespace zrv::test
