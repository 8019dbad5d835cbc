// UTF-8 (the platform interface's paths) to and from UTF-16 (the Windows API's).
#pragma once

#include <string>

namespace zrv {

std::string WideToUtf8(const wchar_t* text);
std::wstring Utf8ToWide(const std::string& text);
// The key under which two spellings of one interface path compare equal: the system hands the
// same path out in different letter case (enumeration and device-change notices).
std::string InterfacePathKey(const std::string& path);

}  // namespace zrv
