// The Modbus settings page: Read, Save with confirmation, and the acknowledgement.
#include <gtest/gtest.h>

#include <cstring>

#include "e2e_support.h"

namespace zrv::test {
namespace {

class ModbusPage : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(b.FirstScan());
    driver = b.PlugDriver();
    ASSERT_TRUE(b.Identified());
    b.ShowPage(1);
    driver.Sim().ClearReceived();
  }
  // The last report the driver received, whole.
  std::vector<std::uint8_t> LastReport() const {
    return driver.Sim().Received().empty() ? std::vector<std::uint8_t>{} : driver.Sim().Received().back().Bytes;
  }
  void Select(const char* baud, const char* parity, const char* address) {
    b.Combo("Cb_ModbusBaud")->setCurrentText(QString::fromLatin1(baud));
    b.Combo("Cb_ModbusParity")->setCurrentText(QString::fromLatin1(parity));
    b.Combo("Cb_ModbusAddress")->setCurrentText(QString::fromLatin1(address));
  }
  QStringList Selected() const {
    return {b.Combo("Cb_ModbusBaud")->currentText(), b.Combo("Cb_ModbusParity")->currentText(),
            b.Combo("Cb_ModbusAddress")->currentText()};
  }
  Bench b;
  Driver driver;
};

TEST_F(ModbusPage, ReadPausesPollingAndSelectsTheDriversSettings) {
  EXPECT_EQ(Selected(), (QStringList{"38400", "None", "1"}));  // the identity reply leaves the lists alone
  driver.Sim().Model().Modbus = ModbusSettings{115200, 1, 5};
  b.Click("Btn_ReadSettings");
  EXPECT_EQ(driver.Codes(), std::vector<int>{20});
  EXPECT_FALSE(b.Session->Polling());
  EXPECT_TRUE(b.Session->PollingPaused());
  ASSERT_TRUE(RunUntil([&] { return Selected() == QStringList{"115200", "Odd", "5"}; }));
}

TEST_F(ModbusPage, SaveSendsTheListsAfterConfirmationAndShowsTheAcknowledgement) {
  Select("115200", "Even", "127");
  b.Click("Btn_SaveParams");
  ASSERT_EQ(b.Boxes.Boxes.size(), 1u);
  EXPECT_EQ(b.Boxes.Boxes[0].Kind, "Question");
  EXPECT_EQ(b.Boxes.Boxes[0].Caption, "Ustawienia");
  EXPECT_EQ(b.Boxes.Boxes[0].Text, "Zapisa\xC4\x87 ustawienia?");

  std::vector<std::uint8_t> expected(64, 0);
  const std::uint8_t head[] = {1, 148, 0x00, 0xC2, 0x01, 0x00, 2, 127};
  std::memcpy(expected.data(), head, sizeof head);
  EXPECT_EQ(LastReport(), expected);
  EXPECT_TRUE(driver.Sim().Received().back().Accepted);
  const ModbusSettings stored = b.Session->State().Modbus;
  EXPECT_EQ(stored.Baudrate, 115200u);
  EXPECT_EQ(stored.Parity, 2);
  EXPECT_EQ(stored.SlaveId, 127);
  EXPECT_FALSE(b.Session->Polling());
  EXPECT_TRUE(b.Session->PollingPaused());
  // The driver took them and says so.
  EXPECT_EQ(driver.Sim().Model().Modbus.Baudrate, 115200u);
  ASSERT_TRUE(RunUntil([&] { return b.LabelText("Label_Status") == "Ustawienia Modbus zapisane"; }));
  // No read-back: the lists keep the operator's choice.
  EXPECT_EQ(driver.Codes(), std::vector<int>{148});
}

TEST_F(ModbusPage, SaveWithTheStartUpSelections) {
  b.Click("Btn_SaveParams");
  std::vector<std::uint8_t> expected(64, 0);
  const std::uint8_t head[] = {1, 148, 0x00, 0x96, 0x00, 0x00, 0, 1};
  std::memcpy(expected.data(), head, sizeof head);
  EXPECT_EQ(LastReport(), expected);
}

TEST_F(ModbusPage, CancelChangesNothing) {
  const ModbusSettings before = b.Session->State().Modbus;
  Select("9600", "Odd", "9");
  b.Boxes.Answer = false;
  b.Click("Btn_SaveParams");
  EXPECT_EQ(b.Boxes.Boxes.size(), 1u);
  EXPECT_TRUE(driver.Codes().empty());
  const ModbusSettings after = b.Session->State().Modbus;
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
  EXPECT_EQ(b.LabelText("Label_Status"), "...");
  EXPECT_TRUE(b.Session->Polling());
  EXPECT_FALSE(b.Session->PollingPaused());
}

TEST_F(ModbusPage, PollingAndRepliesGoOnWhileTheQuestionIsOpen) {
  std::uint64_t pollsWhileOpen = 0;
  bool decodedWhileOpen = false;
  b.Boxes.WhileOpen = [&] {
    const std::uint64_t before = driver.Count(CommandCode::ReadRegisters);
    driver.Sim().Model().GoodFrames = 4242;
    b.Ticks(5);
    pollsWhileOpen = driver.Count(CommandCode::ReadRegisters) - before;
    decodedWhileOpen = RunUntil([&] { return b.LabelText("Lab_ModbusOkFrames") == "4242"; });
    // An acknowledgement nobody asked for lands before the save blanks the status.
    driver.Sim().SendReply(148);
    RunUntil([&] { return b.LabelText("Label_Status") == "Ustawienia Modbus zapisane"; });
  };
  b.Click("Btn_SaveParams");
  EXPECT_EQ(pollsWhileOpen, 5u);
  EXPECT_TRUE(decodedWhileOpen);
  // The pause starts only after the answer, and the blank comes after the early acknowledgement.
  EXPECT_FALSE(b.Session->Polling());
  EXPECT_EQ(driver.Codes().back(), 148);
  EXPECT_EQ(b.LabelText("Label_Status"), " ");
  ASSERT_TRUE(RunUntil([&] { return b.LabelText("Label_Status") == "Ustawienia Modbus zapisane"; }));
}

TEST_F(ModbusPage, ASettingTheListsCannotShowIsNeitherShownNorSaved) {
  driver.Sim().Model().Modbus = ModbusSettings{19200, 0, 5};
  b.Click("Btn_ReadSettings");
  ASSERT_TRUE(RunUntil([&] { return Selected() == QStringList{"19200", "None", "5"}; }));

  // Slave 200 and 14400 baud: those lists show nothing rather than the old entries.
  driver.Sim().Model().Modbus = ModbusSettings{14400, 1, 200};
  b.Click("Btn_ReadSettings");
  ASSERT_TRUE(RunUntil([&] { return b.Session->State().Modbus.SlaveId == 200; }));
  EXPECT_EQ(b.Combo("Cb_ModbusAddress")->currentIndex(), -1);
  EXPECT_EQ(b.Combo("Cb_ModbusBaud")->currentIndex(), -1);
  EXPECT_EQ(b.Combo("Cb_ModbusParity")->currentText(), "Odd");

  // Save then sends nothing, and says so; what the driver reported stays stored.
  const std::size_t received = driver.Sim().Received().size();
  b.Click("Btn_SaveParams");
  EXPECT_EQ(driver.Sim().Received().size(), received);
  EXPECT_EQ(b.LabelText("Label_Status"), "Ustawienia Modbus nie zapisane");
  EXPECT_EQ(b.Session->State().Modbus.SlaveId, 200);

  // One list still empty is enough to send nothing.
  b.Combo("Cb_ModbusAddress")->setCurrentText(QStringLiteral("7"));
  b.Click("Btn_SaveParams");
  EXPECT_EQ(driver.Sim().Received().size(), received);
  // With every list chosen, the save goes out.
  b.Combo("Cb_ModbusBaud")->setCurrentText(QStringLiteral("9600"));
  b.Click("Btn_SaveParams");
  ASSERT_EQ(driver.Codes().back(), 148);
  const std::vector<std::uint8_t> saved = LastReport();
  ASSERT_GE(saved.size(), 8u);
  EXPECT_EQ(saved[7], 7);
  EXPECT_EQ(b.LabelText("Label_Status"), " ");
}

TEST(ModbusPageOff, ButtonsWhileNotConnectedPauseAndStoreButSendNothing) {
  Bench b;
  ASSERT_TRUE(b.FirstScan());
  auto mouse = b.PlugOther(u"USB Optical Mouse");
  b.Form->findChild<QComboBox*>(QStringLiteral("Cb_ModbusBaud"))->setCurrentText(QStringLiteral("57600"));
  b.Click("Btn_ReadSettings");
  b.Click("Btn_SaveParams");
  EXPECT_EQ(b.Session->State().Modbus.Baudrate, 57600u);
  EXPECT_EQ(b.LabelText("Label_Status"), "Ustawienia Modbus nie zapisane");
  EXPECT_TRUE(b.Session->PollingPaused());
  EXPECT_EQ(mouse->WriteAttempts(), 0);
}

}  // namespace
}  // namespace zrv::test
