#!/usr/bin/env bash
# Builds the Debian package and checks it as a distribution would: its files and dependencies, the
# udev rule, lintian, the copyright file against LICENSE, the changelog against the version, the
# AppStream metainfo and the desktop entry; then installs it with apt, starts the installed programs,
# removes and purges it, and checks that nothing of it is left. Needs root (it installs the package).
#   check-package.sh [PACKAGE.deb]   default: the package made here from build/default; given one,
#                                    it checks that (the Debian 13 stage checks ours on Debian 13)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=build/default
fail() { echo "package check FAILED: $*"; exit 1; }
apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 -y -qq "$@"; }
for tool in lintian appstreamcli desktop-file-validate xwininfo Xvfb; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (bash scripts/setup.sh)"
done

if [ $# -gt 0 ]; then
  deb=$1
  [ -f "$deb" ] || fail "no package $deb"
else
  (cd "$build" && cpack -G DEB >/dev/null)
  deb=$(ls "$build"/package/zrv-pc_*_amd64.deb | head -n 1)
  [ -f "$deb" ] || fail "no package built"
fi
echo "package: $deb"
version=$(dpkg-deb -f "$deb" Version)

work=$(mktemp -d)
xvfb=""
cleanup() {
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
tree=$work/tree
dpkg-deb -x "$deb" "$tree"
echo "Installed-Size: $(dpkg-deb -f "$deb" Installed-Size) KiB; unpacked: $(du -sk --apparent-size "$tree" | cut -f1) KiB"

files=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's#^\./#/#')
desktop=$(grep -E '^/usr/share/applications/[^/]+\.desktop$' <<<"$files" || true)
[ "$(wc -l <<<"$desktop")" -eq 1 ] && [ -n "$desktop" ] || fail "not exactly one desktop entry: $desktop"
app_id=$(basename "$desktop" .desktop)
metainfo=/usr/share/metainfo/$app_id.metainfo.xml
programs=$(grep -E '^/usr/bin/[^/]+$' <<<"$files" | xargs -n1 basename)
for f in /usr/bin/zrv-pc /usr/bin/zrv-pc-demo /usr/bin/zrv-uhid-driver "$metainfo" \
         /usr/share/doc/zrv-pc/copyright /usr/share/doc/zrv-pc/changelog.gz \
         /usr/share/icons/hicolor/scalable/apps/zrv-pc.svg \
         /usr/share/icons/hicolor/48x48/apps/zrv-pc.png \
         /usr/share/icons/hicolor/256x256/apps/zrv-pc.png; do
  grep -qx "$f" <<<"$files" || fail "missing $f"
done
for p in $programs; do
  grep -qx "/usr/share/man/man1/$p.1.gz" <<<"$files" || fail "no manual page for $p"
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

rules_file=$(grep -E '^(/usr)?/lib/udev/rules.d/70-zrv-pc.rules$' <<<"$files")
rules=$(cat "$tree$rules_file")
grep -q 'SUBSYSTEM=="hidraw"' <<<"$rules" || fail "rule does not match hidraw"
grep -q 'ATTRS{product}=="ZRVXXX"' <<<"$rules" || fail "rule does not match the driver's product string"
grep -q 'TAG+="uaccess"' <<<"$rules" || fail "rule does not grant uaccess"
[ "$(grep -cv '^\s*\(#\|$\)' <<<"$rules")" -eq 1 ] || fail "rule file matches more than the driver"

# The package's lintian overrides: the one tag whose reason packaging/CMakeLists.txt gives, and no other.
overrides=$(grep -v '^\s*\(#\|$\)' "$tree/usr/share/lintian/overrides/zrv-pc" 2>/dev/null || true)
[ "$overrides" = "zrv-pc: appstream-metadata-missing-modalias-provide ${rules_file#/}" ] \
  || fail "unexpected lintian overrides: $overrides"
echo "--- lintian"
bash tests/packaging/lintian-check.sh "$deb" || fail "lintian"

# The copyright file carries LICENSE's holders and, word for word, its licence text.
copyright=$tree/usr/share/doc/zrv-pc/copyright
head -n 1 "$copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  || fail "copyright file is not in the machine-readable format"
holders=$(sed -n 's/^Copyright (c) //p' LICENSE)
grep -qx "Copyright: $holders" "$copyright" || fail "copyright file does not name '$holders'"
licence_text=$(awk '/^License: Expat$/ {n++; next} n == 2 && /^ / {sub(/^ /, ""); if ($0 == ".") $0 = ""; print}' "$copyright")
diff <(sed -n '/^Permission is hereby granted/,$p' LICENSE) <(printf '%s\n' "$licence_text") >/dev/null \
  || fail "the licence text in the copyright file differs from LICENSE"

changelog_top=$(zcat "$tree/usr/share/doc/zrv-pc/changelog.gz" | head -n 1)
[[ "$changelog_top" == "zrv-pc ($version) "* ]] || fail "changelog's newest entry '$changelog_top' is not version $version"

echo "--- appstreamcli"
appstreamcli validate --no-net "$tree$metainfo" || fail "AppStream metainfo does not validate"
appstreamcli validate-tree --no-net "$tree" || fail "the metainfo does not match the installed desktop entry"
grep -q "<id>$app_id</id>" "$tree$metainfo" || fail "metainfo id is not the desktop entry's $app_id"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$tree$metainfo" || fail "metainfo does not launch $app_id.desktop"
grep -q "<release version=\"$version\"" "$tree$metainfo" || fail "metainfo has no release $version"
for p in $programs; do
  grep -q "<binary>$p</binary>" "$tree$metainfo" || fail "metainfo does not provide $p"
done

# The maintainer scripts tell a running udevd about the rule, and a udevadm that fails, or no udevd
# at all, must not fail the installation. A private mount namespace stands in a socket for udevd.
echo "--- maintainer scripts"
dpkg-deb -e "$deb" "$work/control"
mkdir -p "$work/bin"
printf '#!/bin/sh\necho "$*" >>"%s"\nexit 1\n' "$work/udevadm.log" >"$work/bin/udevadm"
chmod +x "$work/bin/udevadm"
for script in postinst postrm; do
  [ -x "$work/control/$script" ] || fail "no $script"
  for udevd in running absent; do
    : >"$work/udevadm.log"
    if ! unshare --mount sh -c '
        mount -t tmpfs none /run && mkdir /run/udev
        [ "$1" = absent ] || python3 -c "import socket; socket.socket(socket.AF_UNIX).bind(\"/run/udev/control\")"
        PATH="$2:$PATH" "$3" configure' sh "$udevd" "$work/bin" "$work/control/$script"; then
      fail "$script fails with udevd $udevd"
    fi
    if [ $udevd = running ]; then
      grep -qx 'control --reload-rules' "$work/udevadm.log" || fail "$script does not reload the udev rules"
      grep -qx 'trigger --subsystem-match=hidraw --action=change' "$work/udevadm.log" \
        || fail "$script does not apply the rule to the hidraw nodes"
    else
      [ ! -s "$work/udevadm.log" ] || fail "$script calls udevadm without udevd"
    fi
  done
done

# A clean start: the same version already installed would not be unpacked again.
status() { dpkg-query -W -f='${Status}' zrv-pc 2>/dev/null || true; }
if [ -n "$(status)" ] && [ "$(status)" != "unknown ok not-installed" ]; then apt_get purge zrv-pc >/dev/null; fi
apt_get install "$(realpath "$deb")" >/dev/null || fail "apt could not install the package"
env -u DISPLAY -u WAYLAND_DISPLAY zrv-cli status --json --simulate >/dev/null || fail "the installed zrv-cli does not run without a display"
echo "--- desktop-file-validate"
desktop-file-validate "$desktop" || fail "desktop entry does not validate"
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -n "$exec_line" ] || fail "desktop entry has no Exec line"
[ -f "/usr/share/icons/hicolor/256x256/apps/$icon.png" ] || fail "desktop entry icon not installed"
bin=$(command -v "${exec_line%% *}") || fail "Exec program '${exec_line%% *}' not on PATH"
[ "$bin" = /usr/bin/zrv-pc ] || fail "Exec resolves to $bin"
for p in $programs; do
  man -w "$p" >/dev/null 2>&1 || fail "man does not find the page of $p"
done

# The window program takes nothing from its command line, so it is started as the desktop entry
# starts it and must show its window.
display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
sleep 1
# Waits until program $1 (started as the rest of the arguments) shows a window whose name contains $2.
shows_window() {
  local title=$1 found="" app
  shift
  DISPLAY=$display "$@" >"$work/app.log" 2>&1 &
  app=$!
  for _ in $(seq 1 50); do
    if DISPLAY=$display xwininfo -root -tree 2>/dev/null | grep -qF "$title"; then found=yes; break; fi
    kill -0 $app 2>/dev/null || break
    sleep 0.2
  done
  kill $app 2>/dev/null || true
  wait $app 2>/dev/null || true
  [ -n "$found" ] || { cat "$work/app.log"; return 1; }
}
shows_window 'Kalvor ZRV-PC - DC motor driver  1.02' $exec_line || fail "the installed tool did not open its window"
shows_window 'Kalvor ZRV-PC - DC motor driver  1.02' zrv-pc-demo || fail "the installed demo did not open its window"
zrv-uhid-driver --help | grep -q -- '--lively' || fail "zrv-uhid-driver --help does not list its options"

echo "--- remove and purge"
apt_get remove zrv-pc >/dev/null || fail "apt could not remove the package"
apt_get purge zrv-pc >/dev/null || fail "apt could not purge the package"
case "$(status)" in "" | "unknown ok not-installed") ;; *) fail "dpkg still knows the package: $(status)" ;; esac
left=()
while read -r f; do
  [ -n "$f" ] || continue
  f=${f%/}
  [ -n "$f" ] || continue
  if [ -d "$f" ] && [ ! -L "$f" ]; then
    # A directory another package owns, or that holds what others put there, may stay.
    dpkg-query -S "$f" >/dev/null 2>&1 && continue
    [ -z "$(ls -A "$f")" ] && left+=("$f/")
  elif [ -e "$f" ] || [ -L "$f" ]; then
    left+=("$f")
  fi
done <<<"$files"
ls /var/lib/dpkg/info/zrv-pc.* >/dev/null 2>&1 && left+=(/var/lib/dpkg/info/zrv-pc.*)
[ ${#left[@]} -eq 0 ] || fail "left behind after purge: ${left[*]}"
echo "package check passed: files, Depends, udev rule, lintian, copyright, changelog, AppStream, install, desktop entry, programs start, remove, purge"
