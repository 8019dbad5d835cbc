# Sourced by scripts/setup-trixie.sh and scripts/in-trixie-root.sh: the two Debian 13 roots, what
# each holds, and where it lives. A root's directory name carries a hash of its package list and of
# the scripts that make it, so a root made from anything else is never used by mistake.
#   ZRV_TRIXIE_CACHE  the folder of the roots (default /var/cache/zrv-pc)
trixie_suite=trixie
trixie_mirror=http://deb.debian.org/debian
trixie_cache=${ZRV_TRIXIE_CACHE:-/var/cache/zrv-pc}

# The build root: Debian 13's compiler and Qt, and what the whole CTest suite needs, window tests
# included.
trixie_build_packages=(
  g++ make cmake pkg-config ccache
  qt6-base-dev qt6-base-dev-tools libudev-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  # the window tests on an X server, with the same fonts as the Debian 12 build machine
  xvfb xauth fonts-wine fonts-dejavu-core
)
# The clean root: a Debian 13 system as a user has it, plus what the package check starts the
# package with (lintian, an X server and xwininfo, the desktop entry's and the metainfo's
# validators, man, and python3 and mount for its stand-in udevd socket; mount is no longer
# essential in Debian 13, though every installed system has it).
trixie_clean_packages=(
  lintian
  xvfb xauth x11-utils desktop-file-utils appstream man-db python3 mount
)

# The key of root $1 (build or clean): the release, the mirror, its package list and the script that
# makes it (so a change to the other root's list leaves this one be).
trixie_key() {
  local -n list=trixie_$1_packages
  { printf '%s\n' "$trixie_suite" "$trixie_mirror" "$1" "${list[@]}"
    cat "$(dirname "${BASH_SOURCE[0]}")/../setup-trixie.sh"; } | sha256sum | cut -c1-16
}
trixie_root() { echo "$trixie_cache/trixie-$1-$(trixie_key "$1")"; }
