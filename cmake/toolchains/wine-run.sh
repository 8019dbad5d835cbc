#!/usr/bin/env bash
# Runs a Windows program of the cross build under wine (the CMake emulator). $1: the folders of the
# DLLs it needs, separated by colons; the rest: the program and its arguments.
#
# wine finds DLLs on the Windows PATH, which WINEPATH extends. wine passes no QT_* variable to a
# program, but passes WINEQT_* under the name without WINE, so the platform plugin is chosen there:
# offscreen, as on Linux, with wine's font folder (Tahoma, the window's font, is there) as its
# fonts; it would otherwise look only in Qt's own folder.
# Qt's messages go to stderr instead of the debugger channel, and the install dialogs for .NET and
# the web control stay away: nothing here needs them. Each can be overridden from outside.
#
# A test program that prints GoogleTest's closing "[  PASSED  ]" line and then does not end is
# ended: ZRV_WINE_EXIT_HANG (seconds, default 8; 0 turns it off) bounds that wait. The program's
# threads are shown (winedbg's backtraces, on stderr), the program is killed, and the run ends with
# status 0, as every case in it passed, and the line "wine-run: exit hang" for the Windows stage to
# count. (What looked like such a hang was wine's desktop process holding the output pipe; the
# Windows stage now starts the desktop itself. This guard shows any other.)
set -u
dirs=$1
shift
export WINEPATH="${dirs//:/;}${WINEPATH:+;$WINEPATH}"
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES-mscoree,mshtml=}
export WINEDEBUG=${WINEDEBUG--all}
export WINEQT_QPA_PLATFORM=${WINEQT_QPA_PLATFORM-offscreen}
export WINEQT_QPA_FONTDIR=${WINEQT_QPA_FONTDIR-'Z:\usr\share\wine\fonts'}
export WINEQT_FORCE_STDERR_LOGGING=${WINEQT_FORCE_STDERR_LOGGING-1}
grace=${ZRV_WINE_EXIT_HANG-8}
[ "$grace" = 0 ] && exec wine "$@"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkfifo "$scratch/out"
# What the program prints passes through unchanged and is kept, to see its closing line.
tee "$scratch/log" <"$scratch/out" &
tee_pid=$!
wine "$@" <&0 >"$scratch/out" &
pid=$!
# The watcher: $grace seconds after the closing line, a program still running has its threads
# written down and is killed. Nothing of the watcher's holds this script's output open: a sleep
# left behind when it is stopped would keep CTest waiting for the end of the output.
exe=$(basename "${1//\\//}")
(
  until grep -q '^\[  PASSED  \]' "$scratch/log" 2>/dev/null; do sleep 0.5; done
  sleep "$grace"
  kill -0 "$pid" 2>/dev/null || exit 0
  winpid=$(timeout 20 winedbg --command "info process" 2>/dev/null |
    awk -v exe="'$exe'" 'tolower($NF) == tolower(exe) {print "0x" $1; exit}')
  {
    echo "wine-run: $exe printed its closing line and did not end within $grace s; its threads:"
    [ -n "$winpid" ] && timeout 30 winedbg --command "bt all" "$winpid" 2>&1 |
      awk -v exe="$exe" '/^Backtracing for thread/ {keep = index(tolower($0), tolower(exe)) > 0} keep' |
      head -n 200
  } >"$scratch/threads"
  touch "$scratch/hung"
  kill -KILL "$pid"
) </dev/null >/dev/null 2>&1 &
watch_pid=$!
wait "$pid"
status=$?
kill "$watch_pid" 2>/dev/null
wait "$watch_pid" 2>/dev/null
wait "$tee_pid"
if [ -e "$scratch/hung" ]; then
  cat "$scratch/threads" >&2
  echo "wine-run: exit hang" >&2
  exit 0
fi
exit $status
