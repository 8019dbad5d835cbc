// A small reader of HID report descriptors: just enough to learn the report lengths, whether
// reports are numbered and the usage of the first top-level collection. It reads untrusted bytes
// from the device, so it is bounded everywhere and never trusts a count it finds.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zrv {

struct HidReportDescriptorInfo {
  bool NumberedReports = false;  // a Report ID item appears somewhere
  std::uint16_t Usage = 0;       // of the first top-level collection
  std::uint16_t UsagePage = 0;
  // Largest report of each kind in bytes plus one for the report ID byte (present on the wire
  // or not); 0 when the descriptor declares no report of that kind.
  std::uint16_t InputReportByteLength = 0;
  std::uint16_t OutputReportByteLength = 0;
  std::uint16_t FeatureReportByteLength = 0;
};

// Limits a well-formed descriptor stays within; anything beyond is clamped or rejected.
inline constexpr std::size_t kHidMaxGlobalStackDepth = 16;
inline constexpr std::size_t kHidMaxCollectionDepth = 64;
inline constexpr std::uint32_t kHidMaxReportSizeBits = 256;
inline constexpr std::uint32_t kHidMaxReportCount = 12288;
// The kernel's largest report buffer; longer reports are cut to this.
inline constexpr std::uint32_t kHidMaxReportBytes = 16384;

// False for a descriptor that cannot be trusted: empty, an item cut off by the end, a Report ID
// of 0 or above 255, Pop without Push, Push too deep, End Collection without Collection,
// collections left open or nested too deep. `out` is written only on success. Long items and
// unknown items are skipped.
bool ParseHidReportDescriptor(const std::uint8_t* data, std::size_t length,
                              HidReportDescriptorInfo& out);

}  // namespace zrv
