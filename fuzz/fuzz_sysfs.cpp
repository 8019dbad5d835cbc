// sysfs and uevent text about HID devices: every parser on any text, and the UTF-16 copy into a
// caller's buffer of any size, which must never be written past its end.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "link/platform/linux/sysfs_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  std::string value;
  (void)zrv::FindUeventValue(text, "HID_ID", value);
  (void)zrv::FindUeventValue(text, "HID_NAME", value);
  zrv::HidBusIds ids;
  (void)zrv::ParseHidId(text, ids);
  (void)zrv::ParseHidId(value, ids);
  std::uint32_t instance = 0;
  (void)zrv::ParseHidDeviceInstance(text, instance);
  std::uint16_t hex = 0;
  (void)zrv::ParseSysfsHex16(text, hex);
  (void)zrv::TrimSysfsValue(text);

  std::u16string units;
  const std::size_t cap = data[0] % 300;
  if (zrv::Utf8ToUtf16(text, units, cap) && units.size() > cap) __builtin_trap();
  // A buffer exactly as large as the caller says, so AddressSanitizer sees any overrun.
  const std::size_t bytes = data[0] % 64;
  std::array<char16_t, 32> buffer{};
  (void)zrv::CopyUtf16ToBuffer(units, buffer.data(), bytes);
  auto* heap = new char16_t[bytes / 2 + 1];
  (void)zrv::CopyUtf16ToBuffer(units, heap, bytes);
  delete[] heap;
  return 0;
}
