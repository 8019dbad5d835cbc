#!/bin/sh
# The demo's CPU against the four-label yardstick, both running at the same time, each under its
# own virtual X server: whatever the host does to this machine's speed meanwhile (other guests,
# frequency changes) touches both alike, so their ratio holds still where figures taken one after
# the other drift by a third from run to run.
# Usage: demo_vs_yardstick.sh <path to zrv-pc-demo> <path to qt_yardstick> [seconds, default 20] [runs, default 5]
# ZRV_DEMO_STEADY=1 in the environment keeps the driver's readings still, as for demo_cpu.sh.
set -eu
demo=$1
yardstick=$2
span=${3:-20}
runs=${4:-5}

# Run time in ns, summed over the threads of process $1.
runtime() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ns += $1} END {printf "%d\n", ns}'; }

free_display() {
  n=$1
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  echo "$n"
}

i=1
while [ "$i" -le "$runs" ]; do
  d1=$(free_display 90)
  Xvfb ":$d1" -screen 0 800x600x24 >/dev/null 2>&1 &
  x1=$!
  d2=$(free_display $((d1 + 1)))
  Xvfb ":$d2" -screen 0 800x600x24 >/dev/null 2>&1 &
  x2=$!
  sleep 1
  DISPLAY=":$d1" "$demo" >/dev/null 2>&1 &
  dp=$!
  DISPLAY=":$d2" "$yardstick" labels 4 >/dev/null 2>&1 &
  yp=$!
  # Past start-up and the driver's plug-in one second in.
  sleep 5
  a0=$(runtime $dp)
  b0=$(runtime $yp)
  sleep "$span"
  a1=$(runtime $dp)
  b1=$(runtime $yp)
  kill $dp $yp 2>/dev/null || true
  wait $dp $yp 2>/dev/null || true
  kill $x1 $x2 2>/dev/null || true
  wait $x1 $x2 2>/dev/null || true
  awk -v i="$i" -v a0="$a0" -v a1="$a1" -v b0="$b0" -v b1="$b1" -v s="$span" 'BEGIN {
    d = (a1 - a0) / 1e7 / s; y = (b1 - b0) / 1e7 / s
    printf "run %d: demo %.2f %% of one core, yardstick (4 plain labels) %.2f %%, ratio %.2f\n", i, d, y, d / y
  }'
  i=$((i + 1))
done
