#include "uhid_bridge.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "driver_options.h"
#include "protocol/reply_decoder.h"

namespace zrv::uhid {
namespace {

uhid_event Output(std::vector<std::uint8_t> bytes, std::uint8_t rtype = UHID_OUTPUT_REPORT) {
  uhid_event e{};
  e.type = UHID_OUTPUT;
  std::memcpy(e.u.output.data, bytes.data(), bytes.size());
  e.u.output.size = static_cast<__u16>(bytes.size());
  e.u.output.rtype = rtype;
  return e;
}

std::vector<std::uint8_t> Command(std::uint8_t id, std::uint8_t code) {
  std::vector<std::uint8_t> r(64, 0);
  r[0] = id;
  r[1] = code;
  return r;
}

uhid_event Simple(std::uint32_t type) {
  uhid_event e{};
  e.type = type;
  return e;
}

struct BridgeBench {
  explicit BridgeBench(bool numbered)
      : bridge(driver, numbered, [this](const uhid_event& e) {
          written.push_back(e);
          return true;
        }) {}
  sim::SimulatedDriver driver;
  std::vector<uhid_event> written;
  DriverBridge bridge;
};

TEST(UhidBridge, CommandBecomesOneWholeInputReport) {
  BridgeBench b(true);
  b.driver.Model().SetName("ABC");
  b.bridge.OnEvent(Simple(UHID_START));
  b.bridge.OnEvent(Simple(UHID_OPEN));
  b.bridge.OnEvent(Output(Command(1, 10)));
  ASSERT_EQ(b.written.size(), 1u);
  const uhid_event& e = b.written[0];
  EXPECT_EQ(e.type, static_cast<std::uint32_t>(UHID_INPUT2));
  ASSERT_EQ(e.u.input2.size, 64);
  EXPECT_EQ(e.u.input2.data[0], 1);
  DeviceState state{};
  const DecodedReply fx = DecodeReply(state, e.u.input2.data + 1, 63);
  EXPECT_EQ(fx.kind, DecodedReply::Kind::Identity);
  EXPECT_STREQ(state.Identity.DeviceName.data(), "ABC");
  ASSERT_EQ(b.driver.Received().size(), 1u);
  EXPECT_EQ(b.driver.Received()[0].Bytes, Command(1, 10));
}

TEST(UhidBridge, NothingIsSentBeforeStartOrAfterStop) {
  BridgeBench b(true);
  b.bridge.OnEvent(Output(Command(1, 11)));
  EXPECT_TRUE(b.written.empty());
  EXPECT_EQ(b.bridge.InputsFailed(), 1u);
  b.bridge.OnEvent(Simple(UHID_START));
  b.bridge.OnEvent(Output(Command(1, 11)));
  EXPECT_EQ(b.written.size(), 1u);
  b.bridge.OnEvent(Simple(UHID_STOP));
  b.bridge.OnEvent(Output(Command(1, 11)));
  EXPECT_EQ(b.written.size(), 1u);
}

TEST(UhidBridge, WithoutReportIdsTheIdByteIsNeitherExpectedNorSent) {
  BridgeBench b(false);
  b.bridge.OnEvent(Simple(UHID_START));
  b.bridge.OnEvent(Output(Command(0, 11)));
  ASSERT_EQ(b.written.size(), 1u);
  EXPECT_EQ(b.written[0].u.input2.size, 63);
  EXPECT_EQ(b.written[0].u.input2.data[0], 11);
  // The driver model still sees its own numbered framing.
  EXPECT_TRUE(b.driver.Received().at(0).Accepted);
}

TEST(UhidBridge, WrongLengthAndFeatureReportsGetNoAnswer) {
  BridgeBench b(true);
  b.bridge.OnEvent(Simple(UHID_START));
  b.bridge.OnEvent(Output({1, 10}));  // the kernel passes short writes through unchecked
  b.bridge.OnEvent(Output(Command(1, 10), UHID_FEATURE_REPORT));
  b.bridge.OnEvent(Output(Command(2, 10)));
  EXPECT_TRUE(b.written.empty());
  EXPECT_EQ(b.driver.Received().size(), 2u);
}

TEST(UhidBridge, ReportRequestsAreRefusedAtOnceSoNoIoctlHangs) {
  BridgeBench b(true);
  uhid_event get{};
  get.type = UHID_GET_REPORT;
  get.u.get_report.id = 77;
  b.bridge.OnEvent(get);
  uhid_event set{};
  set.type = UHID_SET_REPORT;
  set.u.set_report.id = 78;
  b.bridge.OnEvent(set);
  ASSERT_EQ(b.written.size(), 2u);
  EXPECT_EQ(b.written[0].type, static_cast<std::uint32_t>(UHID_GET_REPORT_REPLY));
  EXPECT_EQ(b.written[0].u.get_report_reply.id, 77u);
  EXPECT_EQ(b.written[0].u.get_report_reply.err, EIO);
  EXPECT_EQ(b.written[1].type, static_cast<std::uint32_t>(UHID_SET_REPORT_REPLY));
  EXPECT_EQ(b.written[1].u.set_report_reply.id, 78u);
  EXPECT_EQ(b.written[1].u.set_report_reply.err, EIO);
}

TEST(UhidBridge, FloodWaitsForTheFirstOpenAndNumbersItsReports) {
  BridgeBench b(true);
  b.bridge.SetFlood(5);
  b.bridge.OnEvent(Simple(UHID_START));
  EXPECT_FALSE(b.bridge.FloodDue());
  b.bridge.OnEvent(Simple(UHID_OPEN));
  ASSERT_TRUE(b.bridge.FloodDue());
  EXPECT_EQ(b.bridge.SendFlood(3), 3u);
  EXPECT_EQ(b.bridge.SendFlood(100), 2u);
  EXPECT_FALSE(b.bridge.FloodDue());
  ASSERT_EQ(b.written.size(), 5u);
  for (std::uint32_t i = 0; i < 5; ++i) {
    const uhid_event& e = b.written[i];
    EXPECT_EQ(e.u.input2.size, 64);
    EXPECT_EQ(e.u.input2.data[1], 11);
    std::uint32_t seq = 0;
    std::memcpy(&seq, e.u.input2.data + 60, 4);
    EXPECT_EQ(seq, i);
  }
  EXPECT_EQ(b.bridge.InputsSent(), 5u);
}

TEST(UhidBridge, OpenCountFollowsOpensAndClosesAndResets) {
  BridgeBench b(true);
  b.bridge.OnEvent(Simple(UHID_START));
  b.bridge.OnEvent(Simple(UHID_OPEN));
  b.bridge.OnEvent(Simple(UHID_OPEN));
  b.bridge.OnEvent(Simple(UHID_CLOSE));
  EXPECT_EQ(b.bridge.OpenCount(), 1);
  b.bridge.OnEvent(Simple(UHID_CLOSE));
  b.bridge.OnEvent(Simple(UHID_CLOSE));
  EXPECT_EQ(b.bridge.OpenCount(), 0);
  b.bridge.ResetKernelState();
  EXPECT_FALSE(b.bridge.Started());
}

TEST(UhidCreate, NameDescriptorAndIdsGoIntoTheCreateEvent) {
  uhid_event e{};
  DeviceSpec wanted{"ZRVXXX", kVendorId, kDriverProductId, DriverReportDescriptor(true)};
  ASSERT_TRUE(BuildCreate(wanted, e));
  EXPECT_EQ(e.type, static_cast<std::uint32_t>(UHID_CREATE2));
  EXPECT_STREQ(reinterpret_cast<const char*>(e.u.create2.name), "ZRVXXX");
  EXPECT_EQ(e.u.create2.bus, BUS_USB);
  EXPECT_EQ(e.u.create2.vendor, kVendorId);
  EXPECT_EQ(e.u.create2.product, kDriverProductId);
  ASSERT_EQ(e.u.create2.rd_size, wanted.Descriptor.size());
  EXPECT_EQ(std::memcmp(e.u.create2.rd_data, wanted.Descriptor.data(), wanted.Descriptor.size()), 0);

  wanted.Name.assign(127, 'n');
  EXPECT_TRUE(BuildCreate(wanted, e));
  EXPECT_EQ(e.u.create2.name[127], 0);
  wanted.Name.assign(128, 'n');
  EXPECT_FALSE(BuildCreate(wanted, e));
}

TEST(UhidCreate, DescriptorsDifferOnlyByTheReportId) {
  const auto numbered = DriverReportDescriptor(true);
  auto plain = DriverReportDescriptor(false);
  ASSERT_EQ(numbered.size(), plain.size() + 2);
  plain.insert(plain.begin() + 7, {0x85, 0x01});
  EXPECT_EQ(plain, numbered);
}

TEST(DriverOptionsParsing, AcceptsTheDocumentedOptions) {
  DriverOptions o;
  std::string error;
  ASSERT_TRUE(ParseOptions({"--name", "OTHER", "--second-device", "--no-report-ids", "--unplug-after",
                            "300", "--replug-after", "0", "--lively", "--seed", "9", "--flood",
                            "100000", "--reply-delay", "50", "--record", "/tmp/x", "--short-replies", "20",
                            "--short-code", "11"},
                           o, error))
      << error;
  EXPECT_EQ(o.Name, "OTHER");
  EXPECT_TRUE(o.SecondDevice);
  EXPECT_FALSE(o.NumberedReports);
  EXPECT_EQ(o.UnplugAfterMs, 300);
  EXPECT_EQ(o.ReplugAfterMs, 0);
  EXPECT_TRUE(o.Lively);
  EXPECT_EQ(o.Seed, 9u);
  EXPECT_EQ(o.Flood, 100000u);
  EXPECT_EQ(o.ReplyDelayMs, 50u);
  EXPECT_EQ(o.RecordPath, "/tmp/x");
  EXPECT_EQ(o.ShortReplyLength, 20u);
  EXPECT_EQ(o.ShortReplyCode, 11);

  DriverOptions d;
  ASSERT_TRUE(ParseOptions({}, d, error));
  EXPECT_EQ(d.Name, "ZRVXXX");
  EXPECT_TRUE(d.Driver);
  EXPECT_TRUE(d.NumberedReports);
  EXPECT_EQ(d.UnplugAfterMs, -1);
}

TEST(DriverOptionsParsing, RejectsBadCommandLines) {
  const std::vector<std::vector<std::string>> bad = {
      {"--name"},
      {"--name", ""},
      {"--unplug-after", "-5"},
      {"--unplug-after", "12ms"},
      {"--flood", "x"},
      {"--seed", "99999999999"},
      {"--short-code", "256"},
      {"--bogus"},
      {"--replug-after", "10"},
      {"--no-driver"},
  };
  for (const auto& args : bad) {
    DriverOptions o;
    std::string error;
    EXPECT_FALSE(ParseOptions(args, o, error)) << args.at(0);
    EXPECT_FALSE(error.empty()) << args.at(0);
  }
  DriverOptions o;
  std::string error;
  EXPECT_TRUE(ParseOptions({"--no-driver", "--second-name", "Pad"}, o, error)) << error;
  EXPECT_FALSE(o.Driver);
  EXPECT_EQ(o.SecondName, "Pad");
}

TEST(DriverOptionsParsing, TheRs485SideTakesAPlaceStartingSettingsAndAFault) {
  DriverOptions o;
  std::string error;
  ASSERT_TRUE(ParseOptions({"--no-hid", "--rs485-pty", "/tmp/line", "--slave-id", "127", "--baud", "115200",
                            "--parity", "odd", "--rs485-fault", "rs485-echo"},
                           o, error))
      << error;
  EXPECT_TRUE(o.NoHid);
  EXPECT_TRUE(o.Rs485());
  EXPECT_EQ(o.Rs485PtyLink, "/tmp/line");
  EXPECT_EQ(o.SlaveId, 127);
  EXPECT_EQ(o.Baudrate, 115200u);
  EXPECT_EQ(o.Parity, 1);
  EXPECT_EQ(o.Rs485Fault, "rs485-echo");

  // Settings without an RS485 side start the USB side there; unset ones stay unset.
  DriverOptions usb;
  ASSERT_TRUE(ParseOptions({"--rs485", "/dev/ttyUSB0", "--parity", "none", "--slave-id", "1"}, usb, error)) << error;
  EXPECT_EQ(usb.Rs485Port, "/dev/ttyUSB0");
  EXPECT_FALSE(usb.NoHid);
  EXPECT_EQ(usb.Parity, 0);
  EXPECT_EQ(usb.SlaveId, 1);
  EXPECT_FALSE(usb.Baudrate.has_value());

  // --no-hid leaves nothing for the HID side to check: --no-driver alone is fine there.
  DriverOptions alone;
  EXPECT_TRUE(ParseOptions({"--no-hid", "--no-driver", "--rs485", "/dev/ttyS1"}, alone, error)) << error;
}

TEST(DriverOptionsParsing, RejectsBadRs485Settings) {
  const std::vector<std::vector<std::string>> bad = {
      {"--slave-id", "0"},       {"--slave-id", "128"},       {"--slave-id", "x"},
      {"--baud", "4800"},        {"--baud", "38400x"},        {"--parity", "mark"},
      {"--parity", "None"},      {"--rs485"},                 {"--rs485-pty", ""},
      {"--no-hid"},              {"--rs485-fault", "rs485-echo"},
      {"--rs485-pty", "/tmp/a", "--rs485-fault", "none"},
      {"--rs485-pty", "/tmp/a", "--rs485-fault", "rs485-loud"},
      {"--rs485-pty", "/tmp/a", "--rs485", "/dev/ttyUSB0"},
  };
  for (const auto& args : bad) {
    DriverOptions o;
    std::string error;
    EXPECT_FALSE(ParseOptions(args, o, error)) << args.at(0) << " " << (args.size() > 1 ? args[1] : "");
    EXPECT_FALSE(error.empty()) << args.at(0);
  }
  // The refusals are zrv-cli's, word for word, and a refused value leaves the setting unset.
  const std::vector<std::pair<std::vector<std::string>, std::string>> said = {
      {{"--slave-id", "128"}, "the slave id must be a whole number from 1 to 127, not \"128\""},
      {{"--baud", "-9600"}, "the baud rate must be one of 9600, 19200, 38400, 57600, 115200, not \"-9600\""},
      {{"--parity", "EVEN"}, "the parity must be none, odd or even, not \"EVEN\""},
      {{"--slave-id"}, "--slave-id needs a value"},
  };
  for (const auto& [args, words] : said) {
    DriverOptions o;
    std::string error;
    EXPECT_FALSE(ParseOptions(args, o, error));
    EXPECT_EQ(error, words);
    EXPECT_FALSE(o.SlaveId || o.Baudrate || o.Parity) << args.at(0);
  }
  // Every one of the line's seven fault names is taken.
  for (const char* name : {"rs485-swapped", "rs485-no-termination", "rs485-deaf", "rs485-echo", "rs485-twin",
                           "rs485-slow", "rs485-settings"}) {
    DriverOptions o;
    std::string error;
    EXPECT_TRUE(ParseOptions({"--rs485-pty", "/tmp/a", "--rs485-fault", name}, o, error)) << name << ": " << error;
  }
}

}  // namespace
}  // namespace zrv::uhid
