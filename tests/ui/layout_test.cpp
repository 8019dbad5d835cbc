// The window as it comes up: widgets found by name and checked by what they show.
#include <gtest/gtest.h>

#include <algorithm>

#include <QAbstractItemView>
#include <QComboBox>
#include <QFileInfo>
#include <QFontInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>

#include "view/register_table.h"
#include "ui_test_support.h"

namespace zrv::test {
namespace {

struct LabelSpec {
  const char* Name;
  const char* Text;
  int PixelSize;  // 8 pt = 11 px, 10 pt = 13 px, 14 pt = 19 px at 96 DPI
  bool Bold;
};

// Every static text of the layout with its initial text and font.
const LabelSpec kLabels[] = {
    {"Label19", "Connection status", 13, false},
    {"Label4", "Hardware version:", 13, false},
    {"Label_HardwareVer", "0", 13, false},
    {"Label26", "Driver status:", 13, false},
    {"Label_DriverStatus", "Stop", 19, false},
    {"Label_DriverError", "None", 19, false},
    {"Label5", "Work mode: ", 13, false},
    {"Lab_WorkMode", "---", 13, false},
    {"Label2", "S1- Pot. internal", 13, false},
    {"Label6", "S2- Pot. cur. limit", 13, false},
    {"Label7", "S3- Soft start", 13, false},
    {"Label8", "S4- Brake on", 13, false},
    {"Label9", "S5- Limit in. level", 13, false},
    {"Label10", "S6- Auto reverse", 13, false},
    {"Label11", "IN Enable", 13, false},
    {"Label12", "IN Direction", 13, false},
    {"Label13", "IN Limit positive", 13, false},
    {"Label14", "IN Limit negative", 13, false},
    {"Label15", "OUT Error", 13, false},
    {"Label16", "OUT Curr. limit", 13, false},
    {"Label3", "Power supply:", 13, false},
    {"Label17", "Temperature: ", 13, false},
    {"Label24", "Potentiometer: ", 13, false},
    {"Label25", "Analog  input: ", 13, false},
    {"Label21", "Current limit:", 13, false},
    {"Label20", "Current act:", 13, false},
    {"Label23", "PWM limit: ", 13, false},
    {"Label22", "PWM act: ", 13, false},
    {"LabVal_PowerSupply", "0V", 13, false},
    {"LabVal_Temperature", "0 st. C", 13, false},
    {"LabVal_Potentiometer", "0 %", 13, false},
    {"LabVal_Ain", "0 V", 13, false},
    {"LabVal_CurLim", "0 A", 13, false},
    {"LabVal_CurAct", "0 A", 13, false},
    {"LabVal_PwmLim", "0 %", 13, false},
    {"LabVal_PwmAct", "0 %", 13, false},
    {"Label28", "Modbus slave ID:", 11, false},
    {"Label18", "Baudrate:", 11, false},
    {"Label27", "Parity:", 11, false},
    {"Label29", "Bity danych:", 11, false},
    {"Label30", "8", 11, false},
    {"Label31", "Bity stopu:", 11, false},
    {"Label32", "1", 11, false},
    {"Label33", "Register preview", 11, true},
    {"Label34", "Ok frames:", 11, false},
    {"Lab_ModbusOkFrames", "0", 11, true},
    {"Label35", "Wrong frames:", 11, false},
    {"Lab_ModbusNokFrames", "0", 11, true},
    {"Label1", "Status:", 11, false},
    {"Label_Status", "...", 11, false},
};

TEST(WindowLayout, EveryStaticTextHasItsTextFontAndRoom) {
  WindowOnManualTime w;
  w.Form->show();
  for (const LabelSpec& want : kLabels) {
    SCOPED_TRACE(want.Name);
    QLabel* label = w.Label(want.Name);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), QString::fromUtf8(want.Text));
    const QFontInfo info(label->font());
    EXPECT_EQ(info.pixelSize(), want.PixelSize);
    EXPECT_EQ(info.bold(), want.Bold);
    // Auto-sized static texts must never clip their text.
    EXPECT_GE(label->width(), label->sizeHint().width());
    EXPECT_GE(label->height(), label->sizeHint().height());
  }
  // Every static text of the laid-out pages is listed; the Recorder and RS485 link pages have their
  // own tests.
  const QWidget* recorder = w.Find<QTabWidget>("PageControl1")->widget(2);
  const QWidget* rs485 = w.Find<QTabWidget>("PageControl1")->widget(3);
  const auto labels = w.Form->findChildren<QLabel*>();
  EXPECT_EQ(std::size(kLabels),
            static_cast<std::size_t>(std::count_if(labels.begin(), labels.end(), [&](const QLabel* label) {
              return !recorder->isAncestorOf(label) && !rs485->isAncestorOf(label);
            })));
}

TEST(WindowLayout, UsesTahomaWhenTheFontFilesAreThere) {
  if (!QFileInfo::exists(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"))) {
    GTEST_SKIP() << "no Tahoma font file on this machine";
  }
  WindowOnManualTime w;
  EXPECT_EQ(QFontInfo(w.Label("Label19")->font()).family(), QStringLiteral("Tahoma"));
  EXPECT_EQ(QFontInfo(w.Label("Label33")->font()).family(), QStringLiteral("Tahoma"));
}

TEST(WindowLayout, FixedSizeWindowWithoutMaximiseAtTheOrigin) {
  WindowOnManualTime w;
  TForm1& form = *w.Form;
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Kalvor ZRV-PC - DC motor driver  1.02"));
  EXPECT_EQ(form.size(), QSize(678, 439));
  EXPECT_EQ(form.minimumSize(), QSize(678, 439));
  EXPECT_EQ(form.maximumSize(), QSize(678, 439));
  EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(form.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_TRUE(form.windowFlags().testFlag(Qt::WindowCloseButtonHint));
  EXPECT_EQ(form.pos(), QPoint(0, 0));
}

TEST(WindowLayout, SampleGeometryAndParents) {
  WindowOnManualTime w;
  struct Placed {
    const char* Name;
    const char* Parent;
    QRect Rect;
  };
  const Placed placed[] = {
      {"GroupBox7", "Form1", QRect(8, 2, 661, 36)},
      {"ConnectionStatus", "GroupBox7", QRect(115, 5, 349, 21)},
      {"PageControl1", "Form1", QRect(5, 122, 665, 279)},
      {"GroupBox1", "Form1", QRect(0, 414, 678, 25)},
      {"ListBox1", "Form1", QRect(627, 111, 35, 32)},
      {"SW3", "GroupBox4", QRect(11, 78, 36, 21)},
      {"OUT2", "GroupBox6", QRect(13, 51, 36, 21)},
      {"IN4", "GroupBox2", QRect(11, 105, 36, 21)},
      {"Pb_PwmAct", "GroupBox5", QRect(168, 207, 75, 17)},
      {"GroupBox10", "GroupBox8", QRect(11, 3, 254, 245)},
      {"Cb_ModbusParity", "GroupBox10", QRect(120, 96, 73, 21)},
      {"Btn_ReadSettings", "GroupBox8", QRect(15, 201, 104, 34)},
      {"Btn_SaveParams", "GroupBox8", QRect(138, 201, 105, 34)},
      {"GridModbus", "GroupBox8", QRect(288, 23, 225, 225)},
  };
  for (const Placed& p : placed) {
    SCOPED_TRACE(p.Name);
    QWidget* widget = w.Find<QWidget>(p.Name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->geometry(), p.Rect);
    ASSERT_NE(widget->parentWidget(), nullptr);
    EXPECT_EQ(widget->parentWidget()->objectName(), QString::fromLatin1(p.Parent));
  }
  // The buttons are drawn over the slave frame, not under it.
  QWidget* page = w.Find<QWidget>("GroupBox8");
  const auto children = page->children();
  EXPECT_GT(children.indexOf(w.Find<QWidget>("Btn_SaveParams")), children.indexOf(w.Find<QWidget>("GroupBox10")));
}

TEST(WindowLayout, IndicatorsAreReadOnlyOffAndTheStatusFieldIsEditable) {
  WindowOnManualTime w;
  for (const char* name : {"SW1", "SW2", "SW3", "SW4", "SW5", "SW6", "IN1", "IN2", "IN3", "IN4", "OUT1", "OUT2"}) {
    SCOPED_TRACE(name);
    QLineEdit* edit = w.Edit(name);
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(edit->isReadOnly());
    EXPECT_EQ(edit->text(), QStringLiteral("OFF"));
    EXPECT_EQ(QFontInfo(edit->font()).pixelSize(), 11);
  }
  EXPECT_FALSE(w.Edit("ConnectionStatus")->isReadOnly());
}

TEST(WindowLayout, GreyedInformationTextsAndTheRedFaultLabel) {
  WindowOnManualTime w;
  for (const char* name : {"Label29", "Label30", "Label31", "Label32"}) {
    EXPECT_FALSE(w.Label(name)->isEnabled()) << name;
  }
  EXPECT_TRUE(w.Label("Label28")->isEnabled());
  EXPECT_EQ(FontColor(w.Label("Label_DriverError")), QColor(255, 0, 0));
  EXPECT_NE(FontColor(w.Label("Label_DriverStatus")), QColor(255, 0, 0));
}

TEST(WindowLayout, OnlyLabel22HasATooltip) {
  WindowOnManualTime w;
  EXPECT_EQ(w.Label("Label22")->toolTip(), QStringLiteral("Actual % value of power supply that supply motor "));
  int withTip = 0;
  for (QWidget* widget : w.Form->findChildren<QWidget*>()) {
    withTip += widget->toolTip().isEmpty() ? 0 : 1;
  }
  EXPECT_EQ(withTip, 1);
}

TEST(WindowLayout, ListBoxStaysHiddenWhenTheWindowIsShown) {
  WindowOnManualTime w;
  w.Form->show();
  auto* list = w.Find<QListWidget>("ListBox1");
  ASSERT_NE(list, nullptr);
  EXPECT_FALSE(list->isVisible());
  EXPECT_TRUE(w.Edit("ConnectionStatus")->isVisible());
}

TEST(WindowLayout, PagesWithIoStatusShownThenRecorderAndRs485Link) {
  WindowOnManualTime w;
  auto* pages = w.Find<QTabWidget>("PageControl1");
  ASSERT_EQ(pages->count(), 4);
  EXPECT_EQ(pages->tabText(0), QStringLiteral("IO Status"));
  EXPECT_EQ(pages->tabText(1), QStringLiteral("RS485 Modbus"));
  EXPECT_EQ(pages->tabText(2), QStringLiteral("Recorder"));
  EXPECT_EQ(pages->tabText(3), QStringLiteral("RS485 link"));
  EXPECT_EQ(pages->currentIndex(), 0);
  EXPECT_EQ(pages->widget(0)->objectName(), QStringLiteral("TabSheet1"));
  EXPECT_EQ(pages->widget(1)->objectName(), QStringLiteral("TabSheet2"));
  EXPECT_EQ(w.Find<QWidget>("GroupBox9")->parentWidget(), pages->widget(0));
  EXPECT_EQ(w.Find<QWidget>("GroupBox8")->parentWidget(), pages->widget(1));
}

TEST(WindowLayout, ListsOfferOnlyTheirEntriesWithTheStartSelections) {
  WindowOnManualTime w;
  auto entries = [](QComboBox* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i) {
      texts << list->itemText(i);
    }
    return texts;
  };
  auto* baud = w.Find<QComboBox>("Cb_ModbusBaud");
  auto* parity = w.Find<QComboBox>("Cb_ModbusParity");
  auto* address = w.Find<QComboBox>("Cb_ModbusAddress");
  EXPECT_EQ(entries(baud), QStringList({"9600", "19200", "38400", "57600", "115200"}));
  EXPECT_EQ(baud->currentText(), QStringLiteral("38400"));
  EXPECT_EQ(entries(parity), QStringList({"None", "Odd", "Even"}));
  EXPECT_EQ(parity->currentText(), QStringLiteral("None"));
  for (QComboBox* list : {baud, parity, address}) {
    EXPECT_FALSE(list->isEditable());
    EXPECT_EQ(list->maxVisibleItems(), 8);
  }
  // Start-up makes the address list "1".."127".
  ASSERT_EQ(address->count(), 127);
  for (int i = 0; i < address->count(); ++i) {
    ASSERT_EQ(address->itemText(i), QString::number(i + 1));
  }
  EXPECT_EQ(address->currentIndex(), 0);
}

TEST(WindowLayout, DropDownShowsEightEntriesAtATime) {
  WindowOnManualTime w;
  w.Form->show();
  auto* address = w.Find<QComboBox>("Cb_ModbusAddress");
  address->showPopup();
  const int rowHeight = address->view()->sizeHintForRow(0);
  ASSERT_GT(rowHeight, 0);
  const int rowsShown = address->view()->viewport()->height() / rowHeight;
  EXPECT_EQ(rowsShown, 8);
  address->hidePopup();
}

TEST(WindowLayout, GlyphButtonsShowTheirPictures) {
  WindowOnManualTime w;
  for (const char* name : {"Btn_ReadSettings", "Btn_SaveParams"}) {
    SCOPED_TRACE(name);
    auto* button = w.Find<QPushButton>(name);
    ASSERT_FALSE(button->icon().isNull());
    EXPECT_EQ(button->iconSize(), QSize(24, 24));
    const QImage picture = button->icon().pixmap(24, 24).toImage();
    // White is transparent: the bottom-left corner shows the button face.
    EXPECT_EQ(qAlpha(picture.pixel(0, 23)), 0);
    int opaqueBlack = 0;
    for (int y = 0; y < 24; ++y) {
      for (int x = 0; x < 24; ++x) {
        const QRgb px = picture.pixel(x, y);
        opaqueBlack += (qAlpha(px) == 255 && qGray(px) == 0) ? 1 : 0;
      }
    }
    EXPECT_GT(opaqueBlack, 40);
  }
  EXPECT_EQ(w.Find<QPushButton>("Btn_ReadSettings")->text(), QStringLiteral("Read"));
  EXPECT_EQ(w.Find<QPushButton>("Btn_SaveParams")->text(), QStringLiteral("Save"));
}

TEST(WindowLayout, KeyboardOrderFollowsEachContainer) {
  WindowOnManualTime w;
  const QStringList expected = {"ConnectionStatus", "SW1", "SW2", "SW3", "SW4", "SW5", "SW6", "OUT1", "OUT2",
                                "IN1", "IN2", "IN3", "IN4", "Cb_ModbusBaud", "Cb_ModbusParity",
                                "Cb_ModbusAddress", "Btn_ReadSettings", "Btn_SaveParams", "GridModbus"};
  QStringList chain;
  QWidget* widget = w.Edit("ConnectionStatus");
  for (int guard = 0; guard < 400 && chain.size() < expected.size(); ++guard) {
    if (expected.contains(widget->objectName()) && !chain.contains(widget->objectName())) {
      chain << widget->objectName();
    }
    widget = widget->nextInFocusChain();
  }
  EXPECT_EQ(chain, expected);
}

// ---- FormCreate ----

TEST(FormCreate, ShowsNoConnectionAndStopsPolling) {
  WindowOnManualTime w;
  QLineEdit* status = w.Edit("ConnectionStatus");
  EXPECT_EQ(status->text(), QStringLiteral("No connection"));
  EXPECT_EQ(Background(status), QColor(0xFD, 0x7C, 0x66));
  EXPECT_FALSE(w.Session.Polling());
  EXPECT_FALSE(w.Session.PollingPaused());
  EXPECT_TRUE(w.Form->LiveViewRunning());
  EXPECT_FALSE(w.Session.Connected());
  EXPECT_TRUE(w.Boxes.Boxes.empty());
}

TEST(FormCreate, PreparesTheRegisterGrid) {
  WindowOnManualTime w;
  auto* grid = w.Find<QTableWidget>("GridModbus");
  ASSERT_EQ(grid->rowCount(), 16);
  ASSERT_EQ(grid->columnCount(), 3);
  EXPECT_EQ(grid->columnWidth(0), 50);
  EXPECT_EQ(grid->columnWidth(1), 80);
  EXPECT_EQ(grid->columnWidth(2), 70);
  EXPECT_FALSE(grid->horizontalHeader()->isVisible());
  EXPECT_FALSE(grid->verticalHeader()->isVisible());
  EXPECT_EQ(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_TRUE(grid->showGrid());
  auto cell = [grid](int row, int column) {
    QTableWidgetItem* item = grid->item(row, column);
    return item == nullptr ? QString() : item->text();
  };
  EXPECT_EQ(cell(0, 0), QStringLiteral("Addr"));
  EXPECT_EQ(cell(0, 1), QStringLiteral("Name"));
  EXPECT_EQ(cell(0, 2), QStringLiteral("Value"));
  EXPECT_EQ(cell(1, 0), QStringLiteral("0"));
  EXPECT_EQ(cell(1, 1), QStringLiteral("ControlWord"));
  EXPECT_EQ(cell(5, 0), QStringLiteral("10"));
  EXPECT_EQ(cell(15, 0), QStringLiteral("112"));
  EXPECT_EQ(cell(15, 1), QStringLiteral("EnoderCnt"));
  for (int row = 1; row < 16; ++row) {
    SCOPED_TRACE(row);
    const RegisterRow& reg = kRegisterTable[static_cast<std::size_t>(row - 1)];
    EXPECT_EQ(cell(row, 0).toStdString(), reg.Address);
    EXPECT_EQ(cell(row, 1).toStdString(), reg.Name);
    EXPECT_TRUE(cell(row, 2).isEmpty());
  }
}

// ---- Connection status routines ----

TEST(StatusRoutines, EachSetsTextColourAndPolling) {
  // What ShowConnected sends is checked end to end, with a device behind the window.
  WindowOnManualTime w;
  QLineEdit* status = w.Edit("ConnectionStatus");

  w.Session.ShowConnected();
  EXPECT_EQ(status->text(), QStringLiteral("Connected"));
  EXPECT_EQ(Background(status), QColor(0xAF, 0xD8, 0x87));
  EXPECT_FALSE(w.Session.Polling());  // only the identity reply starts polling

  // Polling runs once a connected driver has told who it is.
  ASSERT_TRUE(w.Connect());
  w.Reply(IdentityReply(125, "ABC", 103));
  ASSERT_TRUE(w.Session.Polling());
  w.Session.ShowDisconnected();
  EXPECT_EQ(status->text(), QStringLiteral("Disconnected"));
  EXPECT_EQ(Background(status), QColor(0xFD, 0x7C, 0x66));
  EXPECT_FALSE(w.Session.Polling());

  w.Reply(IdentityReply(125, "ABC", 103));
  ASSERT_TRUE(w.Session.Polling());
  w.Session.ShowNoConnection();
  EXPECT_EQ(status->text(), QStringLiteral("No connection"));
  EXPECT_FALSE(w.Session.Polling());
}

}  // namespace
}  // namespace zrv::test
