#include "link/platform/linux/hid_report_descriptor.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "fake_sysfs.h"

namespace zrv {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::kDriverDescriptor;
using test::kKeyboardDescriptor;

// A mouse (ID 1: buttons, X, Y, wheel = 4 bytes) with a consumer control (ID 2: 2 bytes).
const Bytes kMouseWithIds = {
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09,
    0x19, 0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02,
    0x95, 0x01, 0x75, 0x05, 0x81, 0x03, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x09, 0x38,
    0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x03, 0x81, 0x06, 0xC0, 0xC0,
    0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x02, 0x15, 0x00, 0x26, 0xFF, 0x03, 0x19,
    0x00, 0x2A, 0xFF, 0x03, 0x75, 0x10, 0x95, 0x01, 0x81, 0x00, 0xC0};

// Input IDs 1 (10 + 2 bytes) and 2 (32), output IDs 3 (7) and 4 (20), feature ID 5 (3). Push and
// Pop around ID 2: if Pop did not bring ID 1 back, ID 2 would grow to 34 bytes. A long item and
// items of reserved type and unknown tag are to be skipped.
const Bytes kSeveralIds = {
    0xFE, 0x03, 0x77, 0x95, 0x7F, 0x81, 0xFC, 0xF3, 0x01, 0x02, 0x03, 0x04, 0x0D, 0xAA,
    0x06, 0x01, 0xFF, 0x0B, 0x07, 0x00, 0xC0, 0xFF, 0xA1, 0x01, 0x75, 0x08,  // usage FFC0:0007
    0x85, 0x01, 0x95, 0x0A, 0x81, 0x02, 0xA4, 0x85, 0x02, 0x95, 0x20, 0x81, 0x02, 0xB4,
    0x95, 0x02, 0x81, 0x02, 0x85, 0x03, 0x95, 0x07, 0x91, 0x02, 0x85, 0x04, 0x95, 0x14,
    0x91, 0x02, 0x85, 0x05, 0x95, 0x03, 0xB1, 0x02, 0xC0};

struct Expected {
  const Bytes* Descriptor;
  bool Numbered;
  std::uint16_t In, Out, Feature, Page, Usage;
};

TEST(HidReportDescriptor, RealDescriptorsGiveLengthsWithTheIdByte) {
  const Expected cases[] = {
      {&kDriverDescriptor, true, 64, 64, 0, 0xFF00, 1},
      {&kKeyboardDescriptor, false, 9, 2, 0, 1, 6},
      {&kMouseWithIds, true, 5, 0, 0, 1, 2},  // first top-level collection, not the consumer one
      {&kSeveralIds, true, 33, 21, 4, 0xFFC0, 7},  // a four-byte usage names its own page
  };
  for (const Expected& e : cases) {
    HidReportDescriptorInfo info;
    ASSERT_TRUE(ParseHidReportDescriptor(e.Descriptor->data(), e.Descriptor->size(), info));
    EXPECT_EQ(info.NumberedReports, e.Numbered);
    EXPECT_EQ(info.InputReportByteLength, e.In);
    EXPECT_EQ(info.OutputReportByteLength, e.Out);
    EXPECT_EQ(info.FeatureReportByteLength, e.Feature);
    EXPECT_EQ(info.UsagePage, e.Page);
    EXPECT_EQ(info.Usage, e.Usage);
  }
}

TEST(HidReportDescriptor, StructuralFaultsAreRejectedWithoutOutput) {
  Bytes pushes(kHidMaxGlobalStackDepth + 1, 0xA4);
  Bytes deep;
  for (std::size_t i = 0; i <= kHidMaxCollectionDepth; ++i) deep.insert(deep.end(), {0xA1, 0x00});
  deep.insert(deep.end(), kHidMaxCollectionDepth + 1, 0xC0);
  const std::vector<Bytes> bad = {
      {}, {0x06, 0x00}, {0xFE}, {0xFE, 0x05, 0x00, 0x01},  // cut off
      {0x85, 0x00, 0xA1, 0x01, 0xC0}, {0x86, 0x00, 0x01, 0xA1, 0x01, 0xC0},  // Report ID 0, 256
      {0xC0}, {0xA1, 0x01}, {0xB4, 0xA1, 0x01, 0xC0}, pushes, deep};
  for (const Bytes& d : bad) {
    HidReportDescriptorInfo info;
    info.InputReportByteLength = 77;
    EXPECT_FALSE(ParseHidReportDescriptor(d.data(), d.size(), info)) << "size " << d.size();
    EXPECT_EQ(info.InputReportByteLength, 77);
  }
  // Inside the application collection every prefix cuts an item or leaves it open.
  for (std::size_t n = 6; n < kKeyboardDescriptor.size(); ++n) {
    HidReportDescriptorInfo info;
    EXPECT_FALSE(ParseHidReportDescriptor(kKeyboardDescriptor.data(), n, info)) << n;
  }
  // At the limits themselves all is well.
  pushes.pop_back();
  pushes.insert(pushes.end(), kHidMaxGlobalStackDepth, 0xB4);
  deep.erase(deep.begin(), deep.begin() + 2);
  deep.pop_back();
  HidReportDescriptorInfo info;
  EXPECT_TRUE(ParseHidReportDescriptor(pushes.data(), pushes.size(), info));
  EXPECT_TRUE(ParseHidReportDescriptor(deep.data(), deep.size(), info));
}

TEST(HidReportDescriptor, AbsurdSizesAndCountsAreClamped) {
  // Size and count of 0xFFFFFFFF, and a hundred items of 255 x 12288 bits: no wrap-around.
  Bytes huge = {0xA1, 0x01, 0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x91, 0x02,
                0x75, 0xFF, 0x96, 0x00, 0x30};
  for (int i = 0; i < 100; ++i) huge.insert(huge.end(), {0x81, 0x02});
  huge.push_back(0xC0);
  HidReportDescriptorInfo info;
  ASSERT_TRUE(ParseHidReportDescriptor(huge.data(), huge.size(), info));
  EXPECT_EQ(info.InputReportByteLength, kHidMaxReportBytes + 1);
  EXPECT_EQ(info.OutputReportByteLength, kHidMaxReportBytes + 1);
  const Bytes oneBit = {0xA1, 0x01, 0x75, 0x01, 0x95, 0x01, 0x81, 0x02, 0xC0};
  ASSERT_TRUE(ParseHidReportDescriptor(oneBit.data(), oneBit.size(), info));
  EXPECT_EQ(info.InputReportByteLength, 2);  // one bit is a whole byte
}

TEST(HidReportDescriptor, RandomAndMutatedBytesStayWithinBounds) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> byte(0, 255);
  int accepted = 0;
  for (int i = 0; i < 40000; ++i) {
    Bytes d = kKeyboardDescriptor;
    if (i % 2 == 0) {
      d.assign(static_cast<std::size_t>(byte(rng)), 0);
      for (auto& b : d) b = static_cast<std::uint8_t>(byte(rng));
    } else {
      d[static_cast<std::size_t>(byte(rng)) % d.size()] = static_cast<std::uint8_t>(byte(rng));
    }
    HidReportDescriptorInfo info;
    if (!ParseHidReportDescriptor(d.data(), d.size(), info)) continue;
    ++accepted;
    for (std::uint16_t len : {info.InputReportByteLength, info.OutputReportByteLength,
                              info.FeatureReportByteLength}) {
      EXPECT_LE(len, kHidMaxReportBytes + 1);
      EXPECT_NE(len, 1);  // a report has data, or there is no length at all
    }
  }
  EXPECT_GT(accepted, 1000);  // the bounds were really exercised
}

}  // namespace
}  // namespace zrv
