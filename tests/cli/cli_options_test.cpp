#include "cli_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zrv::cli {
namespace {

bool Parses(const std::vector<std::string>& args, CliOptions* out = nullptr) {
  CliOptions options;
  std::string error;
  const bool ok = ParseCommandLine(args, options, error);
  if (ok && out != nullptr) *out = options;
  if (!ok) {
    EXPECT_FALSE(error.empty()) << "a refusal must say why";
  }
  return ok;
}

TEST(CliOptions, SlaveIdOnlyWithinOneTo127AndWrittenPlainly) {
  for (const char* bad : {"0", "128", "255", "-1", "+5", " 5", "5 ", "5x", "0x10", "", "99999999999999999999"}) {
    EXPECT_FALSE(Parses({"modbus", "set", "--slave-id", bad})) << '"' << bad << '"';
  }
  CliOptions o;
  ASSERT_TRUE(Parses({"modbus", "set", "--slave-id", "1"}, &o));
  EXPECT_EQ(o.modbus.SlaveId, 1);
  ASSERT_TRUE(Parses({"modbus", "set", "--slave-id=127"}, &o));
  EXPECT_EQ(o.modbus.SlaveId, 127);
  EXPECT_FALSE(o.modbus.Baud.has_value());
  EXPECT_FALSE(o.modbus.Parity.has_value());
}

TEST(CliOptions, BaudAndParityOnlyAsTheWindowOffersThem) {
  for (const char* bad : {"14400", "9601", "9600.0", "0", "115200000", "fast"}) {
    EXPECT_FALSE(Parses({"modbus", "set", "--baud", bad})) << bad;
  }
  for (const char* bad : {"None", "EVEN", "mark", "2", ""}) {
    EXPECT_FALSE(Parses({"modbus", "set", "--parity", bad})) << bad;
  }
  CliOptions o;
  ASSERT_TRUE(Parses({"modbus", "set", "--baud", "115200", "--parity", "odd"}, &o));
  EXPECT_EQ(o.modbus.Baud, 115200u);
  EXPECT_EQ(o.modbus.Parity, 1);
}

TEST(CliOptions, OptionsThatDoNotBelongToTheCommandAreRefused) {
  EXPECT_FALSE(Parses({}));
  EXPECT_FALSE(Parses({"reboot"}));
  EXPECT_FALSE(Parses({"modbus"}));
  EXPECT_FALSE(Parses({"modbus", "put"}));
  EXPECT_FALSE(Parses({"modbus", "set"}));  // nothing to set
  EXPECT_FALSE(Parses({"info", "extra"}));
  EXPECT_FALSE(Parses({"info", "--watch"}));
  EXPECT_FALSE(Parses({"status", "--interval", "40"}));  // without --watch
  EXPECT_FALSE(Parses({"status", "--watch", "--interval", "5"}));
  EXPECT_FALSE(Parses({"status", "--csv"}));  // one-shot
  EXPECT_FALSE(Parses({"registers", "--watch", "--csv"}));
  EXPECT_FALSE(Parses({"status", "--watch", "--csv", "--json"}));
  EXPECT_FALSE(Parses({"status", "--slave-id", "5"}));
  EXPECT_FALSE(Parses({"list", "--device", "/dev/hidraw0"}));
  EXPECT_FALSE(Parses({"info", "--timeout", "0"}));
  EXPECT_FALSE(Parses({"info", "--timeout"}));
  EXPECT_FALSE(Parses({"info", "--json", "--json"}));
  EXPECT_FALSE(Parses({"info", "--json=yes"}));
  EXPECT_FALSE(Parses({"info", "--frobnicate"}));

  CliOptions o;
  ASSERT_TRUE(Parses({"--json", "status", "--watch", "--interval", "40", "--count", "3", "--device", "2"}, &o));
  EXPECT_EQ(o.command, Command::Status);
  EXPECT_EQ(o.format, OutputFormat::Json);
  EXPECT_EQ(o.intervalMs, 40);
  EXPECT_EQ(o.count, 3);
  EXPECT_EQ(o.device, "2");
  ASSERT_TRUE(Parses({"doctor", "--simulate=denied"}, &o));
  EXPECT_TRUE(o.simulate);
  EXPECT_EQ(o.scenario, "denied");
  ASSERT_TRUE(Parses({"info", "--help"}, &o));
  EXPECT_EQ(o.command, Command::Help);
}

// What the parser refuses, in the tool's own words, and the two ways of giving a value.
std::string Refusal(const std::vector<std::string>& args) {
  CliOptions options;
  std::string error;
  EXPECT_FALSE(ParseCommandLine(args, options, error)) << "accepted";
  return error;
}

TEST(CliOptions, RefusalsNameTheArgumentAtFault) {
  EXPECT_EQ(Refusal({"info", "--frobnicate"}), "unknown option --frobnicate");
  EXPECT_EQ(Refusal({"info", "--frobnicate=3"}), "unknown option --frobnicate");
  EXPECT_EQ(Refusal({"info", "-x"}), "unknown option -x");
  EXPECT_EQ(Refusal({"info", "-json"}), "unknown option -json") << "one dash is no long option";
  EXPECT_EQ(Refusal({"-hx", "info"}), "unknown option -hx");
  EXPECT_EQ(Refusal({"info", "--timeout"}), "--timeout needs a value");
  EXPECT_EQ(Refusal({"info", "--device"}), "--device needs a value");
  EXPECT_EQ(Refusal({"info", "--json=yes"}), "--json takes no value");
  EXPECT_EQ(Refusal({"info", "--help=yes"}), "--help takes no value");
  EXPECT_EQ(Refusal({"info", "--timeout", "5", "--timeout=6"}), "--timeout is given twice");
  EXPECT_EQ(Refusal({"info", "--simulate", "--simulate=two"}), "--simulate is given twice");
  EXPECT_EQ(Refusal({"info", "--device="}), "--device needs a node such as /dev/hidraw0 or an index of `zrv-cli list`");
  EXPECT_EQ(Refusal({"modbus", "set", "--from="}), "--from needs a file name");
  EXPECT_EQ(Refusal({"-"}), "unknown command -");
}

TEST(CliOptions, ValuesComeAfterEqualsOrAsTheNextArgumentEvenWithALeadingDash) {
  CliOptions o;
  ASSERT_TRUE(Parses({"info", "--timeout=250", "--device", "-1"}, &o));
  EXPECT_EQ(o.timeoutMs, 250);
  EXPECT_EQ(o.device, "-1");
  ASSERT_TRUE(Parses({"--device=--json", "info"}, &o));
  EXPECT_EQ(o.device, "--json");
  EXPECT_EQ(o.format, OutputFormat::Text);
  // A value is taken whatever it looks like, then checked.
  EXPECT_EQ(Refusal({"status", "--timeout", "-5"}), "--timeout must be a whole number from 1 to 600000, not \"-5\"");
  EXPECT_EQ(Refusal({"status", "--timeout", "--json"}),
            "--timeout must be a whole number from 1 to 600000, not \"--json\"");
  // --simulate takes its scenario only after '=': the next word is the command.
  ASSERT_TRUE(Parses({"--simulate", "info"}, &o));
  EXPECT_TRUE(o.simulate);
  EXPECT_EQ(o.scenario, "driver");
  EXPECT_EQ(o.command, Command::Info);
  // Bytes of any encoding reach the file name unchanged.
  ASSERT_TRUE(Parses({"modbus", "set", "--from", "caf\xe9 \xc3\xa9.json"}, &o));
  EXPECT_EQ(o.fromFile, "caf\xe9 \xc3\xa9.json");
}

TEST(CliOptions, VersionNeedsNoCommandAndHelpComesFirst) {
  CliOptions o;
  ASSERT_TRUE(Parses({"--version"}, &o));
  EXPECT_EQ(o.command, Command::Version);
  ASSERT_TRUE(Parses({"info", "--version"}, &o));
  EXPECT_EQ(o.command, Command::Version);
  ASSERT_TRUE(Parses({"--version", "--help"}, &o));
  EXPECT_EQ(o.command, Command::Help);
  EXPECT_FALSE(Parses({"--version=2"}));
  const std::string text = VersionText();
  EXPECT_EQ(text.rfind("zrv-cli 1.02 (Qt 6.", 0), 0u) << text;
  EXPECT_EQ(text.back(), '\n');
}

TEST(CliOptions, SettingsFileMustHoldThreeValidSettings) {
  ModbusChoice c;
  std::string error;
  ASSERT_TRUE(ParseSettingsJson(R"({"baud":38400,"parity":"even","slave_id":17,"other":true})", c, error)) << error;
  EXPECT_EQ(c.Baud, 38400u);
  EXPECT_EQ(c.Parity, 2);
  EXPECT_EQ(c.SlaveId, 17);

  for (const char* bad : {
           "", "not json", "[1,2,3]", R"({"baud":38400,"parity":"even"})",
           R"({"baud":38400,"parity":2,"slave_id":17})", R"({"baud":38400.5,"parity":"even","slave_id":17})",
           R"({"baud":"38400","parity":"even","slave_id":17})", R"({"baud":14400,"parity":"even","slave_id":17})",
           R"({"baud":38400,"parity":"even","slave_id":0})", R"({"baud":38400,"parity":"even","slave_id":128})",
           R"({"baud":38400,"parity":"even","slave_id":-3})", R"({"baud":1e400,"parity":"even","slave_id":1})",
           R"({"baud":38400,"parity":"space","slave_id":1})", R"({"baud":38400,"parity":"even","slave_id":1)"}) {
    ModbusChoice untouched;
    EXPECT_FALSE(ParseSettingsJson(bad, untouched, error)) << bad;
    EXPECT_FALSE(untouched.Baud || untouched.Parity || untouched.SlaveId) << bad;
  }
}

TEST(CliOptions, ValidSettingsRefusesWhatTheDriverMayHoldButTheWindowNeverSends) {
  std::string error;
  EXPECT_TRUE(ValidSettings(9600, 0, 1, error));
  EXPECT_FALSE(ValidSettings(9600, 0, 0, error));
  EXPECT_FALSE(ValidSettings(9600, 0, 200, error));
  EXPECT_FALSE(ValidSettings(14400, 0, 1, error));
  EXPECT_FALSE(ValidSettings(9600, 3, 1, error));
}

}  // namespace
}  // namespace zrv::cli
