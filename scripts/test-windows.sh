#!/usr/bin/env bash
# The Windows stage of the test command: sets up the cross compiler and wine, builds Qt for Windows
# once (cached outside the checkout), cross-builds the programs and the tests for 64-bit Windows,
# runs the whole CTest suite under wine, and makes and checks the zip. Prints the time of each step.
# Needs root for apt unless the packages are present.
set -uo pipefail
cd "$(dirname "$0")/.."
export CTEST_OUTPUT_ON_FAILURE=1

STAGE_NAME=windows
source scripts/lib/stage.sh

setup() {
  ensure_packages g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev \
    binutils-mingw-w64-x86-64 wine wine64 googletest qt6-base-dev-tools ninja-build cmake dpkg-dev \
    fonts-wine nsis xvfb x11-utils qemu-system-x86 busybox-static cpio xdotool imagemagick
}

# A wine prefix of our own, outside the checkout. The server stays up for the whole stage, and the
# prefix is made once with nothing on stdin/stdout/stderr: a first start of wine inside a pipe
# (as CTest runs it) waits for ever otherwise.
export WINEPREFIX=${ZRV_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/zrv-pc/wine-x64}
export WINEARCH=win64
export WINEDEBUG=-all
# No install dialogs for .NET and the web control, which nothing here needs, and no menu builder:
# it would copy the installer's Start menu entries into this machine's own desktop menus.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
wine_up() {
  mkdir -p "$(dirname "$WINEPREFIX")" || return 1
  # Fails only when the prefix's server already runs, which serves as well.
  wineserver -p </dev/null >/dev/null 2>&1
  wineboot -i </dev/null >/dev/null 2>&1 || return 1
  # Windows keeps Tahoma, the window's font, in its Fonts folder. Debian's wine does not offer its
  # own copy to programs, so the prefix gets it where Windows has it.
  cp /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/tahomabd.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  desktop_up
}
# wine's desktop process (explorer.exe) is started by the first program that makes a window, keeps
# that program's stderr, and lives until a moment after the last program on the desktop has gone.
# Started by a test under CTest, with the other job's tests keeping the desktop busy, it held that
# test's output pipe open until CTest stopped the test at its time-out: the "hang" after a test's
# last line. The desktop is therefore started by a program of ours with nothing on stdout/stderr,
# which holds it open for the rest of the stage (cmake/toolchains/wine-desktop.c).
desktop_up() {
  local keeper i
  keeper="$(dirname "$WINEPREFIX")/wine-desktop.exe"
  if [ ! -f "$keeper" ] || [ cmake/toolchains/wine-desktop.c -nt "$keeper" ]; then
    x86_64-w64-mingw32-gcc-posix -O1 -Wall -Wextra -Werror -static -o "$keeper" cmake/toolchains/wine-desktop.c ||
      return 1
  fi
  wine "$keeper" </dev/null >/dev/null 2>&1 &
  desktop_pid=$!
  for i in $(seq 1 50); do
    pgrep -f 'explorer.exe /desktop' >/dev/null && return 0
    sleep 0.2
  done
  echo "wine's desktop process did not start"
  return 1
}
# That desktop has no X display: the installer's check shows the demo on one, so the desktop is
# let go before it (it closes a moment after its last program).
desktop_down() {
  local i
  [ -n "${desktop_pid:-}" ] && kill "$desktop_pid" 2>/dev/null
  for i in $(seq 1 100); do
    pgrep -f 'explorer.exe /desktop' >/dev/null || return 0
    sleep 0.2
  done
  echo "wine's desktop process did not end"
  return 1
}
wine_down() { wineserver -k </dev/null >/dev/null 2>&1 || true; }

qt() {
  ZRV_QT_WINDOWS=$(bash scripts/build-qt-windows.sh --print-prefix) || return 1
  export ZRV_QT_WINDOWS
  bash scripts/build-qt-windows.sh
}
build() { cmake --preset windows >/dev/null && cmake --build --preset windows; }
# Our Win32 backend, and zrv-cli.exe and zrv-pc.exe, under wine inside the qemu VM, against the
# virtual driver on the guest's real uhid/hidraw (vm/README.md); every scenario unless
# ZRV_WINE_SCENARIOS names some. Needs root, as the VM test does. The VM keeps one core busy for a
# few minutes (qemu's TCG) while the suite under wine uses well under one, so the two run side by
# side: the VM starts before the COM9 steps and its lines are printed once it is done.
vm_wine_pid=
vm_wine_start() {
  vm_wine_log=$(mktemp)
  vm_wine_t0=$SECONDS
  ZRV_WINE_SCENARIOS=${ZRV_WINE_SCENARIOS:-all} bash vm/run-vm-wine-test.sh build/windows \
    </dev/null >"$vm_wine_log" 2>&1 &
  vm_wine_pid=$!
}
vm_wine_wait() {
  local status
  wait "$vm_wine_pid"
  status=$?
  cat "$vm_wine_log"
  rm -f "$vm_wine_log"
  echo "the VM ran $((SECONDS - vm_wine_t0)) s, beside the steps above"
  return $status
}
# The simulated driver's RS485 side (the Linux build's zrv-uhid-driver --no-hid) on a
# pseudo-terminal, mapped into the prefix as COM9 (wine maps a COM port to a Linux device through
# HKLM\Software\Wine\Ports): zrv-cli.exe's bus commands and the suite's COM port cases use it. A
# pseudo-terminal takes no parity, so the driver is at 8N1.
rs485_slave=7 rs485_baud=19200 rs485_parity=none
rs485_pid=
rs485_up() {
  local driver=build/default/apps/zrv-uhid-driver/zrv-uhid-driver i
  [ -x "$driver" ] || { echo "needs the Linux build's $driver"; return 1; }
  rs485_dir=$(mktemp -d)
  "$driver" --no-hid --rs485-pty "$rs485_dir/line" --slave-id $rs485_slave --baud $rs485_baud \
    --parity $rs485_parity >"$rs485_dir/driver.log" 2>&1 </dev/null &
  rs485_pid=$!
  for i in $(seq 1 50); do [ -L "$rs485_dir/line" ] && break; sleep 0.2; done
  [ -L "$rs485_dir/line" ] || { echo "the simulated driver's line did not appear"; cat "$rs485_dir/driver.log"; return 1; }
  wine reg add 'HKLM\Software\Wine\Ports' /v COM9 /d "$(readlink -f "$rs485_dir/line")" /f </dev/null >/dev/null 2>&1 ||
    return 1
  # The prefix's services map the ports when they start.
  wineserver -k </dev/null >/dev/null 2>&1
  wineserver -p </dev/null >/dev/null 2>&1
  wineboot </dev/null >/dev/null 2>&1
  desktop_up || return 1
  ls -l "$WINEPREFIX/dosdevices/com9" || return 1
  export ZRV_TEST_COM_PORT=COM9 ZRV_TEST_COM_LINE=$rs485_slave,$rs485_baud,$rs485_parity
}
rs485_down() {
  [ -n "$rs485_pid" ] && kill "$rs485_pid" 2>/dev/null
  wine reg delete 'HKLM\Software\Wine\Ports' /v COM9 /f </dev/null >/dev/null 2>&1 || true
  rm -rf "${rs485_dir:-/nonexistent}"
}
# zrv-cli.exe bus ports, read and test on COM9; a test at another address gets no answer (exit 8).
rs485_cli() {
  local cli=build/windows/apps/zrv-cli/zrv-cli.exe out rc=0 code dlls dll
  # The DLLs as the build's own runs find them: Qt's and the mingw runtime's folders.
  dlls=$ZRV_QT_WINDOWS/bin
  for dll in libstdc++-6.dll libwinpthread-1.dll; do
    dlls+=:$(dirname "$(readlink -f "$(x86_64-w64-mingw32-g++-posix -print-file-name=$dll)")")
  done
  local run=(timeout 60 bash cmake/toolchains/wine-run.sh "$dlls")
  local line=(--port COM9 --slave-id $rs485_slave --baud $rs485_baud --parity $rs485_parity)
  out=$("${run[@]}" "$cli" bus ports </dev/null 2>&1)
  echo "$out" | sed 's/^/    | /'
  grep -q '^COM9\b' <<<"$out" || { echo "bus ports does not list COM9"; rc=1; }
  out=$("${run[@]}" "$cli" bus read "${line[@]}" --json </dev/null 2>&1)
  code=$?
  echo "    bus read: exit $code, ${out:0:160}"
  [ $code -eq 0 ] && grep -q '"registers":\[{"addr":0' <<<"$out" || { echo "bus read failed"; rc=1; }
  out=$("${run[@]}" "$cli" bus test "${line[@]}" --count 5 --json </dev/null 2>&1)
  code=$?
  echo "    bus test: exit $code, ${out:0:160}"
  [ $code -eq 0 ] && grep -q '"verdict":"ok","answered":10,"sent":10' <<<"$out" || { echo "bus test failed"; rc=1; }
  out=$("${run[@]}" "$cli" bus test --port COM9 --slave-id $((rs485_slave + 1)) --baud $rs485_baud \
    --parity $rs485_parity --count 1 --json </dev/null 2>&1)
  code=$?
  echo "    bus test at another address: exit $code, ${out:0:160}"
  [ $code -eq 8 ] && grep -q '"answered":0' <<<"$out" || { echo "bus test at another address: not exit 8 without answers"; rc=1; }
  return $rc
}
# A case whose output pipe stayed open after its end (see desktop_up) was stopped by CTest at 60 s.
# Two guards stay, each counted: cmake/toolchains/wine-run.sh ends a program that has printed
# GoogleTest's closing line and not ended 8 s later, showing its threads (winedbg); and the windows
# test preset runs a failed case once more (a case that died at once with no output was seen in
# earlier runs). A test that fails twice fails.
# wine's HID bus adds its virtual mouse and keyboard a moment after the prefix's services start,
# later on a busy machine: the suite starts once they are listed (after a minute at most; the HID
# backend's tests then skip, saying why).
wait_for_hid() {
  local i log
  log=$(mktemp)
  for i in $(seq 1 30); do
    # Without devices the case skips; listed means it ran and passed.
    if ctest --preset windows -R '^Win32HidPlatformTest\.EnumerationAndIdentificationOfTheAttachedDevices$' \
      </dev/null >"$log" 2>&1 && ! grep -q Skipped "$log"; then
      echo "wine's HID devices listed after $((2 * (i - 1))) s"
      rm -f "$log"
      return 0
    fi
    sleep 2
  done
  rm -f "$log"
  echo "wine's HID devices were not listed within a minute: the HID backend's tests will skip"
}
tests() {
  local status retried hung
  wait_for_hid
  ctest --preset windows
  status=$?
  # Every run of a case is in CTest's log: a name seen twice was run again after a failure.
  retried=$(sed -n 's/^[0-9]*\/[0-9]* Testing: //p' build/windows/Testing/Temporary/LastTest.log | sort | uniq -d)
  echo "tests run a second time after a failure: $(grep -c . <<<"$retried")${retried:+ ($(tr '\n' ' ' <<<"$retried"))}"
  # A case whose run wine-run.sh ended after its closing line.
  hung=$(awk '/^[0-9]+\/[0-9]+ Testing: / {name = $3} /^wine-run: exit hang/ {print name}' \
    build/windows/Testing/Temporary/LastTest.log | sort -u)
  echo "cases that hung after their closing line and were ended: $(grep -c . <<<"$hung")${hung:+ ($(tr '\n' ' ' <<<"$hung"))}"
  return $status
}
package() {
  local zip
  zip=$(bash scripts/package-windows.sh build/windows) && ls -l "$zip" && bash scripts/check-windows-zip.sh "$zip"
}
desktop_down_and_installer() { desktop_down && installer; }
# From the zip's folder: installed, started and uninstalled under wine.
installer() {
  local setup
  setup=$(bash scripts/installer-windows.sh build/windows) && ls -l "$setup" &&
    bash scripts/check-windows-installer.sh "$setup" "${setup%-setup.exe}-windows-x64"
}

t_all=$SECONDS
step "setup (mingw-w64, wine)" setup
[ $rc -eq 0 ] && step "Qt for Windows" qt
[ $rc -eq 0 ] && step "wine prefix" wine_up
[ $rc -eq 0 ] && step "build" build
if [ $rc -eq 0 ]; then
  vm_wine_start
  step "RS485: the simulated driver's line as COM9" rs485_up
  [ $rc -eq 0 ] && step "RS485: zrv-cli.exe bus commands on COM9" rs485_cli
  step "tests under wine" tests
  rs485_down
  step "VM: zrv-cli.exe and zrv-pc.exe under wine beside the virtual driver" vm_wine_wait
  step "zip and its DLL check" package
  [ $rc -eq 0 ] && step "installer under wine" desktop_down_and_installer
fi
wine_down
echo "-- windows: $((SECONDS - t_all)) s in all"
exit $rc
