#!/usr/bin/env bash
# Checks the arm64 Debian package of a cross build: its file name and Architecture field name arm64,
# every program in it is an aarch64 ELF, Depends names the libraries the programs link, the udev rule
# is the same as amd64's, and lintian has nothing to say (when tests/packaging/lintian-check.sh is
# there). With the arm64 build root present (scripts/setup-arm64.sh) it also installs the package
# there and starts the installed tool under qemu-user on an Xvfb display of this machine, the way
# the desktop entry does. Needs root for that last part.
#   check-package-arm64.sh [DEB]   default: build/arm64/package/zrv-pc_*_arm64.deb
set -euo pipefail
cd "$(dirname "$0")/../.."
fail() { echo "arm64 package check FAILED: $*"; exit 1; }

deb=${1:-$(ls build/arm64/package/zrv-pc_*_arm64.deb 2>/dev/null | head -n 1)}
[ -n "$deb" ] && [ -f "$deb" ] || fail "no package built"
echo "package: $deb"

[[ "$(basename "$deb")" =~ ^zrv-pc_[0-9][^_]*_arm64\.deb$ ]] || fail "file name is not zrv-pc_VERSION_arm64.deb"
[ "$(dpkg-deb -f "$deb" Package)" = zrv-pc ] || fail "Package is not zrv-pc"
arch=$(dpkg-deb -f "$deb" Architecture)
[ "$arch" = arm64 ] || fail "Architecture is '$arch', not arm64"

unpacked=$(mktemp -d)
cleanup() { rm -rf "$unpacked"; }
trap cleanup EXIT
dpkg-deb -x "$deb" "$unpacked"

# Every ELF file must be for aarch64, and the three programs must be among them.
elves=0
while IFS= read -r -d '' f; do
  LC_ALL=C readelf -h "$f" >/dev/null 2>&1 || continue
  elves=$((elves + 1))
  machine=$(LC_ALL=C readelf -h "$f" | sed -n 's/^ *Machine: *//p')
  [ "$machine" = AArch64 ] || fail "${f#"$unpacked"} is for '$machine', not AArch64"
  file -b "$f" | grep -q 'ELF 64-bit LSB .*ARM aarch64' || fail "${f#"$unpacked"}: $(file -b "$f")"
done < <(find "$unpacked" -type f -print0)
for program in zrv-pc zrv-pc-demo zrv-uhid-driver; do
  [ -x "$unpacked/usr/bin/$program" ] || fail "missing /usr/bin/$program"
  file -b "$unpacked/usr/bin/$program" | grep -q 'interpreter /lib/ld-linux-aarch64.so.1' \
    || fail "/usr/bin/$program does not load with the arm64 dynamic loader"
done
echo "programs: $elves ELF files, all AArch64"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
names=$(tr ',|' '\n\n' <<<"$depends" | sed 's/^ *//; s/[ (].*//')
for lib in libqt6widgets6 libqt6gui6 libqt6core6 libudev1 libc6 libstdc++6; do
  grep -qxF "$lib" <<<"$names" || fail "Depends lacks $lib"
done
if grep -q ':' <<<"$names"; then fail "Depends names an architecture"; fi

rule=$(find "$unpacked" -path '*/udev/rules.d/70-zrv-pc.rules' | head -n 1)
[ -n "$rule" ] || fail "missing the udev rule"
cmp -s "$rule" packaging/70-zrv-pc.rules || fail "the udev rule differs from packaging/70-zrv-pc.rules"

if [ -f tests/packaging/lintian-check.sh ]; then
  bash tests/packaging/lintian-check.sh "$deb" || fail "lintian"
fi

root=${ZRV_ARM64_ROOT:-/var/cache/zrv-pc/arm64-root}
if [ ! -f "$root/.zrv-arm64-stamp" ]; then
  echo "arm64 package check passed: name, architecture, programs, Depends, udev rule (no arm64 root to install in)"
  exit 0
fi

# Install into the arm64 root: dpkg refuses the package unless the arm64 libraries satisfy Depends.
cp "$deb" "$root/tmp/zrv-pc-arm64.deb"
bash scripts/in-arm64-root.sh dpkg -i /tmp/zrv-pc-arm64.deb >/dev/null || fail "dpkg -i in the arm64 root"
rm -f "$root/tmp/zrv-pc-arm64.deb"

# The installed tool, run by qemu-user, opens its window on this machine's Xvfb (X's abstract
# socket is shared with the root, which has its own file system only).
display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; cleanup' EXIT
sleep 1
DISPLAY=$display bash scripts/in-arm64-root.sh qemu-aarch64-static /usr/bin/zrv-pc \
  >/tmp/zrv-pc-arm64-installed.log 2>&1 &
app=$!
found=""
for _ in $(seq 1 150); do
  if DISPLAY=$display xwininfo -root -tree 2>/dev/null | grep -q 'Kalvor ZRV-PC - DC motor driver  1.02'; then
    found=yes; break
  fi
  kill -0 $app 2>/dev/null || break
  sleep 0.2
done
kill $app 2>/dev/null || true
wait $app 2>/dev/null || true
[ -n "$found" ] || { cat /tmp/zrv-pc-arm64-installed.log; fail "the installed arm64 tool did not open its window"; }
echo "arm64 package check passed: name, architecture, programs, Depends, udev rule, install, window"
