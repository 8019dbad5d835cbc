#!/usr/bin/env bash
# Makes the Windows installer zrv-pc-<version>-setup.exe from the folder that
# scripts/package-windows.sh zipped (the same files), with makensis (Debian's nsis).
#   installer-windows.sh [build folder]   (default build/windows); prints the installer's path
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/windows}
version=$(sed -n 's/^project(zrv-pc VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
stage=$(realpath "$build/package/zrv-pc-$version-windows-x64")
[ -f "$stage/zrv-pc.exe" ] || { echo "installer-windows: run scripts/package-windows.sh first ($stage)" >&2; exit 1; }
out=$(realpath "$build/package")/zrv-pc-$version-setup.exe
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# NSIS wants a Windows name inside the installer and the build machine's name to read the file from.
win() { tr / '\\' <<<"$1"; }
{
  while IFS= read -r -d '' dir; do
    rel=${dir#"$stage"}
    echo "SetOutPath \"\$INSTDIR$(win "$rel")\""
    find "$dir" -mindepth 1 -maxdepth 1 -type f -print0 | sort -z | while IFS= read -r -d '' f; do
      echo "File \"$f\""
    done
  done < <(find "$stage" -type d -print0 | sort -z)
  echo 'SetOutPath "$INSTDIR"'
} >"$work/files.nsh"
{
  find "$stage" -type f -printf '%P\n' | sort | while IFS= read -r f; do
    echo "Delete \"\$INSTDIR\\$(win "$f")\""
  done
  # Deepest first, so that each folder is empty when its turn comes.
  find "$stage" -mindepth 1 -type d -printf '%P\n' | sort -r | while IFS= read -r d; do
    echo "RMDir \"\$INSTDIR\\$(win "$d")\""
  done
} >"$work/unfiles.nsh"

size_kb=$(du -sk "$stage" | cut -f1)
makensis -V2 -NOCD -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$out" -DSIZE_KB="$size_kb" \
  -DFILES="$work/files.nsh" -DUNFILES="$work/unfiles.nsh" packaging/windows/zrv-pc.nsi >&2
echo "$out"
