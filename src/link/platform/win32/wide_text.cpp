#include "link/platform/win32/wide_text.h"

#include <algorithm>
#include <cwchar>

#include "link/platform/win32/hid_api.h"

namespace zrv {

std::string WideToUtf8(const wchar_t* text) {
  if (text == nullptr || *text == L'\0') return {};
  const int units = static_cast<int>(std::wcslen(text));
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string out(static_cast<std::size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, units, out.data(), bytes, nullptr, nullptr);
  return out;
}

std::wstring Utf8ToWide(const std::string& text) {
  if (text.empty()) return {};
  const int bytes = static_cast<int>(text.size());
  const int units = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), bytes, nullptr, 0);
  if (units <= 0) return {};
  std::wstring out(static_cast<std::size_t>(units), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), bytes, out.data(), units);
  return out;
}

std::string InterfacePathKey(const std::string& path) {
  std::string key = path;
  std::transform(key.begin(), key.end(), key.begin(), [](char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  });
  return key;
}

}  // namespace zrv
