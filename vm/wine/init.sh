#!/bin/busybox sh
# /init of the wine VM test's initramfs: the kernel's HID stack, then the host's root (read-only over
# virtio-9p) made writable by an overlay with a tmpfs above it, and the scenarios run in a chroot
# there, with the host's own wine, udevd, X server and the cross-built programs.
/bin/busybox --install -s /bin
export PATH=/bin:/sbin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

fail() {
  echo "WINETEST RESULT: FAIL $*"
  poweroff -f
}

# In dependency order: insmod does not resolve them.
for m in $(cat /etc/zrv-modules); do
  insmod "/modules/$m.ko" || fail "insmod $m"
done
[ -e /dev/uhid ] || fail "no /dev/uhid"

mkdir -p /host /rw /newroot
mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=512000 host /host || fail "9p mount of the host's root"
mount -t tmpfs -o mode=0755 rw /rw
mkdir -p /rw/upper /rw/work
mount -t overlay overlay -o lowerdir=/host,upperdir=/rw/upper,workdir=/rw/work /newroot || fail "overlay"
r=/newroot
mount -t proc proc $r/proc
mount -t sysfs sysfs $r/sys
# devtmpfs has no /dev/fd, which bash's process substitution needs.
ln -sf /proc/self/fd /dev/fd
mount -o bind /dev $r/dev
mkdir -p $r/dev/pts $r/dev/shm
mount -t devpts devpts $r/dev/pts
mount -t tmpfs shm $r/dev/shm
mount -t tmpfs run $r/run
# /tmp stays the host's (a build may live there), written into the overlay; the host's wine
# server and X server sockets and locks there would only mislead the guest's.
rm -rf $r/tmp/.wine-* $r/tmp/.X11-unix $r/tmp/.X*-lock
cp /etc/zrv-wine.env $r/run/zrv-wine.env
echo "WINETEST uptime before the chroot: $(cut -d' ' -f1 /proc/uptime) s"
chroot $r /bin/bash "$(cat /etc/zrv-guest-script)"
echo "WINETEST uptime at the end: $(cut -d' ' -f1 /proc/uptime) s"
poweroff -f
