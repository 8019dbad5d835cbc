// The HID headers of the Windows SDK as mingw-w64 ships them: they declare C functions without C
// linkage of their own, so they are included here, once, inside extern "C".
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}
