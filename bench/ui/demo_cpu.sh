#!/bin/sh
# CPU seconds that zrv-pc-demo uses per minute while connected and polling at 25 Hz, under a
# virtual X server: the scheduler's run time of all its threads (/proc/<pid>/task/*/schedstat,
# nanoseconds) over a run after the connection, and how often its threads were put on a CPU.
# Usage: demo_cpu.sh <path to zrv-pc-demo> [seconds, default 60] [path to qt_yardstick]
# With ZRV_DEMO_STEADY=1 in the environment the simulated driver keeps its readings still.
# The demo is measured on "IO Status", then on the Recorder page (ZRV_DEMO_SKIP_RECORDER=1
# leaves that out) and on the "RS485 link" page, idle and testing (ZRV_DEMO_SKIP_RS485=1).
# Given qt_yardstick, it then measures that yardstick the same way, ZRV_YARDSTICK_SECONDS (default
# 30) per case: what a bare Qt window costs here at 25 repaints a second, with none of the tool.
set -eu
demo=$1
seconds=${2:-60}
yardstick=${3:-}
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 800x600x24" "$0" "$@"
fi

# Run time in ns and times put on a CPU, summed over the threads of process $1.
runtime() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ns += $1; n += $3} END {printf "%d %d\n", ns, n}'; }

# measure <label> <settle seconds> <seconds> <command...>
measure() {
  label=$1 settle=$2 span=$3
  shift 3
  "$@" 2>/dev/null &
  pid=$!
  sleep "$settle"
  set -- $(runtime "$pid")
  ns0=$1 n0=$2
  sleep "$span"
  set -- $(runtime "$pid")
  ns1=$1 n1=$2
  threads=$(ls "/proc/$pid/task" | wc -l)
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  awk -v l="$label" -v a="$ns0" -v b="$ns1" -v na="$n0" -v nb="$n1" -v s="$span" -v t="$threads" 'BEGIN {
    cpu = (b - a) / 1e9
    printf "%s: %.2f CPU s over %d s = %.2f CPU s per minute = %.2f %% of one core (%d threads, %.0f runs on a CPU per second)\n",
           l, cpu, s, cpu * 60 / s, 100 * cpu / s, t, (nb - na) / s
  }'
}

# Past start-up and the driver's plug-in one second in.
measure zrv-pc-demo 5 "$seconds" "$demo"
# The same on the Recorder page, every series charted (ZRV_DEMO_PAGE=2).
if [ "${ZRV_DEMO_SKIP_RECORDER:-0}" != 1 ]; then
  measure "zrv-pc-demo on the Recorder page" 5 "$seconds" env ZRV_DEMO_PAGE=2 "$demo"
fi

# On the "RS485 link" page (ZRV_DEMO_PAGE=3), idle and with one link test after another on the
# simulated driver's line.
if [ "${ZRV_DEMO_SKIP_RS485:-0}" != 1 ]; then
  measure "zrv-pc-demo on the RS485 link page" 5 "$seconds" env ZRV_DEMO_PAGE=3 "$demo"
  measure "zrv-pc-demo on the RS485 link page, testing" 5 "$seconds" env ZRV_DEMO_PAGE=3 ZRV_DEMO_RS485_TESTING=1 "$demo"
fi

if [ -n "$yardstick" ]; then
  span=${ZRV_YARDSTICK_SECONDS:-30}
  measure "yardstick, Qt window, 40 ms timer, nothing repainted" 3 "$span" "$yardstick" idle
  measure "yardstick, Qt window, 1 plain label repainted every 40 ms" 3 "$span" "$yardstick" labels 1
  measure "yardstick, Qt window, 4 plain labels repainted every 40 ms" 3 "$span" "$yardstick" labels 4
  measure "yardstick, bare Qt window, 1 text drawn and flushed every 40 ms" 3 "$span" "$yardstick" window
fi
