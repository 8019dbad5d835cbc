// Pure parsing of the text the kernel publishes in sysfs about HID devices. Every function
// rejects malformed text as a whole instead of guessing, and none reads past its input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zrv {

inline constexpr std::uint16_t kHidBusUsb = 0x0003;
// The most code units a product string may have, as the device layer asks for 508 bytes.
inline constexpr std::size_t kMaxProductStringUnits = 254;

struct HidBusIds {
  std::uint16_t Bus = 0;
  std::uint16_t VendorID = 0;
  std::uint16_t ProductID = 0;
};

// The value of `key` in uevent text ("KEY=value" lines). False when the key is absent.
bool FindUeventValue(std::string_view uevent, std::string_view key, std::string& value);

// "0003:00001234:00005678" (the uevent's HID_ID): three hexadecimal fields of 1 to 8 digits,
// each at most 0xFFFF, and nothing else.
bool ParseHidId(std::string_view text, HidBusIds& out);

// A HID device's kernel name such as "0003:1234:5678.000A" -> 10: the kernel's device number,
// hexadecimal after the dot, unique for the life of the boot.
bool ParseHidDeviceInstance(std::string_view name, std::uint32_t& instance);

// A sysfs number such as bcdDevice ("0100\n"): 1 to 4 hexadecimal digits, one trailing newline
// allowed.
bool ParseSysfsHex16(std::string_view text, std::uint16_t& out);

// Strips one trailing newline, as sysfs attributes end with one.
std::string_view TrimSysfsValue(std::string_view text);

// Strict UTF-8 to UTF-16, keeping at most `maxUnits` code units and never splitting a
// surrogate pair. False for malformed input (bad or truncated sequences, overlong forms,
// surrogates, values above U+10FFFF); `out` is then empty.
bool Utf8ToUtf16(std::string_view text, std::u16string& out,
                 std::size_t maxUnits = kMaxProductStringUnits);

// Copies `text` into a caller's buffer of `bytes` bytes: as many whole code points as fit,
// then a NUL when there is room for it. False when the buffer cannot hold one code unit.
bool CopyUtf16ToBuffer(std::u16string_view text, char16_t* buffer, std::size_t bytes);

}  // namespace zrv
