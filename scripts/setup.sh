#!/usr/bin/env bash
# Installs every Debian package the build, the tool and the tests need. Safe to run again.
set -euo pipefail
packages=(
  build-essential cmake pkg-config git
  qt6-base-dev qt6-base-dev-tools libgl1-mesa-dev
  libudev-dev udev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  xvfb xauth x11-apps x11-utils desktop-file-utils imagemagick xdotool fonts-wine fonts-dejavu-core
  lintian appstream man-db
  qemu-system-x86 busybox-static cpio kmod
  libhidapi-dev libhidapi-hidraw0 python3
  valgrind dpkg-dev file
  mbpoll python3-pymodbus python3-serial python3-serial-asyncio socat
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
echo "setup: all packages present"
