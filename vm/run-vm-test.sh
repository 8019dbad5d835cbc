#!/usr/bin/env bash
# Runs the HID backend against the real kernel: boots a Debian kernel under qemu with an
# initramfs holding busybox, udevd, the virtual driver (uhid) and the guest test program, and
# checks the one result line the guest prints. Run as root on Debian 12; safe to run again.
# Downloads and builds are cached under vm/work/.
#
# Environment: ZRV_VM_TIMEOUT (whole run, s, default 600), ZRV_VM_BOOT_TIMEOUT (the VM, s,
# default 240), ZRV_VM_ACCEL (default tcg), ZRV_VM_SCENARIOS (guest scenarios, default all),
# ZRV_VM_GUEST_ENV (NAME=value words exported in the guest, e.g. QT_NO_GLIB=1), ZRV_VM_SMP
# (virtual CPUs, default 1).
set -euo pipefail

VM_LOG_NAME=vm-test
# shellcheck source-path=SCRIPTDIR source=lib/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/common.sh"

# The whole run is bounded: the script runs itself once more under timeout(1).
vm_bounded_run "${ZRV_VM_TIMEOUT:-600}" "$0" "$@"

[ "$(id -u)" -eq 0 ] || { log "must run as root"; exit 1; }
mkdir -p "$work/debs"

# --- host tools ---------------------------------------------------------------------------
need=()
command -v qemu-system-x86_64 >/dev/null || need+=(qemu-system-x86)
command -v cpio >/dev/null || need+=(cpio)
command -v python3 >/dev/null || need+=(python3)  # the RS485 wire between the guest's serial ports
# busybox is copied into the initramfs, so it must be the static one.
if ! [ -x /bin/busybox ] || ldd /bin/busybox >/dev/null 2>&1; then need+=(busybox-static); fi
command -v cmake >/dev/null || need+=(cmake build-essential pkg-config)
pkg-config --exists libudev 2>/dev/null || need+=(libudev-dev)
[ -e /usr/lib/x86_64-linux-gnu/cmake/Qt6Core/Qt6CoreConfig.cmake ] || need+=(qt6-base-dev)
if [ ${#need[@]} -gt 0 ]; then
  log "installing ${need[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# --- kernel and udev packages (downloaded, never installed) -----------------------------------
vm_kernel_deb
vm_fetch udev
vm_fetch libudev1
# The HID stack, and the USB stack with the FTDI adapter's driver for the RS485 line, in the order
# they load. Only the image, its config and these modules are needed; tar picks them from the package.
modules=(hid uhid hid-generic usb-common usbcore uhci-hcd usbserial ftdi_sio)
vm_unpack_kernel kernel \
  '*/kernel/drivers/hid/hid.ko*' '*/kernel/drivers/hid/uhid.ko*' '*/kernel/drivers/hid/hid-generic.ko*' \
  '*/kernel/drivers/usb/common/usb-common.ko*' '*/kernel/drivers/usb/core/usbcore.ko*' \
  '*/kernel/drivers/usb/host/uhci-hcd.ko*' '*/kernel/drivers/usb/serial/usbserial.ko*' \
  '*/kernel/drivers/usb/serial/ftdi_sio.ko*'
for option in CONFIG_HIDRAW=y CONFIG_UHID=m CONFIG_HID_GENERIC=m CONFIG_HID=m CONFIG_DEVTMPFS=y \
  CONFIG_USB=m CONFIG_USB_UHCI_HCD=m CONFIG_USB_SERIAL=m CONFIG_USB_SERIAL_FTDI_SIO=m CONFIG_SERIAL_8250=y; do
  grep -q "^$option\$" "$kconfig" || { log "kernel config lacks $option"; exit 1; }
done

udir="$work/udev-root"
if [ ! -e "$udir/.done" ]; then
  rm -rf "$udir" && mkdir -p "$udir"
  for deb in "$work"/debs/udev_*.deb "$work"/debs/libudev1_*.deb; do dpkg-deb -x "$deb" "$udir"; done
  touch "$udir/.done"
fi
udevadm=""
for candidate in "$udir/bin/udevadm" "$udir/usr/bin/udevadm"; do
  [ -x "$candidate" ] && udevadm="$candidate" && break
done
[ -n "$udevadm" ] || { log "udevadm not found in the udev package"; exit 1; }

# --- guest programs -----------------------------------------------------------------------------
build="$work/build"
log "building the guest programs"
cmake -S "$here/guest" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZRV_WARNINGS_AS_ERRORS=ON >"$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log"; exit 1; }
cmake --build "$build" -j2 --target zrv-vm-guest zrv-vm-window zrv-uhid-driver zrv-cli >"$work/build.log" 2>&1 ||
  { tail -n 60 "$work/build.log"; exit 1; }
guest_bin="$build/zrv-vm-guest"
window_bin="$build/zrv-vm-window"
driver_bin="$build/apps/zrv-uhid-driver/zrv-uhid-driver"
cli_bin="$build/apps/zrv-cli/zrv-cli"

# --- initramfs ------------------------------------------------------------------------------------
rootfs="$work/rootfs"
rm -rf "$rootfs"
mkdir -p "$rootfs"/{bin,sbin,usr/bin,lib/systemd,modules,proc,sys,dev,run,tmp,etc,root}
cp /bin/busybox "$rootfs/bin/busybox"
install -m 0755 "$guest_bin" "$rootfs/usr/bin/zrv-vm-guest"
install -m 0755 "$window_bin" "$rootfs/usr/bin/zrv-vm-window"
install -m 0755 "$driver_bin" "$rootfs/usr/bin/zrv-uhid-driver"
install -m 0755 "$cli_bin" "$rootfs/usr/bin/zrv-cli"
install -m 0755 "$udevadm" "$rootfs/bin/udevadm"
ln -s /bin/udevadm "$rootfs/lib/systemd/systemd-udevd"
vm_copy_modules "$rootfs" "${modules[@]}"
# The shared libraries of every dynamically linked program, at the paths the loader asks for.
for bin in "$guest_bin" "$window_bin" "$driver_bin" "$cli_bin" "$udevadm"; do
  ldd "$bin" | awk '/=> \// {print $3} /^\t\// {print $1}' | while read -r lib; do
    mkdir -p "$rootfs$(dirname "$lib")"
    cp -L -n "$lib" "$rootfs$lib"
  done
  if ldd "$bin" | grep -q 'not found'; then log "$bin: a library is missing"; ldd "$bin"; exit 1; fi
done
# A guest program that links Qt's GUI library runs on the offscreen platform: its plugin, the
# plugin's libraries, the font configuration and two fonts come along (init.sh sets
# QT_QPA_PLATFORM=offscreen).
qtplugins=/usr/lib/x86_64-linux-gnu/qt6/plugins
if ldd "$guest_bin" "$window_bin" | grep -q 'libQt6Gui'; then
  [ -e "$qtplugins/platforms/libqoffscreen.so" ] || { log "Qt's offscreen platform plugin is missing"; exit 1; }
  mkdir -p "$rootfs$qtplugins/platforms"
  cp "$qtplugins/platforms/libqoffscreen.so" "$rootfs$qtplugins/platforms/"
  ldd "$qtplugins/platforms/libqoffscreen.so" | awk '/=> \// {print $3}' | while read -r lib; do
    mkdir -p "$rootfs$(dirname "$lib")"
    cp -L -n "$lib" "$rootfs$lib"
  done
  # Without fonts every text measures empty; the configuration's links point into
  # /usr/share/fontconfig, so they are copied as files.
  [ -d /etc/fonts ] && cp -rL /etc/fonts "$rootfs/etc/" 2>/dev/null || true
  fontdir=/usr/share/fonts/truetype/dejavu
  if [ -e "$fontdir/DejaVuSans.ttf" ]; then
    mkdir -p "$rootfs$fontdir"
    cp "$fontdir/DejaVuSans.ttf" "$fontdir/DejaVuSans-Bold.ttf" "$rootfs$fontdir/" 2>/dev/null || true
  else
    log "no DejaVu fonts on the host (fonts-dejavu-core): the window runs without fonts"
  fi
fi
printf 'root:x:0:0:root:/root:/bin/sh\ntester:x:1000:1000:tester:/tmp:/bin/sh\n' >"$rootfs/etc/passwd"
printf 'root:x:0:\ntester:x:1000:\n' >"$rootfs/etc/group"
cp "$here/guest/init.sh" "$rootfs/init"
chmod 0755 "$rootfs/init"
echo "${ZRV_VM_SCENARIOS:-}" >"$rootfs/etc/zrv-scenarios"
echo "${ZRV_VM_GUEST_ENV:-}" >"$rootfs/etc/zrv-env"
vm_pack_initramfs "$rootfs" "$work/initrd.gz"
log "initramfs $(($(stat -c %s "$work/initrd.gz") / 1024 / 1024)) MiB"

# --- boot ------------------------------------------------------------------------------------------
console="$work/console.log"
# The RS485 line: an emulated FTDI adapter (the guest's /dev/ttyUSB0) and a second 8250 UART (its
# /dev/ttyS1), each on a socket, joined by vm/rs485_wire.py, which also models what qemu does not:
# characters sent at other settings than the receiver's do not arrive whole. It learns the
# settings from qemu's trace of what the guest's drivers wrote into the two chips.
wire="$(mktemp -d /tmp/zrv-vm-wire.XXXXXX)"  # short: a socket's path has at most 107 bytes
trace="$work/serial-trace.log"
rm -f "$trace"
log "booting $(basename "$vmlinuz") under qemu (${ZRV_VM_ACCEL:-tcg})"
set +e
timeout -k 5 "${ZRV_VM_BOOT_TIMEOUT:-240}" qemu-system-x86_64 -accel "${ZRV_VM_ACCEL:-tcg}" -M pc -m 512 -smp "${ZRV_VM_SMP:-1}" \
  -nographic -no-reboot -nic none -kernel "$vmlinuz" -initrd "$work/initrd.gz" \
  -usb -chardev socket,id=adapter,path="$wire/adapter",server=on,wait=off -device usb-serial,chardev=adapter \
  -chardev socket,id=line,path="$wire/line",server=on,wait=off -serial mon:stdio -serial chardev:line \
  -trace serial_update_parameters -trace 'usb_serial_set_*' -D "$trace" \
  -append "console=ttyS0 rdinit=/init panic=-1 quiet loglevel=4" </dev/null >"$console" 2>&1 &
qemu_pid=$!
python3 "$here/rs485_wire.py" "$wire/adapter" "$wire/line" "$trace" "$console" 2>"$work/wire.log" &
wire_pid=$!
wait $qemu_pid
qemu_rc=$?
# Both sockets closed with qemu: the wire ends by itself, and is stopped only if it does not.
for _ in $(seq 50); do kill -0 $wire_pid 2>/dev/null || break; sleep 0.1; done
kill $wire_pid 2>/dev/null
wait $wire_pid
wire_rc=$?
set -e
rm -rf "$wire"
[ $wire_rc -eq 0 ] || log "the RS485 wire ended with status $wire_rc"
cat "$work/wire.log" >&2
tr -d '\r' <"$console" >"$console.txt"
result="$(grep -a '^VMTEST RESULT:' "$console.txt" | tail -n 1 || true)"
if [ $qemu_rc -eq 124 ]; then log "the VM did not power off within ${ZRV_VM_BOOT_TIMEOUT:-240} s"; fi
if [ -z "$result" ] || [[ "$result" != "VMTEST RESULT: PASS"* ]]; then
  log "guest console:"
  cat "$console.txt" >&2
  echo "${result:-VMTEST RESULT: FAIL no result line}"
  exit 1
fi
grep -a -E '^VMTEST (CASE|FIGURE)' "$console.txt" || true
echo "$result"
