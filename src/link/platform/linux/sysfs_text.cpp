#include "link/platform/linux/sysfs_text.h"

#include <utility>

namespace zrv {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 1 to maxDigits hexadecimal digits and nothing else.
bool ParseHex(std::string_view text, std::size_t maxDigits, std::uint32_t& out) {
  if (text.empty() || text.size() > maxDigits) return false;
  std::uint32_t value = 0;
  for (char c : text) {
    const int d = HexDigit(c);
    if (d < 0) return false;
    value = (value << 4) | static_cast<std::uint32_t>(d);
  }
  out = value;
  return true;
}

bool ParseHex16Field(std::string_view text, std::size_t maxDigits, std::uint16_t& out) {
  std::uint32_t value = 0;
  if (!ParseHex(text, maxDigits, value) || value > 0xFFFFu) return false;
  out = static_cast<std::uint16_t>(value);
  return true;
}

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }

}  // namespace

bool FindUeventValue(std::string_view uevent, std::string_view key, std::string& value) {
  while (!uevent.empty()) {
    const std::size_t end = uevent.find('\n');
    const std::string_view line = uevent.substr(0, end);
    if (line.size() > key.size() && line.substr(0, key.size()) == key &&
        line[key.size()] == '=') {
      value.assign(line.substr(key.size() + 1));
      return true;
    }
    if (end == std::string_view::npos) break;
    uevent.remove_prefix(end + 1);
  }
  return false;
}

bool ParseHidId(std::string_view text, HidBusIds& out) {
  const std::size_t first = text.find(':');
  if (first == std::string_view::npos) return false;
  const std::size_t second = text.find(':', first + 1);
  if (second == std::string_view::npos) return false;
  HidBusIds ids;
  if (!ParseHex16Field(text.substr(0, first), 8, ids.Bus) ||
      !ParseHex16Field(text.substr(first + 1, second - first - 1), 8, ids.VendorID) ||
      !ParseHex16Field(text.substr(second + 1), 8, ids.ProductID)) {
    return false;
  }
  out = ids;
  return true;
}

bool ParseHidDeviceInstance(std::string_view name, std::uint32_t& instance) {
  // "BBBB:VVVV:PPPP.NNNN": the three ids are four digits each; the number has at least four.
  if (name.size() < 19 || name[4] != ':' || name[9] != ':' || name[14] != '.') return false;
  std::uint32_t unused = 0;
  if (!ParseHex(name.substr(0, 4), 4, unused) || !ParseHex(name.substr(5, 4), 4, unused) ||
      !ParseHex(name.substr(10, 4), 4, unused)) {
    return false;
  }
  return ParseHex(name.substr(15), 8, instance);
}

std::string_view TrimSysfsValue(std::string_view text) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  return text;
}

bool ParseSysfsHex16(std::string_view text, std::uint16_t& out) {
  return ParseHex16Field(TrimSysfsValue(text), 4, out);
}

bool Utf8ToUtf16(std::string_view text, std::u16string& out, std::size_t maxUnits) {
  out.clear();
  std::u16string result;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::uint32_t cp = 0;
    std::size_t extra = 0;
    std::uint32_t minimum = 0;
    if (lead < 0x80) {
      cp = lead;
    } else if ((lead & 0xE0u) == 0xC0u) {
      cp = lead & 0x1Fu;
      extra = 1;
      minimum = 0x80;
    } else if ((lead & 0xF0u) == 0xE0u) {
      cp = lead & 0x0Fu;
      extra = 2;
      minimum = 0x800;
    } else if ((lead & 0xF8u) == 0xF0u) {
      cp = lead & 0x07u;
      extra = 3;
      minimum = 0x10000;
    } else {
      return false;
    }
    if (text.size() - i - 1 < extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto cont = static_cast<unsigned char>(text[i + k]);
      if ((cont & 0xC0u) != 0x80u) return false;
      cp = (cp << 6) | (cont & 0x3Fu);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += 1 + extra;

    // The whole text is checked even after the cap, so the outcome does not depend on it.
    if (cp < 0x10000) {
      if (result.size() + 1 <= maxUnits) result.push_back(static_cast<char16_t>(cp));
      else maxUnits = result.size();
    } else {
      if (result.size() + 2 <= maxUnits) {
        const std::uint32_t v = cp - 0x10000;
        result.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
        result.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FFu)));
      } else {
        maxUnits = result.size();
      }
    }
  }
  out = std::move(result);
  return true;
}

bool CopyUtf16ToBuffer(std::u16string_view text, char16_t* buffer, std::size_t bytes) {
  const std::size_t units = bytes / sizeof(char16_t);
  if (buffer == nullptr || units == 0) return false;
  std::size_t n = text.size() < units ? text.size() : units;
  if (n < text.size() && n > 0 && IsHighSurrogate(text[n - 1])) --n;
  for (std::size_t k = 0; k < n; ++k) buffer[k] = text[k];
  if (n < units) buffer[n] = u'\0';
  return true;
}

}  // namespace zrv
