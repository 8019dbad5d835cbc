#!/usr/bin/env bash
# The Debian 13 stage of the test command: makes (or reuses) the Debian 13 roots, builds the tree
# there as a distribution would (no preset, so warnings are not errors; benchmarks left out) with
# Debian 13's compiler and Qt, runs the whole CTest suite there, window tests included, and checks
# our package (the Debian 12 one, from build/default/package) on Debian 13: installed with apt in a
# throwaway copy of a clean Debian 13 system, the programs started, Debian 13's lintian, removed and
# purged. Prints the time of each step. Needs root.
#   test-trixie.sh [PACKAGE.deb]
set -uo pipefail
cd "$(dirname "$0")/.."
STAGE_NAME=trixie
# shellcheck source=scripts/lib/root-stage.sh
source scripts/lib/root-stage.sh

# mmdebstrap's output goes to a log, shown when making a root fails.
roots() {
  mkdir -p build
  local r=0
  bash scripts/setup-trixie.sh >build/setup-trixie-stage.log 2>&1 || r=$?
  grep '^setup-trixie:' build/setup-trixie-stage.log
  [ $r -eq 0 ] || tail -n 40 build/setup-trixie-stage.log
  return $r
}
build() {
  in_root build sh -c '
    echo "$(g++ --version | head -n 1); Qt $(qtpaths6 --qt-version 2>/dev/null || echo ?)"
    cmake -S . -B build/trixie -DCMAKE_BUILD_TYPE=Release -DZRV_BUILD_BENCH=OFF \
      -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null && cmake --build build/trixie -j 2'
}
tests() { in_root build ctest --test-dir build/trixie -j 2 --timeout 300; }
# The package the Debian 12 stage checked; made from build/default when this stage runs alone.
package() {
  local deb=${1:-}
  if [ -z "$deb" ]; then
    deb=$(ls build/default/package/zrv-pc_*_amd64.deb 2>/dev/null | head -n 1)
    if [ -z "$deb" ]; then
      [ -f build/default/CMakeCache.txt ] || { echo "no build/default: build it first (cmake --preset default)"; return 1; }
      (cd build/default && cpack -G DEB >/dev/null) || return 1
      deb=$(ls build/default/package/zrv-pc_*_amd64.deb | head -n 1)
    fi
  fi
  # The roots keep no package lists (mmdebstrap drops them): they are fetched for each check, so
  # apt resolves against what Debian 13 carries now.
  in_root clean --throwaway sh -c 'apt-get update -qq && bash tests/packaging/check-package.sh "$1"' sh "$deb"
}

step "roots (build, clean)" roots
if [ $rc -eq 0 ]; then
  step "build (plain Release)" build
  [ $rc -eq 0 ] && step "tests" tests
  step "our package on Debian 13" package "${1:-}"
fi
stage_done
