#!/bin/sh
# Screenshots of zrv-pc-demo, connected, on both pages, under a virtual X server.
# Usage: take_demo_screenshots.sh <path to zrv-pc-demo> [output folder]
set -eu
demo=$1
out=${2:-$(dirname "$0")}
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 800x600x24" "$0" "$@"
fi
"$demo" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
# The driver is plugged in after one second; give the readings time to move.
sleep 4
window=$(xdotool search --sync --pid $pid --name "DC motor driver" | head -n 1)
import -window "$window" "$out/demo-io-status.png"
# The "RS485 Modbus" tab, then "Read" to bring the driver's settings into the lists.
xdotool mousemove --window "$window" 115 133 click 1
sleep 1
xdotool mousemove --window "$window" 67 377 click 1
sleep 2
import -window "$window" "$out/demo-modbus.png"
echo "written to $out"
