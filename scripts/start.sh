#!/usr/bin/env bash
# Sets everything up, builds, and starts the tool on the real Linux HID backend.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target zrv-pc
exec ./build/default/apps/zrv-pc/zrv-pc "$@"
