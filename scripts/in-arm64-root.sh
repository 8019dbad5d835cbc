#!/usr/bin/env bash
# Runs a command in the arm64 build root (scripts/setup-arm64.sh makes it) from the top of this tree,
# e.g. `sudo bash scripts/in-arm64-root.sh ctest --preset arm64 -R Modbus`. The tree is mounted at
# its own path inside, so build trees and compile commands name the same files inside and out; the
# mounts live in a mount namespace of their own and go with it. Needs root.
#   ZRV_ARM64_ROOT  the root (default /var/cache/zrv-pc/arm64-root)
#   CCACHE_DIR      shared with the root when set; otherwise a cache beside the root
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 COMMAND [ARG...]" >&2; exit 2; }
top=$(cd "$(dirname "$0")/.." && pwd)
root=${ZRV_ARM64_ROOT:-/var/cache/zrv-pc/arm64-root}
ccache_dir=${CCACHE_DIR:-$(dirname "$root")/arm64-ccache}
[ -f "$root/.zrv-arm64-stamp" ] || { echo "no arm64 root at $root: run scripts/setup-arm64.sh" >&2; exit 1; }
mkdir -p "$ccache_dir"

# Only these variables cross over; the build machine's PATH and settings stay outside.
env_in=(PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}"
  CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_DIR="$ccache_dir" CCACHE_BASEDIR="${CCACHE_BASEDIR:-$top}")
for v in CTEST_OUTPUT_ON_FAILURE DISPLAY QT_QPA_PLATFORM; do
  [ -n "${!v:-}" ] && env_in+=("$v=${!v}")
done

exec unshare --mount --propagation private -- bash -c '
  set -e
  root=$1 top=$2 ccache=$3
  shift 3
  mount -t proc proc "$root/proc"
  # Pseudo-terminals of its own: the serial port tests and the simulated RS485 line open them.
  mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$root/dev/pts"
  mkdir -p "$root$top" "$root$ccache"
  mount --bind "$top" "$root$top"
  mount --bind "$ccache" "$root$ccache"
  exec chroot "$root" /usr/bin/env -i "$@"
' bash "$root" "$top" "$ccache_dir" "${env_in[@]}" bash -c 'cd "$0" && exec "$@"' "$top" "$@"
