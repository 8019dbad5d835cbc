#include "link/platform/linux/sysfs_text.h"

#include <gtest/gtest.h>

#include <string>

namespace zrv {
namespace {

TEST(SysfsText, UeventValuesAreFoundByWholeKey) {
  const std::string uevent =
      "DRIVER=hid-generic\nHID_ID_EXTRA=1\nHID_ID=0003:00001234:00005678\nHID_NAME=\n"
      "HID_UNIQ=last";
  std::string value;
  ASSERT_TRUE(FindUeventValue(uevent, "HID_ID", value));
  EXPECT_EQ(value, "0003:00001234:00005678");
  ASSERT_TRUE(FindUeventValue(uevent, "HID_NAME", value));
  EXPECT_EQ(value, "");
  ASSERT_TRUE(FindUeventValue(uevent, "HID_UNIQ", value));  // last line without a newline
  EXPECT_EQ(value, "last");
  value = "unchanged";
  EXPECT_FALSE(FindUeventValue(uevent, "HID", value));
  EXPECT_FALSE(FindUeventValue(uevent, "HID_PHYS", value));
  EXPECT_FALSE(FindUeventValue("", "HID_ID", value));
  EXPECT_FALSE(FindUeventValue("HID_ID", "HID_ID", value));  // no '='
  EXPECT_EQ(value, "unchanged");
}

TEST(SysfsText, HidIdGivesBusVendorAndProduct) {
  HidBusIds ids;
  ASSERT_TRUE(ParseHidId("0003:00001234:00005678", ids));
  EXPECT_EQ(ids.Bus, 3);
  EXPECT_EQ(ids.VendorID, 0x1234);
  EXPECT_EQ(ids.ProductID, 0x5678);
  ASSERT_TRUE(ParseHidId("0005:0000abcd:0000FfEe", ids));
  EXPECT_EQ(ids.Bus, 5);
  EXPECT_EQ(ids.VendorID, 0xABCD);
  EXPECT_EQ(ids.ProductID, 0xFFEE);
}

TEST(SysfsText, MalformedHidIdIsRejectedWithoutTouchingTheResult) {
  for (const char* bad : {"", "0003", "0003:00001234", "0003:00001234:00005678:0001",
                          "0003::00005678", ":00001234:00005678", "0003:00001234:",
                          "0003:0000123G:00005678", "0003:00012345:00005678",
                          "0003:00001234:000056789", "0003: 0001234:00005678",
                          "0003:00001234:00005678\n", "-003:00001234:00005678",
                          "0003:+0001234:00005678"}) {
    HidBusIds ids{7, 7, 7};
    EXPECT_FALSE(ParseHidId(bad, ids)) << bad;
    EXPECT_EQ(ids.VendorID, 7) << bad;
  }
}

TEST(SysfsText, DeviceNameGivesTheKernelDeviceNumber) {
  std::uint32_t instance = 0;
  ASSERT_TRUE(ParseHidDeviceInstance("0003:1234:5678.000A", instance));
  EXPECT_EQ(instance, 10u);
  ASSERT_TRUE(ParseHidDeviceInstance("0005:046D:b01a.0012", instance));
  EXPECT_EQ(instance, 0x12u);
  // Past 0xFFFF the number simply gets longer.
  ASSERT_TRUE(ParseHidDeviceInstance("0003:1234:5678.1000A", instance));
  EXPECT_EQ(instance, 0x1000Au);
  ASSERT_TRUE(ParseHidDeviceInstance("0003:1234:5678.FFFFFFFF", instance));
  EXPECT_EQ(instance, 0xFFFFFFFFu);

  for (const char* bad : {"", "hidraw0", "0003:1234:5678", "0003:1234:5678.", "0003:1234:5678.00A",
                          "0003:1234:5678.00G1", "0003:1234:5678.000A.1",
                          "0003:1234:5678.100000000", "0003-1234:5678.000A", "003:1234:5678.000A",
                          "0003:1234:567X.000A", "0003:1234:5678:000A"}) {
    instance = 99;
    EXPECT_FALSE(ParseHidDeviceInstance(bad, instance)) << bad;
    EXPECT_EQ(instance, 99u) << bad;
  }
}

TEST(SysfsText, SysfsHexNumbers) {
  std::uint16_t v = 0;
  ASSERT_TRUE(ParseSysfsHex16("0102\n", v));
  EXPECT_EQ(v, 0x0102);
  ASSERT_TRUE(ParseSysfsHex16("ffff", v));
  EXPECT_EQ(v, 0xFFFF);
  for (const char* bad : {"", "\n", "10000", "01 2", "0100\n\n", "x100"}) {
    v = 5;
    EXPECT_FALSE(ParseSysfsHex16(bad, v)) << bad;
    EXPECT_EQ(v, 5);
  }
  EXPECT_EQ(TrimSysfsValue("ZRVXXX\n"), "ZRVXXX");
  EXPECT_EQ(TrimSysfsValue("ZRVXXX"), "ZRVXXX");
  EXPECT_EQ(TrimSysfsValue("\n\n"), "\n");
}

TEST(SysfsText, Utf8BecomesUtf16) {
  std::u16string out;
  ASSERT_TRUE(Utf8ToUtf16("ZRVXXX", out));
  EXPECT_EQ(out, u"ZRVXXX");
  ASSERT_TRUE(Utf8ToUtf16("Zapisa\xC4\x87 \xE2\x82\xAC", out));  // two- and three-byte forms
  EXPECT_EQ(out, u"Zapisa\u0107 \u20AC");
  ASSERT_TRUE(Utf8ToUtf16("a\xF0\x9F\x98\x80z", out));  // U+1F600 as a surrogate pair
  EXPECT_EQ(out, (std::u16string{u'a', 0xD83D, 0xDE00, u'z'}));
  ASSERT_TRUE(Utf8ToUtf16("\xF4\x8F\xBF\xBF", out));  // U+10FFFF, the last code point
  EXPECT_EQ(out, (std::u16string{0xDBFF, 0xDFFF}));
  ASSERT_TRUE(Utf8ToUtf16("", out));
  EXPECT_TRUE(out.empty());
}

TEST(SysfsText, Utf16IsCappedWithoutSplittingAPair) {
  std::u16string out;
  ASSERT_TRUE(Utf8ToUtf16(std::string(300, 'a'), out));
  EXPECT_EQ(out.size(), kMaxProductStringUnits);

  const std::string emoji = "\xF0\x9F\x98\x80";
  ASSERT_TRUE(Utf8ToUtf16(std::string(252, 'a') + emoji, out));
  EXPECT_EQ(out.size(), 254u);
  EXPECT_EQ(out[253], 0xDE00);

  // The pair does not fit in the last unit: it is left out, and so is all that follows it.
  ASSERT_TRUE(Utf8ToUtf16(std::string(253, 'a') + emoji + "b", out));
  EXPECT_EQ(out, std::u16string(253, u'a'));

  ASSERT_TRUE(Utf8ToUtf16("abcdef", out, 3));
  EXPECT_EQ(out, u"abc");
}

TEST(SysfsText, MalformedUtf8IsRejected) {
  for (const std::string& bad :
       {std::string("\x80"), std::string("a\xBF"), std::string("\xC0\x80"),  // overlong NUL
        std::string("\xC1\xBF"), std::string("\xE0\x80\x80"), std::string("\xF0\x80\x80\x80"),
        std::string("\xED\xA0\x80"),                       // a surrogate written as UTF-8
        std::string("\xF4\x90\x80\x80"),                   // above U+10FFFF
        std::string("\xE2\x82"), std::string("abc\xF0\x9F\x98"),  // cut off at the end
        std::string("\xE2\x28\xA1"), std::string("\xF8\x88\x80\x80\x80"), std::string("\xFF"),
        std::string(300, 'a') + "\xFF"}) {  // also past the cap
    std::u16string out = u"old";
    EXPECT_FALSE(Utf8ToUtf16(bad, out)) << bad.size();
    EXPECT_TRUE(out.empty());
  }
}

TEST(SysfsText, CopyIntoTheCallersBufferNeverOverruns) {
  // 508 bytes as the device layer asks: 254 units fill it with no room for a NUL.
  char16_t big[255];
  std::fill(std::begin(big), std::end(big), u'#');
  const std::u16string full(254, u'x');
  ASSERT_TRUE(CopyUtf16ToBuffer(full, big, 508));
  EXPECT_EQ(std::u16string(big, 254), full);
  EXPECT_EQ(big[254], u'#');

  std::fill(std::begin(big), std::end(big), u'#');
  ASSERT_TRUE(CopyUtf16ToBuffer(u"ZRVXXX", big, 508));
  EXPECT_EQ(std::u16string(big), u"ZRVXXX");
  EXPECT_EQ(big[7], u'#');

  char16_t small[5];
  std::fill(std::begin(small), std::end(small), u'#');
  ASSERT_TRUE(CopyUtf16ToBuffer(u"ZRVXXX", small, 9));  // odd size: 4 whole units
  EXPECT_EQ(std::u16string(small, 4), u"ZRVX");
  EXPECT_EQ(small[4], u'#');

  std::fill(std::begin(small), std::end(small), u'#');
  const std::u16string pair{u'a', u'b', 0xD83D, 0xDE00};
  ASSERT_TRUE(CopyUtf16ToBuffer(pair, small, 6));  // the pair would be cut: "ab" and a NUL
  EXPECT_EQ(small[0], u'a');
  EXPECT_EQ(small[1], u'b');
  EXPECT_EQ(small[2], u'\0');
  EXPECT_EQ(small[3], u'#');

  EXPECT_FALSE(CopyUtf16ToBuffer(u"x", small, 1));
  EXPECT_FALSE(CopyUtf16ToBuffer(u"x", small, 0));
  EXPECT_FALSE(CopyUtf16ToBuffer(u"x", nullptr, 8));
  EXPECT_EQ(small[0], u'a');
}

}  // namespace
}  // namespace zrv
