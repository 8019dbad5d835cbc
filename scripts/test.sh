#!/usr/bin/env bash
# Sets everything up, builds, and runs every test suite. Exits non-zero when any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

stage() { echo; echo "=== $* ==="; }

stage "build (default)"
cmake --preset default >/dev/null
cmake --build --preset default

stage "tests (default)"
ctest --preset default

if [ -f scripts/test-extra.sh ]; then
  bash scripts/test-extra.sh
fi
