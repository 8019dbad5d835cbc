#!/usr/bin/env bash
# Sets everything up, builds, and runs every test suite: the unit, window and end-to-end tests, the
# same tests under AddressSanitizer + UndefinedBehaviorSanitizer and the threaded ones under
# ThreadSanitizer, a short fuzzing run, the real kernel HID stack in a virtual machine, the Debian
# package, a plain release build with all of the tests and the package again on Debian 13, all of
# the tests and the package again for Debian arm64, and the Windows build with its tests under wine
# and its zip. Exits non-zero when any of them fails.
set -uo pipefail
cd "$(dirname "$0")/.."
export CTEST_OUTPUT_ON_FAILURE=1
bash scripts/setup.sh || exit 1
# The Debian 13 roots are made (or found ready) while the stages before theirs run; their stage
# waits for them (setup-trixie.sh holds a lock while it makes a root).
mkdir -p build
bash scripts/setup-trixie.sh >build/setup-trixie.log 2>&1 &
trixie_setup=$!

passed=0
failed=0
failures=()
start_all=$SECONDS
stage() {
  local name=$1
  shift
  echo
  echo "=== $name ==="
  local t0=$SECONDS
  if "$@"; then
    passed=$((passed + 1))
    echo "=== $name: passed in $((SECONDS - t0)) s ==="
  else
    failed=$((failed + 1))
    failures+=("$name")
    echo "=== $name: FAILED after $((SECONDS - t0)) s ==="
  fi
}

build_default() { cmake --preset default >/dev/null && cmake --build --preset default; }
tests_default() { ctest --preset default; }
# Debian 13: its roots, made in the background since the start, then the stage itself.
trixie() {
  wait "$trixie_setup" || echo "(making the Debian 13 roots in the background failed; once more:)"
  grep '^setup-trixie:' build/setup-trixie.log || true
  bash scripts/test-trixie.sh
}
build_asan() { cmake --preset asan >/dev/null && cmake --build --preset asan; }
tests_asan() { ctest --preset asan; }
# The threaded suites (device readers, controller, end-to-end window, the recorder's file thread,
# the command line) under ThreadSanitizer.
tsan_suites=(test_link test_session test_e2e test_soak test_record test_cli)
build_tsan() {
  cmake --preset tsan >/dev/null || return 1
  local targets=()
  for t in "${tsan_suites[@]}"; do
    grep -q "^$t:" build/tsan/Makefile 2>/dev/null && targets+=("$t")
  done
  cmake --build --preset tsan --target "${targets[@]}"
}
tests_tsan() {
  local rc=0 exe
  for t in "${tsan_suites[@]}"; do
    exe=$(find build/tsan/tests -type f -name "$t" -perm -u+x | head -n 1)
    [ -n "$exe" ] || continue
    echo "-- $t under ThreadSanitizer"
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp" \
      QT_QPA_PLATFORM=offscreen "$exe" \
      --gtest_brief=1 || rc=1
  done
  return $rc
}

stage "build" build_default
stage "tests" tests_default
# Modbus RTU peers nobody here wrote, on pseudo-terminals: a master reads the simulated driver, a
# server answers our client.
modbus_peers() {
  (. scripts/lib/stage.sh && ensure_packages mbpoll python3-pymodbus python3-serial python3-serial-asyncio socat) &&
    timeout 120 bash tests/peers/check-modbus-peers.sh build/default
}
stage "Modbus peers (mbpoll, pymodbus)" modbus_peers
stage "build (ASan+UBSan)" build_asan
stage "tests (ASan+UBSan)" tests_asan
stage "build (TSan)" build_tsan
stage "tests (TSan)" tests_tsan
stage "fuzzing" bash scripts/fuzz.sh "${ZRV_FUZZ_SECONDS:-45}"
stage "virtual machine (real kernel HID stack)" bash vm/run-vm-test.sh
stage "Debian package" bash tests/packaging/check-package.sh
# Debian 13 (current stable): a plain release build, configured as a distribution would (no preset,
# so warnings are not errors), with its compiler and Qt; the whole CTest suite there; and the
# package above installed, started, linted and purged on a clean Debian 13 system.
stage "Debian 13 (plain Release build, tests, package)" trixie
# Debian arm64 (Raspberry Pi, ARM laptops): a cross build in a Debian root of its own, the whole CTest
# suite under qemu-user, and the arm64 package.
stage "arm64 (cross build, tests under qemu-user, package)" bash scripts/test-arm64.sh
# Windows x64: Qt for Windows built once into a cache, a mingw-w64 cross build, the CTest suite under
# wine, and the zip with its DLL check.
stage "Windows (cross build, tests under wine, zip)" bash scripts/test-windows.sh

echo
echo "total time: $((SECONDS - start_all)) s"
[ $failed -eq 0 ] || echo "failed stages: ${failures[*]}"
echo "stages: $passed passed, $failed failed"
[ $failed -eq 0 ]
