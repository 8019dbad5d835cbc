// zrv-cli's text output: every column of every row whole, whatever the platform's device names.
#include "cli_output.h"

#include "bus_output.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace zrv::cli {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

DeviceEntry Entry(int index, std::string node, std::uint16_t vid, std::uint16_t pid, std::u16string product,
                  bool driver, bool readWrite) {
  DeviceEntry e;
  e.Index = index;
  e.Node = std::move(node);
  e.VendorID = vid;
  e.ProductID = pid;
  e.Product = std::move(product);
  e.IsDriver = driver;
  e.ReadWrite = readWrite;
  return e;
}

TEST(CliOutput, ListOfHidrawNodesKeepsItsTable) {
  const std::vector<DeviceEntry> devices = {
      Entry(0, "/dev/hidraw0", 0x046D, 0xC52B, u"USB Receiver", false, true),
      Entry(1, "/dev/hidraw1", 0x1234, 0x5678, u"ZRVXXX", true, false),
      Entry(12, "/dev/hidraw12", 0x0ABC, 0x0012, u"", false, true),
  };
  EXPECT_EQ(ListText(devices),
            "INDEX  NODE             VID:PID    DRIVER  ACCESS  PRODUCT\n"
            "0      /dev/hidraw0     046d:c52b  no      rw      USB Receiver\n"
            "1      /dev/hidraw1     1234:5678  yes     none    ZRVXXX\n"
            "12     /dev/hidraw12    0abc:0012  no      rw      (no product string)\n");
  EXPECT_EQ(ListText({}), "no HID devices\n");
}

TEST(CliOutput, ListOfLongInterfacePathsHasEveryColumnWholeAndThePathLast) {
  const std::string driverPath =
      "\\\\?\\hid#vid_1234&pid_5678#7&2a1b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
  const std::string mousePath =
      "\\\\?\\hid#vid_845e&pid_0001#0&0000&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
  const std::vector<std::string> lines = Lines(ListText({
      Entry(0, mousePath, 0x845E, 0x0001, u"Wine HID mouse", false, true),
      Entry(1, driverPath, 0x1234, 0x5678, u"ZRVXXX", true, false),
      Entry(2, "\\\\?\\hid#vid_0000", 0x0000, 0x0000, u"", false, false),
  }));
  ASSERT_EQ(lines.size(), 4U);
  EXPECT_EQ(lines[0], "INDEX  VID:PID    DRIVER  ACCESS  PRODUCT              NODE");
  EXPECT_EQ(lines[1], "0      845e:0001  no      rw      Wine HID mouse       " + mousePath);
  EXPECT_EQ(lines[2], "1      1234:5678  yes     none    ZRVXXX               " + driverPath);
  EXPECT_EQ(lines[3], "2      0000:0000  no      none    (no product string)  \\\\?\\hid#vid_0000");
}

TEST(CliOutput, ProductsAreAlignedByCharactersNotBytes) {
  const std::string path(90, 'p');
  const std::vector<std::string> lines = Lines(ListText({
      Entry(0, path, 0x1234, 0x5678, u"Sterownik \u017C\u00F3\u0142ty", false, true),  // 3 letters of two bytes in UTF-8
      Entry(1, path, 0x1234, 0x5678, u"Sterownik zolty", false, true),
  }));
  ASSERT_EQ(lines.size(), 3U);
  EXPECT_EQ(lines[1].find(path), lines[2].find(path) + 3);
}

TEST(CliOutput, NumbersAndBytesInFull) {
  EXPECT_EQ(DecimalHundredths(125), "1.25");
  EXPECT_EQ(DecimalHundredths(-3), "-0.03");
  EXPECT_EQ(DecimalHundredths(-2147483647 - 1), "-21474836.48");
  EXPECT_EQ(HexBytes({0x01, 0x0A, 0xFF, 0x00}), "01 0a ff 00");
  EXPECT_EQ(JsonString("a\"b\\\x01\x1f"), "\"a\\\"b\\\\\\u0001\\u001f\"");
}

// A bus read that got the registers 0..10 only: their rows as registers --json gives them for the
// same block, the rest null.
TEST(CliOutput, RowsABusReadDidNotGetAreNull) {
  LinkCheckReport r;
  r.Line = {19200, 2};
  r.Slave = 1;
  for (std::size_t i = 0; i < r.Rs485.Block.Bytes.size(); ++i) r.Rs485.Block.Bytes[i] = static_cast<std::uint8_t>(i);
  for (unsigned word = 3; word <= 13; ++word) r.Rs485.Filled |= 1U << word;  // bytes 6 to 27
  BusWhere where;
  where.Port = "/dev/ttyUSB0";
  const std::string bus = BusReadJson(r, where);
  DeviceState usb{};
  usb.Registers = r.Rs485.Block;
  const std::string registers = RegistersJson(usb, 0, -1);
  for (const std::string row : {R"({"addr":0,"name":"ControlWord","value":1798})",
                                R"({"addr":10,"name":"Softstart","value":6938})"}) {
    EXPECT_NE(bus.find(row), std::string::npos) << row << "\n" << bus;
    EXPECT_NE(registers.find(row), std::string::npos) << row << "\n" << registers;
  }
  for (const std::string row : {R"({"addr":100,"name":"StatusWord","value":null})",
                                R"({"addr":112,"name":"EnoderCnt","value":null})"}) {
    EXPECT_NE(bus.find(row), std::string::npos) << row << "\n" << bus;
  }
  EXPECT_EQ(registers.find("null"), std::string::npos) << registers;
}

TEST(CliOutput, SerialPortsListedWholeWithTheirStableNameAndJsonKeys) {
  EXPECT_EQ(BusPortsText({}), "no serial ports\n");
  bus::SerialPortInfo usb{QStringLiteral("/dev/ttyUSB0"),
                          QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A5XK3RJT-if00-port0"),
                          QStringLiteral("FT232R USB UART"),
                          QStringLiteral("FTDI"),
                          true,
                          0x0403,
                          0x6001,
                          QStringLiteral("A5XK3RJT")};
  bus::SerialPortInfo builtIn{QStringLiteral("/dev/ttyS0"), {}, QStringLiteral("Serial port"), {}, false, 0, 0, {}};
  EXPECT_EQ(BusPortsText({usb, builtIn}),
            "PORT          VID:PID    DESCRIPTION      MANUFACTURER  SERIAL\n"
            "/dev/ttyUSB0  0403:6001  FT232R USB UART  FTDI          A5XK3RJT\n"
            "              /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A5XK3RJT-if00-port0\n"
            "/dev/ttyS0    -          Serial port\n");
  EXPECT_EQ(BusPortsJson({usb, builtIn}),
            "{\"ports\":[{\"path\":\"/dev/ttyUSB0\",\"stable_name\":\"/dev/serial/by-id/"
            "usb-FTDI_FT232R_USB_UART_A5XK3RJT-if00-port0\",\"description\":\"FT232R USB UART\",\"manufacturer\":"
            "\"FTDI\",\"vid\":1027,\"pid\":24577,\"id\":\"0403:6001\",\"serial_number\":\"A5XK3RJT\"},"
            "{\"path\":\"/dev/ttyS0\",\"stable_name\":\"\",\"description\":\"Serial port\",\"manufacturer\":\"\","
            "\"serial_number\":\"\"}]}\n");
}

}  // namespace
}  // namespace zrv::cli
