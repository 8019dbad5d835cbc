#!/usr/bin/env bash
# Makes the wine prefix that the VM's wine scenarios use, once, on the host: in the guest, making it
# costs a minute and a gigabyte of the guest's memory, while this one is used in place through the
# guest's overlay. run-vm-wine-test.sh keys the cached prefix by the wine version and this file.
#   make-prefix.sh FOLDER
set -euo pipefail
dest=$1
export WINEPREFIX=$dest WINEARCH=win64 WINEDEBUG=-all
# No .NET or web-control install dialogs and no menu entries on this machine's desktop.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
# Nothing on stdin/stdout/stderr: a first start of wine inside a pipe waits for ever otherwise.
wineboot -i </dev/null >/dev/null 2>&1
# Wine's HID bus tries its SDL backend first; without libSDL2 that fails and the udev/hidraw backend
# is never started, so the virtual driver would not be listed.
wine reg add 'HKLM\System\CurrentControlSet\Services\winebus' /v 'Enable SDL' /t REG_DWORD /d 0 /f \
  </dev/null >/dev/null 2>&1
# The window's font, where Windows keeps it.
cp /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/tahomabd.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
# The registry reaches its files when the prefix's server ends.
wineserver -w
grep -q '"Enable SDL"=dword:00000000' "$WINEPREFIX/system.reg"
