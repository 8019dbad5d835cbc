#!/usr/bin/env bash
# The arm64 stage of the test command: makes (or reuses) the arm64 build root, cross-builds the
# programs, the tests and the Debian package for Debian arm64 there, runs the whole CTest suite under
# qemu-user and checks the package. Prints the time of each step. Needs root.
set -uo pipefail
cd "$(dirname "$0")/.."
STAGE_NAME=arm64
# shellcheck source=scripts/lib/root-stage.sh
source scripts/lib/root-stage.sh

build() { in_root sh -c 'cmake --preset arm64 >/dev/null && cmake --build --preset arm64'; }
package() {
  in_root sh -c 'rm -f build/arm64/package/*.deb && cd build/arm64 && cpack -G DEB >/dev/null' &&
    bash tests/packaging/check-package-arm64.sh
}

step "build root" bash scripts/setup-arm64.sh
[ $rc -eq 0 ] && step "build" build
if [ $rc -eq 0 ]; then
  step "tests under qemu-user" in_root ctest --preset arm64
  step "Debian package" package
fi
stage_done
