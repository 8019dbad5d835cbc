// Report descriptors come from the device: any bytes must parse or be refused, never overrun.
#include <cstddef>
#include <cstdint>

#include "link/platform/linux/hid_report_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zrv::HidReportDescriptorInfo info;
  if (zrv::ParseHidReportDescriptor(data, size, info)) {
    // Lengths include the ID byte and never exceed the kernel's largest report.
    if (info.InputReportByteLength > zrv::kHidMaxReportBytes + 1 ||
        info.OutputReportByteLength > zrv::kHidMaxReportBytes + 1 ||
        info.FeatureReportByteLength > zrv::kHidMaxReportBytes + 1) {
      __builtin_trap();
    }
  }
  return 0;
}
