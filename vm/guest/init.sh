#!/bin/busybox sh
# /init of the VM test's initramfs: bring up the kernel's HID and USB stacks and udevd, run the guest
# program, print its result line and power off.
/bin/busybox --install -s /bin
export PATH=/bin:/sbin:/usr/bin
export LD_LIBRARY_PATH=/lib/x86_64-linux-gnu:/usr/lib/x86_64-linux-gnu
export QT_QPA_PLATFORM=offscreen
export HOME=/tmp
# Extra variables for the guest program, NAME=value words (ZRV_VM_GUEST_ENV on the host).
for assignment in $(cat /etc/zrv-env 2>/dev/null); do
  export "$assignment"
done
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs run /run
mount -t tmpfs tmp /tmp
chmod 1777 /tmp
mkdir -m 0700 /tmp/runtime-root
export XDG_RUNTIME_DIR=/tmp/runtime-root  # for the window program (Qt)

fail() {
  echo "VMTEST RESULT: FAIL $*"
  poweroff -f
}

for m in hid uhid hid-generic; do
  insmod /modules/$m.ko || fail "insmod $m"
done
[ -e /dev/uhid ] || fail "no /dev/uhid"
# The USB stack and the FTDI adapter's driver: the RS485 line's adapter becomes /dev/ttyUSB0.
for m in usb-common usbcore uhci-hcd usbserial ftdi_sio; do
  insmod /modules/$m.ko || fail "insmod $m"
done

mkdir -p /run/udev
/lib/systemd/systemd-udevd --daemon >/tmp/udevd.log 2>&1 || fail "udevd did not start"

echo "VMTEST uptime before tests: $(cut -d' ' -f1 /proc/uptime) s"
# Timed waits and clock reads cost what the clock source costs; under emulation that differs a lot.
echo "VMTEST FIGURE clock source: $(cat /sys/devices/system/clocksource/clocksource0/current_clocksource 2>/dev/null)" \
  "(available: $(cat /sys/devices/system/clocksource/clocksource0/available_clocksource 2>/dev/null))"
scenarios="$(cat /etc/zrv-scenarios 2>/dev/null)"
# shellcheck disable=SC2086  # the list is words
timeout 200 /usr/bin/zrv-vm-guest $scenarios
rc=$?
echo "VMTEST uptime after tests: $(cut -d' ' -f1 /proc/uptime) s"
dmesg | grep -i -E 'hid|uhid' | grep -v -E 'usbhid|HID support|hid_generic: module|registered new interface' | tail -n 25 | sed 's/^/KERNEL: /'
if [ "$rc" -gt 1 ]; then
  echo "VMTEST RESULT: FAIL the guest program ended with status $rc"
fi
poweroff -f
