// The window's typeface: Tahoma when the system has it or it can be loaded from the Debian
// fonts-wine files, otherwise the platform's sans serif.
#pragma once

#include <QString>

namespace zrv {

// Makes "Tahoma" available if it can be and returns the family the window should use.
// Loads the font files at most once per process.
QString WindowFontFamily();

}  // namespace zrv
