#!/usr/bin/env bash
# Takes the README's picture of zrv-pc-demo.exe from the Windows zip, running under wine on a
# virtual X server (wine's own X11 driver and Qt's Windows platform plugin, as on a Windows desktop).
#   screenshot-windows.sh <unpacked zip folder> <output.png>
# Run after scripts/test-windows.sh (it uses the same wine prefix).
set -euo pipefail
folder=$(realpath "$1")
out=$2
export WINEPREFIX=${ZRV_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/zrv-pc/wine-x64}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WINEQT_QPA_PLATFORM
display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
trap 'kill "$app" 2>/dev/null; wineserver -k 2>/dev/null; kill "$xvfb" 2>/dev/null' EXIT
sleep 2
(cd "$folder" && wine ./zrv-pc-demo.exe </dev/null >/dev/null 2>&1) &
app=$!
# The demo plugs its simulated driver in after one second; give the readings time to move.
sleep "${ZRV_SCREENSHOT_WAIT:-12}"
# The window alone: the rest of the screen is black.
import -window root "$out"
convert "$out" -trim +repage "$out"
echo "$out"
