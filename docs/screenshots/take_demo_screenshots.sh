#!/bin/sh
# Screenshots of zrv-pc-demo, connected, on every page, under a virtual X server (xdotool and
# ImageMagick's import). The Recorder page is shown with a fault now and then, so that a fault
# capture is saved, then recording; its files go to a scratch home folder. The RS485 link page is
# shown after a link test on the simulated driver's RS485 line; the USB column goes on moving with
# the readings, the RS485 column keeps what the test read.
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
kill $pid 2>/dev/null || true
wait $pid 2>/dev/null || true

# The Recorder page, a fault every 6 s. Once the first capture is saved, the pointer goes on the
# chart; then Record, the proposed file name taken as it is.
scratch=$(mktemp -d)
trap 'kill $pid 2>/dev/null || true; rm -rf "$scratch"' EXIT
mkdir -p "$scratch/Documents"
HOME=$scratch ZRV_DEMO_PAGE=2 ZRV_DEMO_FAULT_EVERY_S=6 "$demo" &
pid=$!
window=$(xdotool search --sync --pid $pid --name "DC motor driver" | head -n 1)
for _ in $(seq 1 60); do
  [ -n "$(ls "$scratch"/.local/share/*/captures 2>/dev/null)" ] && break
  sleep 0.5
done
sleep 0.3
xdotool mousemove --window "$window" 470 250
sleep 0.5
import -window "$window" "$out/demo-recorder.png"
xdotool mousemove --window "$window" 120 349 click 1
sleep 1.5
xdotool key Return
sleep 4.2
xdotool mousemove --window "$window" 560 300
sleep 0.5
import -window "$window" "$out/demo-recorder-recording.png"
kill $pid 2>/dev/null || true
wait $pid 2>/dev/null || true

# The "RS485 link" page: "Test link" on the simulated driver's line, chosen first.
ZRV_DEMO_PAGE=3 "$demo" &
pid=$!
window=$(xdotool search --sync --pid $pid --name "DC motor driver" | head -n 1)
# The driver is plugged in after one second; its settings come into the fields.
sleep 3
xdotool mousemove --window "$window" 50 216 click 1
sleep 4
xdotool mousemove --window "$window" 670 430
sleep 0.3
import -window "$window" "$out/rs485-link.png"
echo "written to $out"
