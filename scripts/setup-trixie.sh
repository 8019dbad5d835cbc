#!/usr/bin/env bash
# Makes the two Debian 13 roots of the Debian 13 stage (scripts/lib/trixie.sh names what they hold):
# the build root, where the tree is built with Debian 13's compiler and Qt and tested, and the clean
# root, a user's system in which our package is installed (in a throwaway copy, see
# scripts/in-trixie-root.sh). Each is made once with mmdebstrap and kept while its key matches; a
# root of an older key is removed when its successor is made. Prints how long each root took. Safe
# to run again, and at the same time as itself (a lock). Needs root.
#   setup-trixie.sh [build|clean]...   default: both
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/trixie.sh
[ $# -gt 0 ] || set -- build clean

missing=()
for p in mmdebstrap eatmydata; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update >/dev/null
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null
fi
mkdir -p "$trixie_cache"

make_root() {
  local name=$1 root t0=$SECONDS
  local -n list=trixie_${name}_packages
  root=$(trixie_root "$name")
  exec 9>"$trixie_cache/trixie-$name.lock"
  flock 9
  if [ -f "$root/.zrv-trixie-ready" ]; then
    echo "setup-trixie: $name root ready: $root"
    return 0
  fi
  rm -rf "$root.new"
  local include
  include=$(IFS=,; echo "${list[*]}")
  # eatmydata and unsafe I/O: a root that is thrown away after a crash needs no fsync. Documentation,
  # manual pages (but in the clean root, where the package check asks man for ours) and translations
  # are left out.
  local keep_man=(--dpkgopt='path-exclude=/usr/share/man/*')
  [ "$name" = clean ] && keep_man=()
  mmdebstrap --quiet --variant=apt --architectures=amd64 --include="$include" \
    --hook-dir=/usr/share/mmdebstrap/hooks/eatmydata --dpkgopt=force-unsafe-io \
    --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-include=/usr/share/doc/*/copyright' \
    "${keep_man[@]}" --dpkgopt='path-exclude=/usr/share/info/*' \
    --dpkgopt='path-exclude=/usr/share/locale/*' \
    "$trixie_suite" "$root.new" "deb $trixie_mirror $trixie_suite main"
  touch "$root.new/.zrv-trixie-ready"
  mv "$root.new" "$root"
  local old
  for old in "$trixie_cache/trixie-$name-"*; do
    [ "$old" = "$root" ] || [ ! -d "$old" ] || rm -rf "$old"
  done
  echo "setup-trixie: $name root made in $((SECONDS - t0)) s ($(du -sm "$root" | cut -f1) MB): $root"
  exec 9>&-
}

for name in "$@"; do
  case $name in
    build | clean) make_root "$name" ;;
    *) echo "usage: $0 [build|clean]..." >&2; exit 2 ;;
  esac
done
