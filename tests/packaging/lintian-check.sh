#!/usr/bin/env bash
# Runs lintian on one Debian package with the rules every package of this project is held to: all
# tags shown (informational and pedantic too), and any error or warning fails. Used by the package
# check of every architecture we build.
#   usage: lintian-check.sh PACKAGE.deb
set -euo pipefail
[ $# -eq 1 ] && [ -f "$1" ] || { echo "usage: $0 PACKAGE.deb" >&2; exit 2; }
command -v lintian >/dev/null || { echo "lintian-check: lintian is not installed" >&2; exit 2; }

# Nothing is suppressed here, so a new error or warning can never hide behind an old reason. The
# package carries one override of its own, for one tag on one file, with its reason
# (packaging/CMakeLists.txt); it is shown (O:) with the rest. The one informational tag kept,
# hardening-no-fortify-functions: our compile flags do not define _FORTIFY_SOURCE (a distribution's
# build adds it through its own flags).
out=$(lintian --display-info --pedantic --show-overrides --tag-display-limit 0 "$1" 2>&1 \
  | grep -v '^running with root privileges is not recommended!$' || true)
[ -z "$out" ] || printf '%s\n' "$out"
if grep -qE '^[EW]: ' <<<"$out"; then
  echo "lintian-check: $(grep -cE '^E: ' <<<"$out" || true) errors, $(grep -cE '^W: ' <<<"$out" || true) warnings in $(basename "$1")"
  exit 1
fi
# lintian itself failing (unreadable package, broken installation) prints no tag but must not pass.
lintian --fail-on none "$1" >/dev/null 2>&1 || { echo "lintian-check: lintian could not check $1"; exit 1; }
echo "lintian-check: no errors or warnings in $(basename "$1")"
