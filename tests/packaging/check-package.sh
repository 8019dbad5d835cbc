#!/usr/bin/env bash
# Builds the Debian package, checks its files and dependencies, installs it with apt, and starts the
# installed tool the way the desktop entry does, under Xvfb. Needs root (it installs the package).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=build/default
fail() { echo "package check FAILED: $*"; exit 1; }

(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/package/zrv-pc_*_amd64.deb | head -n 1)
[ -f "$deb" ] || fail "no package built"
echo "package: $deb"

files=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's#^\./#/#')
for f in /usr/bin/zrv-pc /usr/bin/zrv-pc-demo /usr/share/applications/zrv-pc.desktop \
         /usr/share/icons/hicolor/scalable/apps/zrv-pc.svg \
         /usr/share/icons/hicolor/48x48/apps/zrv-pc.png \
         /usr/share/icons/hicolor/256x256/apps/zrv-pc.png; do
  grep -qx "$f" <<<"$files" || fail "missing $f"
done
grep -qE '^/usr/lib/udev/rules.d/70-zrv-pc.rules$|^/lib/udev/rules.d/70-zrv-pc.rules$' <<<"$files" \
  || fail "missing the udev rule"
for f in /usr/bin/zrv-cli /usr/share/bash-completion/completions/zrv-cli; do
  grep -qx "$f" <<<"$files" || fail "missing $f"
done
# Nothing of the build tree or the tests may leak into the package.
if grep -qiE 'gtest|bench|/tests?/|\.a$|\.h$' <<<"$files"; then fail "unexpected files in the package"; fi

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libqt6widgets6 libqt6gui6 libqt6core6 libudev1 libc6 libstdc++6; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib"
done

rules=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO --wildcards '*70-zrv-pc.rules')
grep -q 'SUBSYSTEM=="hidraw"' <<<"$rules" || fail "rule does not match hidraw"
grep -q 'ATTRS{product}=="ZRVXXX"' <<<"$rules" || fail "rule does not match the driver's product string"
grep -q 'TAG+="uaccess"' <<<"$rules" || fail "rule does not grant uaccess"
[ "$(grep -cv '^\s*\(#\|$\)' <<<"$rules")" -eq 1 ] || fail "rule file matches more than the driver"

DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$deb" >/dev/null
env -u DISPLAY -u WAYLAND_DISPLAY zrv-cli status --json --simulate >/dev/null || fail "the installed zrv-cli does not run without a display"
desktop=/usr/share/applications/zrv-pc.desktop
command -v desktop-file-validate >/dev/null && desktop-file-validate "$desktop"
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -n "$exec_line" ] || fail "desktop entry has no Exec line"
[ -f "/usr/share/icons/hicolor/256x256/apps/$icon.png" ] || fail "desktop entry icon not installed"
bin=$(command -v "${exec_line%% *}") || fail "Exec program '${exec_line%% *}' not on PATH"
[ "$bin" = /usr/bin/zrv-pc ] || fail "Exec resolves to $bin"

display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
sleep 1
DISPLAY=$display $exec_line >/tmp/zrv-pc-installed.log 2>&1 &
app=$!
found=""
for _ in $(seq 1 50); do
  if DISPLAY=$display xwininfo -root -tree 2>/dev/null | grep -q 'Kalvor ZRV-PC - DC motor driver  1.02'; then
    found=yes; break
  fi
  kill -0 $app 2>/dev/null || break
  sleep 0.2
done
kill $app 2>/dev/null || true
wait $app 2>/dev/null || true
[ -n "$found" ] || { cat /tmp/zrv-pc-installed.log; fail "the installed tool did not open its window"; }
echo "package check passed: files, Depends, udev rule, install, desktop entry start"
