#!/usr/bin/env bash
# Runs the Windows build under wine inside the qemu VM, beside the virtual driver on the guest's real
# kernel (uhid -> hidraw -> wine's HID bus -> our Win32 backend). The guest has no image of its own:
# it mounts this machine's root read-only over virtio-9p, lays a tmpfs over it and runs
# vm/wine/scenarios.sh in a chroot there, with the host's wine, udevd and X server, a wine prefix made
# once on the host, the Linux build of zrv-uhid-driver and the cross-built programs.
#   run-vm-wine-test.sh [Windows build folder]   (default build/windows)
# Run as root on Debian 12 after the Windows build. Prints each scenario's PASS/FAIL and time.
#
# Environment: ZRV_WINE_SCENARIOS (names, default all), ZRV_VM_TIMEOUT (whole run, s, default 900),
# ZRV_VM_BOOT_TIMEOUT (the VM, s, default 600), ZRV_VM_ACCEL (default tcg), ZRV_VM_SMP (default 1),
# ZRV_QT_WINDOWS (Qt for Windows; default: what build-qt-windows.sh names), ZRV_CACHE_DIR.
set -euo pipefail

VM_LOG_NAME=vm-wine-test
# shellcheck source-path=SCRIPTDIR source=lib/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

# The whole run is bounded, and one at a time beside run-vm-test.sh: see vm_bounded_run.
vm_bounded_run "${ZRV_VM_TIMEOUT:-900}" "$0" "$@"

[ "$(id -u)" -eq 0 ] || { log "must run as root"; exit 1; }
gxx=x86_64-w64-mingw32-g++-posix
command -v $gxx >/dev/null || { log "$gxx is missing (the Windows stage installs it)"; exit 1; }
# The backend's scenarios need neither the Windows build nor Qt.
winbuild=""
dll_dirs=""
if [[ " ${ZRV_WINE_SCENARIOS:-all} " =~ \ (all|cli-|no-report-ids|short-replies|reply-delay|window-) ]]; then
  winbuild="$(cd "${1:-$root/build/windows}" && pwd)"
  for exe in apps/zrv-cli/zrv-cli.exe apps/zrv-pc/zrv-pc.exe; do
    [ -f "$winbuild/$exe" ] || { log "$winbuild/$exe not built"; exit 1; }
  done
  qt="${ZRV_QT_WINDOWS:-$(bash "$root/scripts/build-qt-windows.sh" --print-prefix)}"
  [ -f "$qt/bin/Qt6Core.dll" ] || { log "no Qt for Windows in $qt"; exit 1; }
  dll_dirs="$qt/bin:$(dirname "$($gxx -print-file-name=libstdc++-6.dll)"):$(dirname "$(realpath "$($gxx -print-file-name=libwinpthread-1.dll)")")"
fi

for tool in qemu-system-x86_64 cpio wine wineserver Xvfb xdotool xwininfo import; do
  command -v "$tool" >/dev/null || { log "$tool is missing (scripts/setup.sh and the Windows stage install it)"; exit 1; }
done
[ -x /lib/systemd/systemd-udevd ] || { log "systemd-udevd is missing (package udev)"; exit 1; }
if ! [ -x /bin/busybox ] || ldd /bin/busybox >/dev/null 2>&1; then log "busybox must be busybox-static"; exit 1; fi

# --- kernel (downloaded, never installed) ----------------------------------------------------
# virtio's PCI transport, 9p and overlay for the host's root; hid, uhid and hid-generic for the
# driver. In this order: each needs those before it.
modules=(virtio_ring virtio virtio_pci_legacy_dev virtio_pci_modern_dev virtio_pci netfs fscache
  9pnet 9pnet_virtio 9p overlay hid uhid hid-generic)
vm_kernel_deb
patterns=()
for m in "${modules[@]}"; do patterns+=("*/$m.ko*"); done
vm_unpack_kernel kernel-wine "${patterns[@]}"

# --- the virtual driver, a Linux program --------------------------------------------------------
build="$work/build"
log "building zrv-uhid-driver"
cmake -S "$here/guest" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZRV_WARNINGS_AS_ERRORS=ON >"$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log"; exit 1; }
cmake --build "$build" -j2 --target zrv-uhid-driver >"$work/build.log" 2>&1 || { tail -n 60 "$work/build.log"; exit 1; }
driver_bin="$build/apps/zrv-uhid-driver/zrv-uhid-driver"
# Our Win32 backend alone, without Qt, linked statically: it needs no DLL folder.
backend_exe="$work/wine-backend/zrv-wine-backend.exe"
mkdir -p "$work/wine-backend"
if [ ! -f "$backend_exe" ] || [ -n "$(find "$here/wine/backend_check.cpp" "$root/src/link/platform" -newer "$backend_exe" -print -quit)" ]; then
  log "building zrv-wine-backend.exe"
  $gxx -std=c++20 -O1 -Wall -Wextra -Werror -I"$root/src" -o "$backend_exe" "$here/wine/backend_check.cpp" \
    "$root"/src/link/platform/win32/*.cpp -lhid -lsetupapi -luser32 -static || exit 1
fi

# --- the wine prefix, made once ----------------------------------------------------------------
# Keyed by what it is made of: wine's version and the recipe.
wine_version="$(dpkg-query -W -f='${Version}' wine64 2>/dev/null || wine --version)"
recipe_sum="$(sha256sum "$here/wine/make-prefix.sh" | cut -c1-12)"
prefix="${ZRV_CACHE_DIR:-/var/cache/zrv-pc}/wine-vm/wine${wine_version//[:+~]/_}-$recipe_sum"
if [ ! -f "$prefix/.complete" ]; then
  log "making the wine prefix $prefix"
  t0=$SECONDS
  rm -rf "$prefix" "$prefix.new"
  mkdir -p "$(dirname "$prefix")"
  bash "$here/wine/make-prefix.sh" "$prefix.new" || { log "the wine prefix could not be made"; exit 1; }
  # wine keeps the prefix's path in the registry only as drive links, so it can move.
  mv "$prefix.new" "$prefix"
  touch "$prefix/.complete"
  log "wine prefix made in $((SECONDS - t0)) s"
fi

# --- initramfs -----------------------------------------------------------------------------------
rootfs="$work/wine-rootfs"
rm -rf "$rootfs"
mkdir -p "$rootfs"/{bin,sbin,modules,proc,sys,dev,etc}
cp /bin/busybox "$rootfs/bin/busybox"
vm_copy_modules "$rootfs" "${modules[@]}"
echo "${modules[*]}" >"$rootfs/etc/zrv-modules"
echo "$here/wine/scenarios.sh" >"$rootfs/etc/zrv-guest-script"
{
  printf 'ZRV_ROOT=%q\n' "$root"
  printf 'ZRV_WIN_BUILD=%q\n' "$winbuild"
  printf 'ZRV_DLL_DIRS=%q\n' "$dll_dirs"
  printf 'ZRV_DRIVER=%q\n' "$driver_bin"
  printf 'ZRV_BACKEND_EXE=%q\n' "$backend_exe"
  printf 'ZRV_WINEPREFIX=%q\n' "$prefix"
  printf 'ZRV_WINE_SCENARIOS=%q\n' "${ZRV_WINE_SCENARIOS:-}"
} >"$rootfs/etc/zrv-wine.env"
cp "$here/wine/init.sh" "$rootfs/init"
chmod 0755 "$rootfs/init"
vm_pack_initramfs "$rootfs" "$work/wine-initrd.gz"

# --- boot ------------------------------------------------------------------------------------------
# The default CPU model: with -cpu max every wine process crashes in the guest.
console="$work/wine-console.log"
log "booting $(basename "$vmlinuz") under qemu (${ZRV_VM_ACCEL:-tcg}) with the host's root over 9p"
set +e
timeout -k 5 "${ZRV_VM_BOOT_TIMEOUT:-600}" qemu-system-x86_64 -accel "${ZRV_VM_ACCEL:-tcg}" -M pc -m 1024 \
  -smp "${ZRV_VM_SMP:-1}" -nographic -no-reboot -nic none \
  -fsdev local,id=hostfs,path=/,security_model=none,readonly=on,multidevs=remap \
  -device virtio-9p-pci,fsdev=hostfs,mount_tag=host \
  -kernel "$vmlinuz" -initrd "$work/wine-initrd.gz" \
  -append "console=ttyS0 rdinit=/init panic=-1 quiet loglevel=4" </dev/null >"$console" 2>&1
qemu_rc=$?
set -e
tr -d '\r' <"$console" >"$console.txt"
# Screenshots the scenarios took (WINESHOT NAME BASE64) become PNGs beside the console log.
rm -rf "$work/wine-shots"
grep -a '^WINESHOT ' "$console.txt" | while read -r _ name data; do
  mkdir -p "$work/wine-shots"
  base64 -d <<<"$data" >"$work/wine-shots/$name.png" 2>/dev/null && log "screenshot $work/wine-shots/$name.png"
done || true
sed -i '/^WINESHOT /d' "$console.txt"
result="$(grep -a '^WINETEST RESULT:' "$console.txt" | tail -n 1 || true)"
[ $qemu_rc -eq 124 ] && log "the VM did not power off within ${ZRV_VM_BOOT_TIMEOUT:-600} s"
if [ -z "$result" ] || [[ "$result" != "WINETEST RESULT: PASS"* ]]; then
  log "guest console:"
  cat "$console.txt" >&2
  grep -a -E '^WINETEST (CASE|FIGURE)' "$console.txt" || true
  echo "${result:-WINETEST RESULT: FAIL no result line}"
  exit 1
fi
grep -a -E '^WINETEST (CASE|FIGURE)' "$console.txt" || true
echo "$result"
