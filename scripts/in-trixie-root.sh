#!/usr/bin/env bash
# Runs a command in one of the Debian 13 roots (scripts/setup-trixie.sh makes them) from the top of
# this tree, e.g. `sudo bash scripts/in-trixie-root.sh build ctest --test-dir build/trixie -R Modbus`.
# The tree is mounted at its own path inside, so build trees and compile commands name the same
# files inside and out; /proc, /sys and /dev are the machine's. The mounts live in a mount namespace
# of their own and go with it. Needs root.
#   in-trixie-root.sh build COMMAND [ARG...]                 in the build root
#   in-trixie-root.sh clean --throwaway COMMAND [ARG...]     in a copy of the clean root laid over
#       it (overlayfs), thrown away afterwards: what the command installs or removes is gone with it
#   CCACHE_DIR  shared with the build root when set; otherwise a cache beside the roots
set -euo pipefail
usage() { echo "usage: $0 build|clean [--throwaway] COMMAND [ARG...]" >&2; exit 2; }
[ $# -ge 2 ] || usage
top=$(cd "$(dirname "$0")/.." && pwd)
source "$top/scripts/lib/trixie.sh"
name=$1
shift
case $name in build | clean) ;; *) usage ;; esac
throwaway=""
if [ "$1" = --throwaway ]; then throwaway=yes; shift; fi
[ $# -gt 0 ] || usage
root=$(trixie_root "$name")
[ -f "$root/.zrv-trixie-ready" ] || { echo "no Debian 13 $name root at $root: run scripts/setup-trixie.sh" >&2; exit 1; }
ccache_dir=${CCACHE_DIR:-$trixie_cache/trixie-ccache}
mkdir -p "$ccache_dir"

# Only these variables cross over; the build machine's PATH and settings stay outside.
env_in=(PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}"
  CCACHE_DIR="$ccache_dir" CCACHE_BASEDIR="${CCACHE_BASEDIR:-$top}")
for v in CTEST_OUTPUT_ON_FAILURE DISPLAY QT_QPA_PLATFORM CMAKE_BUILD_PARALLEL_LEVEL; do
  [ -n "${!v:-}" ] && env_in+=("$v=${!v}")
done

scratch=""
if [ -n "$throwaway" ]; then
  scratch=$(mktemp -d "$trixie_cache/trixie-$name-throwaway.XXXXXX")
  trap 'rm -rf "$scratch"' EXIT
fi

# Not exec'd: the throwaway layer is removed once the namespace, and with it the overlay, is gone.
unshare --mount --propagation private -- bash -c '
  set -e
  root=$1 top=$2 ccache=$3 scratch=$4
  shift 4
  if [ -n "$scratch" ]; then
    mkdir "$scratch/upper" "$scratch/work" "$scratch/merged"
    mount -t overlay overlay -o "lowerdir=$root,upperdir=$scratch/upper,workdir=$scratch/work" "$scratch/merged"
    root=$scratch/merged
  fi
  mount -t proc proc "$root/proc"
  mount --rbind /sys "$root/sys"
  mount --rbind /dev "$root/dev"
  mkdir -p "$root$top" "$root$ccache"
  mount --bind "$top" "$root$top"
  mount --bind "$ccache" "$root$ccache"
  exec chroot "$root" /usr/bin/env -i "$@"
' bash "$root" "$top" "$ccache_dir" "$scratch" "${env_in[@]}" bash -c 'cd "$0" && exec "$@"' "$top" "$@"
