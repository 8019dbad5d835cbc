#!/bin/sh
# CPU seconds that zrv-pc-demo uses per minute while connected and polling at 25 Hz, under a
# virtual X server: user + system time from /proc/<pid>/stat over a run after the connection.
# Usage: demo_cpu.sh <path to zrv-pc-demo> [seconds, default 60]
# With ZRV_DEMO_STEADY=1 in the environment the simulated driver keeps its readings still.
set -eu
demo=$1
seconds=${2:-60}
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 800x600x24" "$0" "$@"
fi
"$demo" 2>/dev/null &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
# Past start-up and the driver's plug-in one second in.
sleep 5
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
hz=$(getconf CLK_TCK)
before=$(ticks)
sleep "$seconds"
after=$(ticks)
threads=$(ls "/proc/$pid/task" | wc -l)
awk -v b="$before" -v a="$after" -v hz="$hz" -v s="$seconds" -v t="$threads" 'BEGIN {
  cpu = (a - b) / hz
  printf "zrv-pc-demo: %.2f CPU s over %d s = %.2f CPU s per minute = %.2f %% of one core (%d threads)\n",
         cpu, s, cpu * 60 / s, 100 * cpu / s, t
}'
