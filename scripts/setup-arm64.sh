#!/usr/bin/env bash
# Makes the Debian 12 root in which the arm64 cross build and its tests run: an amd64 system with
# arm64 as a second dpkg architecture, Debian's cross compiler, the arm64 development packages and
# qemu-user. It is a root of its own, not the build machine: an arm64 library must be installed at
# exactly the version of its amd64 twin (Multi-Arch: same), so installing them here would move the
# machine's amd64 packages to whatever the mirror carries now. Safe to run again: a root that is
# there and made from the same package list is kept. Needs root.
#   ZRV_ARM64_ROOT  where the root lives (default /var/cache/zrv-pc/arm64-root)
set -euo pipefail
root=${ZRV_ARM64_ROOT:-/var/cache/zrv-pc/arm64-root}
suite=bookworm

packages=(
  # the build machine's side: build tools, the cross compiler, Qt's moc/uic/rcc, the emulator
  cmake make ccache pkg-config file dpkg-dev crossbuild-essential-arm64 qt6-base-dev-tools
  qemu-user-static
  # the same fonts as the build machine, for the window tests
  fonts-wine fonts-dejavu-core
  # the target's side
  qt6-base-dev:arm64 libgl1-mesa-dev:arm64 libudev-dev:arm64
  libgtest-dev:arm64 libgmock-dev:arm64 libbenchmark-dev:arm64
)

host_tools=(mmdebstrap eatmydata)
missing=()
for p in "${host_tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

stamp=$(printf '%s\n' "$suite" "${packages[@]}" | sha256sum | cut -c1-16)
mkdir -p "$(dirname "$root")"
exec 9>"$root.lock"
flock 9
if [ "$(cat "$root/.zrv-arm64-stamp" 2>/dev/null)" = "$stamp" ]; then
  echo "setup-arm64: root ready: $root"
  exit 0
fi

# The mirror the build machine uses; Debian's own when it has none of its own.
sources=(http://deb.debian.org/debian)
for f in /etc/apt/sources.list.d/debian.sources /etc/apt/sources.list; do
  if [ -s "$f" ] && grep -qE '^(deb |Types:)' "$f"; then sources=("$f"); break; fi
done

include=$(IFS=,; echo "${packages[*]}")
rm -rf "$root.new"
# eatmydata and unsafe I/O: a root that is thrown away after a crash needs no fsync. Documentation,
# manual pages, translations and the emulators of other machines are left out.
mmdebstrap --variant=apt --architectures=amd64,arm64 --include="$include" \
  --hook-dir=/usr/share/mmdebstrap/hooks/eatmydata --dpkgopt=force-unsafe-io \
  --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-include=/usr/share/doc/*/copyright' \
  --dpkgopt='path-exclude=/usr/share/man/*' --dpkgopt='path-exclude=/usr/share/info/*' \
  --dpkgopt='path-exclude=/usr/share/locale/*' \
  --dpkgopt='path-exclude=/usr/bin/qemu-*' --dpkgopt='path-include=/usr/bin/qemu-aarch64-static' \
  "$suite" "$root.new" "${sources[@]}"
echo "$stamp" >"$root.new/.zrv-arm64-stamp"
rm -rf "$root"
mv "$root.new" "$root"
echo "setup-arm64: root made: $root"
