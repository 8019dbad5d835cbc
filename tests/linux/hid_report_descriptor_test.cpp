#include "link/platform/linux/hid_report_descriptor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace zrv {
namespace {

using Bytes = std::vector<std::uint8_t>;

bool Parse(const Bytes& d, HidReportDescriptorInfo& info) {
  return ParseHidReportDescriptor(d.data(), d.size(), info);
}

// Vendor page, report ID 1, 63-byte input and output reports.
const Bytes kDriver = {
    0x06, 0x00, 0xFF,  // Usage Page (vendor 0xFF00)
    0x09, 0x01,        // Usage 1
    0xA1, 0x01,        // Collection (Application)
    0x85, 0x01,        //   Report ID 1
    0x15, 0x00,        //   Logical Minimum 0
    0x26, 0xFF, 0x00,  //   Logical Maximum 255
    0x75, 0x08,        //   Report Size 8
    0x95, 0x3F,        //   Report Count 63
    0x09, 0x01,        //   Usage 1
    0x81, 0x02,        //   Input
    0x09, 0x02,        //   Usage 2
    0x91, 0x02,        //   Output
    0xC0,              // End Collection
};

// The boot keyboard: 8-byte input, 1-byte LED output, no report IDs.
const Bytes kBootKeyboard = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00,
    0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01, 0x75, 0x08, 0x81, 0x01,
    0x95, 0x05, 0x75, 0x01, 0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91, 0x02, 0x95, 0x01,
    0x75, 0x03, 0x91, 0x01, 0x95, 0x06, 0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07,
    0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0,
};

// A mouse (ID 1: buttons, X, Y, wheel = 4 bytes) with a consumer control (ID 2: 2 bytes).
const Bytes kMouseWithIds = {
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09,
    0x19, 0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02,
    0x95, 0x01, 0x75, 0x05, 0x81, 0x03, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x09, 0x38,
    0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x03, 0x81, 0x06, 0xC0, 0xC0,
    0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x02, 0x15, 0x00, 0x26, 0xFF, 0x03, 0x19,
    0x00, 0x2A, 0xFF, 0x03, 0x75, 0x10, 0x95, 0x01, 0x81, 0x00, 0xC0,
};

// Input IDs 1 (10 bytes) and 2 (32 bytes), output IDs 3 (7) and 4 (20), feature ID 5 (3),
// with Push/Pop around ID 2 so that ID 1's settings come back after it.
const Bytes kSeveralIds = {
    0x06, 0x01, 0xFF, 0x09, 0x01, 0xA1, 0x01,
    0x75, 0x08,                    // Report Size 8 for everything below
    0x85, 0x01, 0x95, 0x0A, 0x09, 0x01, 0x81, 0x02,  // ID 1: 10 bytes in
    0xA4,                                            // Push
    0x85, 0x02, 0x95, 0x20, 0x09, 0x01, 0x81, 0x02,  // ID 2: 32 bytes in
    0xB4,                                            // Pop: back to ID 1, count 10
    0x95, 0x02, 0x09, 0x01, 0x81, 0x02,              // ID 1 again: now 12 bytes in
    0x85, 0x03, 0x95, 0x07, 0x09, 0x01, 0x91, 0x02,  // ID 3: 7 bytes out
    0x85, 0x04, 0x95, 0x14, 0x09, 0x01, 0x91, 0x02,  // ID 4: 20 bytes out
    0x85, 0x05, 0x95, 0x03, 0x09, 0x01, 0xB1, 0x02,  // ID 5: 3 bytes feature
    0xC0,
};

TEST(HidReportDescriptor, RealDescriptorsGiveLengthsWithTheIdByte) {
  HidReportDescriptorInfo info;
  ASSERT_TRUE(Parse(kDriver, info));
  EXPECT_TRUE(info.NumberedReports);
  EXPECT_EQ(info.InputReportByteLength, 64);
  EXPECT_EQ(info.OutputReportByteLength, 64);
  EXPECT_EQ(info.FeatureReportByteLength, 0);
  EXPECT_EQ(info.UsagePage, 0xFF00);
  EXPECT_EQ(info.Usage, 1);

  ASSERT_TRUE(Parse(kBootKeyboard, info));
  EXPECT_FALSE(info.NumberedReports);
  EXPECT_EQ(info.InputReportByteLength, 9);
  EXPECT_EQ(info.OutputReportByteLength, 2);
  EXPECT_EQ(info.UsagePage, 1);
  EXPECT_EQ(info.Usage, 6);

  ASSERT_TRUE(Parse(kMouseWithIds, info));
  EXPECT_TRUE(info.NumberedReports);
  EXPECT_EQ(info.InputReportByteLength, 5);  // the larger of 4 and 2, plus the ID
  EXPECT_EQ(info.OutputReportByteLength, 0);
  EXPECT_EQ(info.UsagePage, 1);  // the first top-level collection, not the consumer one
  EXPECT_EQ(info.Usage, 2);

  ASSERT_TRUE(Parse(kSeveralIds, info));
  EXPECT_EQ(info.InputReportByteLength, 33);
  EXPECT_EQ(info.OutputReportByteLength, 21);
  EXPECT_EQ(info.FeatureReportByteLength, 4);
  EXPECT_EQ(info.UsagePage, 0xFF01);
}

TEST(HidReportDescriptor, PopRestoresTheReportIdAndCount) {
  // After Pop, 2 more bytes go to ID 1 (10 + 2 = 12), not to ID 2 (which would make 34).
  Bytes d = kSeveralIds;
  HidReportDescriptorInfo info;
  ASSERT_TRUE(Parse(d, info));
  EXPECT_EQ(info.InputReportByteLength, 33);
  // Make ID 1 the largest: its second part grows to 30 bytes -> 10 + 30 = 40.
  ASSERT_EQ(d[27], 0x95);
  d[28] = 0x1E;
  ASSERT_TRUE(Parse(d, info));
  EXPECT_EQ(info.InputReportByteLength, 41);
}

TEST(HidReportDescriptor, FourByteUsageCarriesItsPage) {
  const Bytes d = {0x05, 0x01, 0x0B, 0x01, 0x00, 0xC0, 0xFF, 0xA1, 0x01, 0xC0};
  HidReportDescriptorInfo info;
  ASSERT_TRUE(Parse(d, info));
  EXPECT_EQ(info.UsagePage, 0xFFC0);
  EXPECT_EQ(info.Usage, 1);
  EXPECT_EQ(info.InputReportByteLength, 0);
}

TEST(HidReportDescriptor, UsageBeforeAnEarlierMainItemDoesNotNameTheCollection) {
  // The usage belongs to the Input item; the collection that follows has none of its own.
  const Bytes d = {0x05, 0x01, 0x09, 0x30, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0xA1, 0x01, 0xC0};
  HidReportDescriptorInfo info;
  ASSERT_TRUE(Parse(d, info));
  EXPECT_EQ(info.Usage, 0);
  EXPECT_EQ(info.InputReportByteLength, 2);
}

TEST(HidReportDescriptor, LongAndUnknownItemsAreSkipped) {
  Bytes withJunk;
  withJunk.insert(withJunk.end(), {0xFE, 0x03, 0x77, 0x95, 0x7F, 0x81});  // long item hiding items
  withJunk.insert(withJunk.end(), kDriver.begin(), kDriver.end() - 1);
  withJunk.push_back(0xFC);                                         // reserved type, no data
  withJunk.insert(withJunk.end(), {0xF3, 0x01, 0x02, 0x03, 0x04});  // unknown main tag, 4 bytes
  withJunk.insert(withJunk.end(), {0x0D, 0xAA});                    // reserved item type 3
  withJunk.push_back(0xC0);
  HidReportDescriptorInfo info;
  ASSERT_TRUE(Parse(withJunk, info));
  EXPECT_EQ(info.InputReportByteLength, 64);
  EXPECT_EQ(info.OutputReportByteLength, 64);
}

TEST(HidReportDescriptor, StructuralFaultsAreRejected) {
  const std::vector<Bytes> bad = {
      {},
      {0x06, 0x00},                                // data cut off
      {0xFE},                                      // long item without its header
      {0xFE, 0x05, 0x00, 0x01},                    // long item cut off
      {0x85, 0x00, 0xA1, 0x01, 0xC0},              // Report ID 0
      {0x86, 0x00, 0x01, 0xA1, 0x01, 0xC0},        // Report ID 256
      {0xC0},                                      // End Collection without Collection
      {0xA1, 0x01},                                // Collection never closed
      {0xB4, 0xA1, 0x01, 0xC0},                    // Pop without Push
  };
  for (const Bytes& d : bad) {
    HidReportDescriptorInfo info;
    info.InputReportByteLength = 77;
    EXPECT_FALSE(Parse(d, info)) << "size " << d.size();
    EXPECT_EQ(info.InputReportByteLength, 77) << "output written on failure";
  }
  HidReportDescriptorInfo info;
  EXPECT_FALSE(ParseHidReportDescriptor(nullptr, 5, info));
}

TEST(HidReportDescriptor, NestingIsBoundedAtItsLimits) {
  Bytes pushes(kHidMaxGlobalStackDepth, 0xA4);
  Bytes ok = pushes;
  ok.insert(ok.end(), kHidMaxGlobalStackDepth, 0xB4);
  HidReportDescriptorInfo info;
  EXPECT_TRUE(Parse(ok, info));
  pushes.push_back(0xA4);
  EXPECT_FALSE(Parse(pushes, info));

  auto nested = [](std::size_t depth) {
    Bytes d;
    for (std::size_t i = 0; i < depth; ++i) {
      d.push_back(0xA1);
      d.push_back(0x00);
    }
    for (std::size_t i = 0; i < depth; ++i) d.push_back(0xC0);
    return d;
  };
  EXPECT_TRUE(Parse(nested(kHidMaxCollectionDepth), info));
  EXPECT_FALSE(Parse(nested(kHidMaxCollectionDepth + 1), info));
}

TEST(HidReportDescriptor, AbsurdSizesAndCountsAreClamped) {
  // Report Size and Count of 0xFFFFFFFF: the product would overflow 32 bits many times over.
  const Bytes huge = {0xA1, 0x01, 0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF,
                      0x81, 0x02, 0x91, 0x02, 0xC0};
  HidReportDescriptorInfo info;
  ASSERT_TRUE(Parse(huge, info));
  EXPECT_EQ(info.InputReportByteLength, kHidMaxReportBytes + 1);
  EXPECT_EQ(info.OutputReportByteLength, kHidMaxReportBytes + 1);

  // Many moderate items add up past the limit and stop there instead of wrapping.
  Bytes many = {0xA1, 0x01, 0x75, 0xFF, 0x96, 0x00, 0x30};  // 255 bits x 12288
  for (int i = 0; i < 100; ++i) many.insert(many.end(), {0x81, 0x02});
  many.push_back(0xC0);
  ASSERT_TRUE(Parse(many, info));
  EXPECT_EQ(info.InputReportByteLength, kHidMaxReportBytes + 1);

  // One bit rounds up to a whole byte.
  const Bytes oneBit = {0xA1, 0x01, 0x75, 0x01, 0x95, 0x01, 0x81, 0x02, 0xC0};
  ASSERT_TRUE(Parse(oneBit, info));
  EXPECT_EQ(info.InputReportByteLength, 2);
}

TEST(HidReportDescriptor, EveryTruncationOfARealDescriptorIsRejected) {
  // Once the application collection has begun, each proper prefix either cuts an item or
  // leaves the collection open.
  for (const Bytes* full : {&kDriver, &kBootKeyboard, &kSeveralIds}) {
    std::size_t collectionEnd = 0;
    while ((*full)[collectionEnd] != 0xA1) ++collectionEnd;
    collectionEnd += 2;
    for (std::size_t n = collectionEnd; n < full->size(); ++n) {
      HidReportDescriptorInfo info;
      EXPECT_FALSE(ParseHidReportDescriptor(full->data(), n, info)) << "prefix " << n;
    }
  }
}

TEST(HidReportDescriptor, RandomAndMutatedBytesStayWithinBounds) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<std::size_t> len(0, 300);
  int accepted = 0;
  auto check = [&](const Bytes& d) {
    HidReportDescriptorInfo info;
    if (ParseHidReportDescriptor(d.data(), d.size(), info)) {
      ++accepted;
      EXPECT_LE(info.InputReportByteLength, kHidMaxReportBytes + 1);
      EXPECT_LE(info.OutputReportByteLength, kHidMaxReportBytes + 1);
      EXPECT_LE(info.FeatureReportByteLength, kHidMaxReportBytes + 1);
      EXPECT_NE(info.InputReportByteLength, 1);  // a report has data or no length at all
    }
  };
  for (int i = 0; i < 20000; ++i) {
    Bytes d(len(rng));
    for (auto& b : d) b = static_cast<std::uint8_t>(byte(rng));
    check(d);
  }
  for (int i = 0; i < 20000; ++i) {
    Bytes d = kBootKeyboard;
    d[std::uniform_int_distribution<std::size_t>(0, d.size() - 1)(rng)] =
        static_cast<std::uint8_t>(byte(rng));
    check(d);
  }
  // Mutation keeps many descriptors valid; the bounds above were really exercised.
  EXPECT_GT(accepted, 1000);
}

}  // namespace
}  // namespace zrv
