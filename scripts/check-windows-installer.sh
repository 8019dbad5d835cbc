#!/usr/bin/env bash
# Checks the Windows installer under wine: a silent install (/S) puts exactly the zip's files in the
# user's program folder, the Start menu entries, the uninstaller's entry in Add/Remove Programs and
# the folder on the user's Path (after the entries already there); the programs start from there
# (zrv-cli by its name alone, as from a command prompt); a silent uninstall leaves no file, folder
# or registry entry of ours, and the user's Path as it was.
#   check-windows-installer.sh <setup.exe> <the zip's unpacked folder>
# Uses the wine prefix of scripts/test-windows.sh and leaves it as it found it.
set -uo pipefail
setup=$(realpath "$1")
stage=$(realpath "$2")
export WINEPREFIX=${WINEPREFIX:-${ZRV_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/zrv-pc/wine-x64}}
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

rc=0
fail() {
  echo "check-windows-installer: $*"
  rc=1
}
# wine's programs print CR LF; nothing is read from the terminal.
w() { wine "$@" </dev/null 2>/dev/null | tr -d '\r'; }
unix_path() { winepath -u "$1" 2>/dev/null | tr -d '\r'; }
env_key='HKCU\Environment'
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\ZRV-PC'
user_path() { w reg query "$env_key" /v Path | sed -n 's/^ *Path *REG_[A-Z_]* *//p'; }

# The user's Path before: two entries of their own, which must outlive us in their order.
had_path=$(w reg query "$env_key" /v Path | grep -c ' Path ')
old_path=$(user_path)
own_path='C:\keep\one;C:\keep\two'
w reg add "$env_key" /v Path /t REG_EXPAND_SZ /d "$own_path" /f >/dev/null

local_appdata=$(w cmd /c echo %LOCALAPPDATA%)
programs=$(w cmd /c echo %APPDATA%)'\Microsoft\Windows\Start Menu\Programs'
instdir_win="$local_appdata\\Programs\\ZRV-PC"
instdir=$(unix_path "$instdir_win")
menu=$(unix_path "$programs\\ZRV-PC")
if [ -z "$local_appdata" ] || [ -z "$instdir" ] || [ -z "$menu" ]; then
  echo "check-windows-installer: wine gave no user folders (is $WINEPREFIX a booted prefix?)"
  exit 1
fi
[ -e "$instdir" ] && fail "$instdir_win is there before the install"

t0=$SECONDS
wine "$setup" /S </dev/null >/dev/null 2>&1 || fail "the silent install exited with status $?"
echo "installed in $((SECONDS - t0)) s into $instdir_win"

# Exactly the zip's files, byte for byte, and the uninstaller.
expected=$( (cd "$stage" && find . -type f | sort; echo ./uninstall.exe) | sort)
installed=$( (cd "$instdir" 2>/dev/null && find . -type f | sort))
[ "$expected" = "$installed" ] || fail "the installed files differ from the zip's: $(diff <(echo "$expected") <(echo "$installed") | grep '^[<>]' | head -n 5 | tr '\n' ' ')"
while IFS= read -r f; do
  [ "$f" = ./uninstall.exe ] && continue
  cmp -s "$stage/$f" "$instdir/$f" || fail "$f differs from the zip's copy"
done <<<"$installed"
for lnk in "ZRV-PC.lnk" "ZRV-PC demo.lnk"; do
  [ -f "$menu/$lnk" ] || fail "no Start menu entry $lnk"
done
reg=$(w reg query "$uninstall_key")
grep -q 'DisplayName.*ZRV-PC' <<<"$reg" || fail "no entry in Add/Remove Programs"
grep -qF "UninstallString    REG_SZ    \"$instdir_win\\uninstall.exe\"" <<<"$reg" ||
  fail "the entry's uninstall command is not the installed uninstaller: $(grep UninstallString <<<"$reg")"
path_now=$(user_path)
[ "$path_now" = "$own_path;$instdir_win" ] || fail "the user's Path is '$path_now', not the own entries then the program's folder"

# The programs from the installed place: zrv-cli by name from another folder, and the demo with the
# platform plugin it ships with, on a virtual X server: its window must appear and stay.
cli=$(cd / && w cmd /c "zrv-cli --simulate status")
grep -q '^state:' <<<"$cli" || fail "zrv-cli by name from the Path gave no status: $(head -n 3 <<<"$cli")"
cli=$(w "$instdir_win\\zrv-cli.exe" --simulate list)
grep -q 'ZRVXXX' <<<"$cli" || fail "zrv-cli.exe from the program folder listed no driver"
display=:$((80 + RANDOM % 9))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
sleep 1
demo_err=$(mktemp)
DISPLAY=$display WINEQT_FORCE_STDERR_LOGGING=1 wine "$instdir_win\\zrv-pc-demo.exe" </dev/null >/dev/null 2>"$demo_err" &
demo=$!
shown=0
for _ in $(seq 1 20); do
  if xwininfo -display "$display" -root -tree 2>/dev/null | grep -q 'ZRV-PC.*("zrv-pc-demo.exe"'; then
    shown=1
    break
  fi
  kill -0 $demo 2>/dev/null || break
  sleep 1
done
[ $shown -eq 1 ] || fail "the demo showed no window within 20 s: $(head -c 300 "$demo_err")"
sleep 2
kill -0 $demo 2>/dev/null || fail "the demo ended by itself: $(head -c 300 "$demo_err")"
kill $demo 2>/dev/null
wait $demo 2>/dev/null
kill $xvfb 2>/dev/null
wait $xvfb 2>/dev/null
rm -f "$demo_err"

# The uninstaller copies itself away and returns at once: wait for its work (a minute at most).
t0=$SECONDS
wine "$instdir_win\\uninstall.exe" /S </dev/null >/dev/null 2>&1 || fail "the silent uninstall exited with status $?"
for _ in $(seq 1 60); do
  [ -e "$instdir" ] || [ -e "$menu" ] || break
  sleep 1
done
echo "uninstalled in $((SECONDS - t0)) s"
[ -e "$instdir" ] && fail "left behind: $(cd "$instdir" && find . | head -n 5 | tr '\n' ' ')"
[ -e "$menu" ] && fail "the Start menu folder is left"
w reg query "$uninstall_key" | grep -q . && fail "the Add/Remove Programs entry is left"
path_now=$(user_path)
[ "$path_now" = "$own_path" ] || fail "the user's Path is '$path_now' after the uninstall, not '$own_path'"
# Nothing of ours anywhere in the user's registry or the machine's software keys.
export_dir=$(mktemp -d)
w reg export HKCU "$(winepath -w "$export_dir/hkcu.reg" | tr -d '\r')" /y >/dev/null
w reg export 'HKLM\Software' "$(winepath -w "$export_dir/hklm.reg" | tr -d '\r')" /y >/dev/null
for f in "$export_dir"/*.reg; do
  [ -s "$f" ] || fail "wine exported no registry into $(basename "$f")"
  left=$(iconv -f UTF-16 -t UTF-8 "$f" 2>/dev/null | grep -i 'zrv' | head -n 3)
  [ -z "$left" ] || fail "registry entries left ($(basename "$f")): $left"
done
rm -rf "$export_dir"

# The prefix as it was.
if [ "$had_path" -gt 0 ]; then
  w reg add "$env_key" /v Path /t REG_EXPAND_SZ /d "$old_path" /f >/dev/null
else
  w reg delete "$env_key" /v Path /f >/dev/null
fi
[ $rc -eq 0 ] && echo "check-windows-installer: installed, started, uninstalled, nothing left"
exit $rc
