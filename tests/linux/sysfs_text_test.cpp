#include "link/platform/linux/sysfs_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace zrv {
namespace {

TEST(SysfsText, UeventHidIdAndDeviceNumberParse) {
  std::string value;
  ASSERT_TRUE(FindUeventValue("HID_ID_X=1\nHID_ID=0005:0000abcd:0000FfEe\nA=", "HID_ID", value));
  EXPECT_FALSE(FindUeventValue("HID_ID_X=1\nHID_NAME", "HID_NAME", value));  // no '='
  HidBusIds ids;
  ASSERT_TRUE(ParseHidId(value, ids));
  EXPECT_EQ(ids.Bus, 5);
  EXPECT_EQ(ids.VendorID, 0xABCD);
  EXPECT_EQ(ids.ProductID, 0xFFEE);
  std::uint32_t instance = 0;
  ASSERT_TRUE(ParseHidDeviceInstance("0003:1234:5678.000A", instance));
  EXPECT_EQ(instance, 10u);
  ASSERT_TRUE(ParseHidDeviceInstance("0003:1234:5678.1000A", instance));  // past 0xFFFF
  EXPECT_EQ(instance, 0x1000Au);
  std::uint16_t version = 0;
  ASSERT_TRUE(ParseSysfsHex16("0102\n", version));
  EXPECT_EQ(version, 0x0102);
}

TEST(SysfsText, MalformedIdsAreRejectedWithoutTouchingTheResult) {
  for (const char* bad : {"", "0003:00001234", "0003:00001234:00005678:0001", "0003::00005678",
                          "0003:0000123G:00005678", "0003:00012345:00005678",
                          "0003:00001234:000056789", "0003: 0001234:00005678",
                          "0003:00001234:00005678\n", "0003:+0001234:00005678"}) {
    HidBusIds ids{7, 7, 7};
    EXPECT_FALSE(ParseHidId(bad, ids)) << bad;
    EXPECT_EQ(ids.VendorID, 7) << bad;
  }
  for (const char* bad : {"", "hidraw0", "0003:1234:5678", "0003:1234:5678.", "0003:1234:5678.00A",
                          "0003:1234:5678.00G1", "0003:1234:5678.000A.1",
                          "0003:1234:5678.100000000", "003:1234:5678.000A",
                          "0003:1234:567X.000A"}) {
    std::uint32_t instance = 99;
    EXPECT_FALSE(ParseHidDeviceInstance(bad, instance)) << bad;
    EXPECT_EQ(instance, 99u) << bad;
  }
  for (const char* bad : {"", "\n", "10000", "01 2", "0100\n\n"}) {
    std::uint16_t v = 5;
    EXPECT_FALSE(ParseSysfsHex16(bad, v)) << bad;
    EXPECT_EQ(v, 5);
  }
}

TEST(SysfsText, Utf8BecomesUtf16CappedWithoutSplittingAPair) {
  std::u16string out;
  ASSERT_TRUE(Utf8ToUtf16("Zapisa\xC4\x87 \xE2\x82\xAC", out));  // two- and three-byte forms
  EXPECT_EQ(out, u"Zapisa\u0107 \u20AC");
  ASSERT_TRUE(Utf8ToUtf16("a\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF", out));  // U+1F600, U+10FFFF
  EXPECT_EQ(out, (std::u16string{u'a', 0xD83D, 0xDE00, 0xDBFF, 0xDFFF}));

  ASSERT_TRUE(Utf8ToUtf16(std::string(300, 'a'), out));
  EXPECT_EQ(out.size(), kMaxProductStringUnits);
  const std::string emoji = "\xF0\x9F\x98\x80";
  ASSERT_TRUE(Utf8ToUtf16(std::string(252, 'a') + emoji, out));
  EXPECT_EQ(out.size(), 254u);
  // The pair does not fit in the last unit: it is left out, and so is all that follows.
  ASSERT_TRUE(Utf8ToUtf16(std::string(253, 'a') + emoji + "b", out));
  EXPECT_EQ(out, std::u16string(253, u'a'));
}

TEST(SysfsText, MalformedUtf8IsRejected) {
  for (const std::string& bad :
       {std::string("\x80"), std::string("\xC0\x80"), std::string("\xE0\x80\x80"),  // overlong
        std::string("\xED\xA0\x80"), std::string("\xF4\x90\x80\x80"),  // surrogate, > U+10FFFF
        std::string("abc\xF0\x9F\x98"), std::string("\xE2\x28\xA1"), std::string("\xFF"),
        std::string(300, 'a') + "\xFF"}) {  // also past the cap
    std::u16string out = u"old";
    EXPECT_FALSE(Utf8ToUtf16(bad, out)) << bad.size();
    EXPECT_TRUE(out.empty());
  }
}

TEST(SysfsText, CopyIntoTheCallersBufferNeverOverruns) {
  char16_t buf[255];
  std::fill(std::begin(buf), std::end(buf), u'#');
  ASSERT_TRUE(CopyUtf16ToBuffer(std::u16string(254, u'x'), buf, 508));  // full: no NUL
  EXPECT_EQ(std::u16string(buf, 254), std::u16string(254, u'x'));
  EXPECT_EQ(buf[254], u'#');

  std::fill(std::begin(buf), std::end(buf), u'#');
  ASSERT_TRUE(CopyUtf16ToBuffer(u"ZRVXXX", buf, 9));  // odd size: 4 whole units
  EXPECT_EQ(std::u16string(buf, 5), u"ZRVX#");

  const std::u16string pair{u'a', u'b', 0xD83D, 0xDE00};
  std::fill(std::begin(buf), std::end(buf), u'#');
  ASSERT_TRUE(CopyUtf16ToBuffer(pair, buf, 6));  // the pair would be cut: "ab" and a NUL
  EXPECT_EQ(std::u16string(buf, 4), (std::u16string{u'a', u'b', 0, u'#'}));

  EXPECT_FALSE(CopyUtf16ToBuffer(u"x", buf, 1));
  EXPECT_FALSE(CopyUtf16ToBuffer(u"x", nullptr, 8));
  EXPECT_EQ(buf[0], u'a');
}

}  // namespace
}  // namespace zrv
