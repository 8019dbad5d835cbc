#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer) and gives each
# a short run from the seed corpus. Any crash, leak or sanitizer report fails the run.
# Usage: scripts/fuzz.sh [seconds per target, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_reply fuzz_descriptor fuzz_sysfs fuzz_modbus_reply
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in reply descriptor sysfs modbus_reply; do
  mkdir -p "$work/$target"
  cp fuzz/corpus/$target/* "$work/$target/"
  echo "fuzzing $target for ${seconds}s"
  (cd "$work" && "$OLDPWD/build/fuzz/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=1024 \
      -print_final_stats=1 "$work/$target" 2>&1 | tail -n 12 | grep -E 'stat::number_of_executed_units|Done|ERROR|SUMMARY' || true)
  if ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* >/dev/null 2>&1; then
    echo "fuzz_$target found a failing input:"; ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* 2>/dev/null
    exit 1
  fi
done
echo "fuzzing passed"
