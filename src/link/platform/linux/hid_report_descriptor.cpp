#include "link/platform/linux/hid_report_descriptor.h"

#include <algorithm>
#include <array>

namespace zrv {

namespace {

enum ItemType : std::uint8_t { kMain = 0, kGlobal = 1, kLocal = 2 };

enum MainTag : std::uint8_t {
  kInput = 8,
  kOutput = 9,
  kCollection = 10,
  kFeature = 11,
  kEndCollection = 12,
};

enum GlobalTag : std::uint8_t {
  kUsagePage = 0,
  kReportSize = 7,
  kReportId = 8,
  kReportCount = 9,
  kPush = 10,
  kPop = 11,
};

enum LocalTag : std::uint8_t { kUsage = 0 };

constexpr std::uint8_t kLongItemPrefix = 0xFE;
constexpr std::uint64_t kMaxReportBits = std::uint64_t{kHidMaxReportBytes} * 8;

struct GlobalState {
  std::uint32_t UsagePage = 0;
  std::uint32_t ReportSize = 0;
  std::uint32_t ReportCount = 0;
  std::uint8_t ReportId = 0;
};

// Report kinds in the order of the bit tables below.
enum Kind : std::size_t { kIn = 0, kOut = 1, kFeat = 2, kKinds = 3 };

std::uint16_t LengthOf(const std::array<std::uint64_t, 256>& bits) {
  std::uint64_t largest = 0;
  for (std::uint64_t b : bits) largest = std::max(largest, b);
  if (largest == 0) return 0;
  // Bits never exceed kMaxReportBits, so this fits 16 bits with the ID byte added.
  return static_cast<std::uint16_t>((largest + 7) / 8 + 1);
}

}  // namespace

bool ParseHidReportDescriptor(const std::uint8_t* data, std::size_t length,
                              HidReportDescriptorInfo& out) {
  if (data == nullptr || length == 0) return false;

  std::array<std::array<std::uint64_t, 256>, kKinds> bits{};
  std::array<GlobalState, kHidMaxGlobalStackDepth> stack{};
  std::size_t stackDepth = 0;
  GlobalState global;
  std::size_t collectionDepth = 0;

  bool haveLocalUsage = false;
  std::uint32_t localUsage = 0;
  bool localUsageHasPage = false;

  bool haveTopCollection = false;
  HidReportDescriptorInfo info;

  std::size_t pos = 0;
  while (pos < length) {
    const std::uint8_t prefix = data[pos];
    if (prefix == kLongItemPrefix) {
      // Long items carry nothing this reader needs: skip them whole.
      if (length - pos < 3) return false;
      const std::size_t dataSize = data[pos + 1];
      if (length - pos - 3 < dataSize) return false;
      pos += 3 + dataSize;
      continue;
    }
    const std::size_t sizeCode = prefix & 0x03u;
    const std::size_t size = sizeCode == 3 ? 4 : sizeCode;
    if (length - pos - 1 < size) return false;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
      value |= static_cast<std::uint32_t>(data[pos + 1 + i]) << (8 * i);
    }
    const auto type = static_cast<std::uint8_t>((prefix >> 2) & 0x03u);
    const auto tag = static_cast<std::uint8_t>(prefix >> 4);
    pos += 1 + size;

    if (type == kMain) {
      switch (tag) {
        case kInput:
        case kOutput:
        case kFeature: {
          const Kind kind = tag == kInput ? kIn : (tag == kOutput ? kOut : kFeat);
          const std::uint64_t add =
              std::uint64_t{std::min(global.ReportSize, kHidMaxReportSizeBits)} *
              std::min(global.ReportCount, kHidMaxReportCount);
          std::uint64_t& total = bits[kind][global.ReportId];
          total = std::min(total + add, kMaxReportBits);
          break;
        }
        case kCollection:
          if (collectionDepth == 0 && !haveTopCollection) {
            haveTopCollection = true;
            if (haveLocalUsage) {
              // A four-byte usage names its own page in the high half.
              info.UsagePage = static_cast<std::uint16_t>(
                  localUsageHasPage ? localUsage >> 16 : global.UsagePage & 0xFFFFu);
              info.Usage = static_cast<std::uint16_t>(localUsage & 0xFFFFu);
            }
          }
          if (++collectionDepth > kHidMaxCollectionDepth) return false;
          break;
        case kEndCollection:
          if (collectionDepth == 0) return false;
          --collectionDepth;
          break;
        default:
          break;
      }
      // Local items apply to the next main item only.
      haveLocalUsage = false;
      localUsage = 0;
      localUsageHasPage = false;
    } else if (type == kGlobal) {
      switch (tag) {
        case kUsagePage:
          global.UsagePage = value;
          break;
        case kReportSize:
          global.ReportSize = value;
          break;
        case kReportCount:
          global.ReportCount = value;
          break;
        case kReportId:
          if (value == 0 || value > 255) return false;
          global.ReportId = static_cast<std::uint8_t>(value);
          info.NumberedReports = true;
          break;
        case kPush:
          if (stackDepth == stack.size()) return false;
          stack[stackDepth++] = global;
          break;
        case kPop:
          if (stackDepth == 0) return false;
          global = stack[--stackDepth];
          break;
        default:
          break;
      }
    } else if (type == kLocal) {
      if (tag == kUsage && !haveLocalUsage) {
        haveLocalUsage = true;
        localUsage = value;
        localUsageHasPage = size == 4;
      }
    }
    // Reserved item type 3: skipped.
  }

  if (collectionDepth != 0) return false;

  info.InputReportByteLength = LengthOf(bits[kIn]);
  info.OutputReportByteLength = LengthOf(bits[kOut]);
  info.FeatureReportByteLength = LengthOf(bits[kFeat]);
  out = info;
  return true;
}

}  // namespace zrv
